// Conditions: the statistical tests named on the conditions line, each an
// integer contrast over the event columns of the design matrix.
#include "glm/conditions.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "glm/fit_context.h"
#include "glm/state.h"
#include "glm/statistics.h"
#include "numerics/arrays.h"

namespace {

// Words are separated by blanks, tabs and line ends (also the carriage return
// of a file written with DOS line ends, and the other C white-space bytes).
bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

struct Word {
    const char *start;
    std::size_t length;
};

void release_conditions() {
    for (int c = 0; c < MAX_CONDITIONS; ++c) {
        const int rows = GLM.condition_nrows[c];
        if (GLM.contrast[c]) free_int_matrix(GLM.contrast[c], rows);
        GLM.contrast[c] = nullptr;
    }
    GLM.nconditions = 0;
}

// A row whose share of its own variance that the earlier rows do not explain
// falls to this fraction is taken as a combination of them. The covariances
// are single-precision sums, so exactly dependent rows leave a remainder of a
// few float roundings (about 1e-7); a legitimate contrast this close to
// dependent could not be tested in single precision anyway.
constexpr double DEPENDENT_ROW_REMAINDER = 1e-5;

// Whether a q x q contrast covariance can be inverted: a Cholesky
// factorisation in double precision of the covariance scaled to unit diagonal.
// A zero (or non-finite) diagonal, as from a row without events, fails at
// once; a row that is a combination of earlier rows leaves a remainder near 0.
bool covariance_invertible(float **covariance, int q) {
    std::vector<double> scale(static_cast<std::size_t>(q));
    for (int i = 0; i < q; ++i) {
        const double d = covariance[i][i];
        if (!(d > 0.0) || !std::isfinite(d)) return false;
        scale[i] = 1.0 / std::sqrt(d);
    }
    std::vector<double> L(static_cast<std::size_t>(q) * q, 0.0);
    for (int j = 0; j < q; ++j) {
        for (int i = j; i < q; ++i) {
            double r = static_cast<double>(covariance[i][j]) * scale[i] * scale[j];
            for (int k = 0; k < j; ++k) r -= L[i * q + k] * L[j * q + k];
            if (i == j) {
                if (!(r > DEPENDENT_ROW_REMAINDER)) return false;
                L[j * q + j] = std::sqrt(r);
            } else {
                L[i * q + j] = r / L[j * q + j];
            }
        }
    }
    return true;
}

}  // namespace

int GLM_define_conditions(int define, const char *text, int *count) {
    release_conditions();
    if (!text) text = "";

    // Split the text into words, refusing more conditions or longer words
    // than the model state holds before anything is stored.
    std::vector<Word> words;
    for (const char *p = text; *p;) {
        while (*p && is_separator(*p)) ++p;
        if (!*p) break;
        const char *start = p;
        while (*p && !is_separator(*p)) ++p;
        const std::size_t length = static_cast<std::size_t>(p - start);
        if (words.size() == static_cast<std::size_t>(MAX_CONDITIONS)) {
            std::printf("Error: too many conditions (at most %d).\n", MAX_CONDITIONS);
            *count = 0;
            return 1;
        }
        if (length >= static_cast<std::size_t>(NAME_SIZE)) {
            std::printf("Error: the condition %.40s... is longer than %d characters.\n", start, NAME_SIZE - 1);
            *count = 0;
            return 1;
        }
        words.push_back({start, length});
    }
    if (words.empty()) {
        *count = 0;
        return 0;
    }

    // Contrast columns: one per basis function. Before the design exists the
    // event columns are still given room, so no event index writes past a row.
    const int ncols = GLM.nbasis > GLM.nevents ? GLM.nbasis : GLM.nevents;

    // First pass: rows per condition and the zeroed contrast matrices.
    for (const Word &w : words) {
        const int c = GLM.nconditions;
        int rows = 1;
        for (std::size_t i = 0; i < w.length; ++i)
            if (w.start[i] == ',') ++rows;
        GLM.condition_nrows[c] = rows;
        if (define) {
            GLM.contrast[c] = int_matrix(rows, ncols);
            for (int r = 0; r < rows; ++r)
                for (int b = 0; b < ncols; ++b) GLM.contrast[c][r][b] = 0;
        }
        ++GLM.nconditions;
    }
    *count = GLM.nconditions;

    // Second pass: texts and coefficients.
    for (int c = 0; c < GLM.nconditions; ++c) {
        const Word &w = words[c];
        std::memcpy(GLM.condition_string[c], w.start, w.length);
        GLM.condition_string[c][w.length] = '\0';
        if (!define) continue;
        int row = 0, sign = 1;
        for (std::size_t i = 0; i < w.length; ++i) {
            const char ch = w.start[i];
            if (ch == ',') {
                ++row;
                sign = 1;
                continue;
            }
            if (ch == '-') {
                sign = -1;
                continue;
            }
            const int number = GLM_EventNumberFromCharID(ch);
            bool found = false;
            if (number > 0)
                for (int k = 0; k < GLM.nevents; ++k)
                    if (GLM.event_number[k] == number) {
                        GLM.contrast[c][row][k] += sign;
                        found = true;
                    }
            if (!found) {
                if (number > 0)
                    std::printf("Error: one of the events in the conditions (%c) is not defined.\n", ch);
                else
                    std::printf("Error: event type %c is not allowed.\n", ch);
                return 1;
            }
        }
    }

    if (define && GLM.initialized == 2) {
        GLM_calc_covariance_matrix();
        // A condition whose covariance is singular would give meaningless F
        // values at every voxel: refuse it here, once, instead.
        for (int c = 0; c < GLM.nconditions; ++c) {
            if (!covariance_invertible(fit_context.contrast_covariance[c].get(), GLM.condition_nrows[c])) {
                std::printf("Error: condition %s has linearly dependent contrast rows and cannot be tested.\n",
                            GLM.condition_string[c]);
                return 1;
            }
        }
    }
    return 0;
}
