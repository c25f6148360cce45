// Numerical rank of the design: a test that does not depend on the scale
// of the columns, and the two columns that a dependence involves.
#include <cmath>
#include <vector>

#include "glm/fit.h"
#include "glm/state.h"
#include "numerics/arrays.h"

int GLMInternal_find_dependent_columns(float **design, int *first, int *second, bool skip_zero_columns) {
    const int nb = GLM.nbasis, nt = GLM.ntime;
    // Normal matrix of the design with its columns scaled to unit length,
    // so that the test does not depend on the columns' units. A Cholesky
    // factorisation in column order: the squared pivot of column j is 1 - R^2
    // of column j regressed on the columns before it.
    // Work storage kept between calls (per thread): with a band filter the
    // test runs for every voxel whose whitened design is new.
    thread_local OwnedMatrix<double> S, L;
    thread_local std::vector<double> scale, c;
    if (S.rows() != nb) S = OwnedMatrix<double>(nb, nb), L = OwnedMatrix<double>(nb, nb);
    scale.resize(nb);
    c.resize(nb);
    for (int i = 0; i < nb; ++i)
        for (int j = 0; j <= i; ++j) {
            double sum = 0.0;
            for (int t = 0; t < nt; ++t) sum += static_cast<double>(design[t][i]) * design[t][j];
            S[i][j] = S[j][i] = sum;
        }
    for (int i = 0; i < nb; ++i) scale[i] = S[i][i] > 0.0 ? 1.0 / std::sqrt(S[i][i]) : 0.0;
    constexpr double kThreshold = 1e-6;  // R^2 above 1 - 1e-6: a correlation beyond 0.9999995
    for (int j = 0; j < nb; ++j) {
        for (int i = 0; i < j; ++i) {
            double r = S[j][i] * scale[i] * scale[j];
            for (int k = 0; k < i; ++k) r -= L[j][k] * L[i][k];
            L[j][i] = r / L[i][i];
        }
        if (skip_zero_columns && scale[j] == 0.0) {
            for (int i = 0; i < j; ++i) L[j][i] = 0.0;
            L[j][j] = 1.0;
            continue;
        }
        double pivot = scale[j] > 0.0 ? 1.0 : 0.0;
        for (int k = 0; k < j; ++k) pivot -= L[j][k] * L[j][k];
        if (pivot >= kThreshold) {
            L[j][j] = std::sqrt(pivot);
            continue;
        }
        // Column j lies (nearly) in the span of the columns before it. Its
        // partner is the earlier column of largest weight in that
        // combination: solve L L' c = (scaled) S[0..j-1][j].
        *second = j;
        *first = j > 0 ? 0 : (nb > 1 ? 1 : 0);
        if (scale[j] > 0.0 && j > 0) {
            for (int i = 0; i < j; ++i) {
                double r = L[j][i] * L[i][i];
                for (int k = 0; k < i; ++k) r -= L[i][k] * c[k];
                c[i] = r / L[i][i];
            }
            for (int i = j - 1; i >= 0; --i) {
                double r = c[i];
                for (int k = i + 1; k < j; ++k) r -= L[k][i] * c[k];
                c[i] = r / L[i][i];
            }
            for (int i = 1; i < j; ++i)
                if (std::fabs(c[i]) > std::fabs(c[*first])) *first = i;
        }
        return 1;
    }
    return 0;
}
