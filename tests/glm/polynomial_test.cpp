#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "glm/polynomial.h"
#include "glm/state.h"
#include "numerics/arrays.h"

namespace {

TEST(Polynomial, CubicIsRecoveredAndWeightsSelectPoints) {
    const int n = 20;
    std::vector<float> w(n, 1.0f), y(n), fit(n);
    for (int i = 0; i < n; ++i) {
        const double x = double(i) / n;
        y[i] = float(2.0 + 3.0 * (x - 0.5) - 4.0 * (x * x - 1.0 / 3) + 5.0 * (x * x * x - 0.25));
    }
    y[7] = 1000.0f;  // a wild value of weight 0 does not disturb the fit
    w[7] = 0.0f;
    ASSERT_EQ(PolynomialDefineGLM(4, n, w.data()), 0);
    ASSERT_EQ(PolynomialFitGLM(n, y.data(), fit.data()), 0);
    const double want[4] = {2, 3, -4, 5};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(PolynomialCoefficientGLM(k), want[k], 1e-3) << k;
    // Removing terms 1..3 leaves the constant in fit and strips the trend from y.
    ASSERT_EQ(PolynomialRemoveGLM(1, n, y.data(), fit.data()), 0);
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(fit[i], 2.0f, 1e-4) << i;
        EXPECT_TRUE(i == 7 || std::fabs(y[i] - 2.0f) < 1e-4f) << i;
    }
}

// A table column drift-corrected with 0 to 3 terms fitted to its non-zero
// entries: those keep their deviation from the fit, zeros get minus the fit.
TEST(Polynomial, TableDriftIsFittedToTheNonZeroEntries) {
    std::vector<float> line(6);
    for (int i = 0; i < 6; ++i) line[i] = (i == 1 || i == 4) ? 0.0f : float(3.0 + 5.0 * (i / 6.0 - 0.5));
    const struct {
        std::vector<float> in;
        int terms;
        std::vector<float> out;
    } cases[] = {{{0, 2, 4, 0, 6, 4}, 1, {-4, -2, 0, -4, 2, 0}},
                 {line, 0, line},
                 {line, 2, {0, -4.0f / 3, 0, 0, -23.0f / 6, 0}},
                 {std::vector<float>(6, 0.0f), 3, std::vector<float>(6, 0.0f)}};
    for (const auto &c : cases) {
        GLM_reset_model_state();
        GLM.table[0] = float_matrix(MAX_TABLE_COLUMNS, 6);
        GLM.table_nrows[0] = 6, GLM.table_ncols[0] = 1;
        std::copy(c.in.begin(), c.in.end(), GLM.table[0][0]);
        GLMInternal_drift_correct_table(0, 0, c.terms);
        for (int i = 0; i < 6; ++i) EXPECT_NEAR(GLM.table[0][0][i], c.out[i], 1e-5) << c.terms << " " << i;
    }
}

}  // namespace
