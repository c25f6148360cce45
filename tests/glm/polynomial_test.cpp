#include <gtest/gtest.h>

#include <vector>

#include "glm/polynomial.h"
#include "glm/state.h"
#include "support/exit_output.h"
#include "numerics/arrays.h"

namespace {

TEST(Polynomial, TermCountAndPointCountAreChecked) {
    std::vector<float> w(10, 1.0f), y(10, 0.0f), fit(10);
    testing::internal::CaptureStdout();
    EXPECT_EQ(PolynomialDefineGLM(0, 10, w.data()), 1);
    EXPECT_EQ(PolynomialDefineGLM(5, 10, w.data()), 1);
    EXPECT_EQ(PolynomialDefineGLM(2, 1, w.data()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: the order of the polynomial (0) must be >= 1.\n"
              "Error: the order of the polynomial (5) must be <= 3.\n"
              "Error: the # of points (1) must be >= 2.\n");
    EXPECT_EQ(PolynomialDefineGLM(4, 10, w.data()), 0);  // four terms are allowed
    testing::internal::CaptureStdout();
    EXPECT_EQ(PolynomialRemoveGLM(0, 9, y.data(), fit.data()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: # time points (9) does not match GLM (10) in PolynomialRemoveGLM()\n");
    EXPECT_EXIT_PRINTS(PolynomialFitGLM(11, y.data(), fit.data()), 1,
                "does not match the number in the GLM \\(10\\)");
}

TEST(Polynomial, CubicIsRecoveredAndWeightsSelectPoints) {
    const int n = 20;
    std::vector<float> w(n, 1.0f), y(n), fit(n);
    for (int i = 0; i < n; ++i) {
        const double x = double(i) / n;
        y[i] = float(2.0 + 3.0 * (x - 0.5) - 4.0 * (x * x - 1.0 / 3) + 5.0 * (x * x * x - 0.25));
    }
    // A wild value with weight 0 must not disturb the fit.
    y[7] = 1000.0f;
    w[7] = 0.0f;
    ASSERT_EQ(PolynomialDefineGLM(4, n, w.data()), 0);
    ASSERT_EQ(PolynomialFitGLM(n, y.data(), fit.data()), 0);
    EXPECT_NEAR(PolynomialCoefficientGLM(0), 2.0, 1e-4);
    EXPECT_NEAR(PolynomialCoefficientGLM(1), 3.0, 1e-4);
    EXPECT_NEAR(PolynomialCoefficientGLM(2), -4.0, 1e-3);
    EXPECT_NEAR(PolynomialCoefficientGLM(3), 5.0, 1e-3);

    // Removing terms 1..3 leaves the constant in fit and strips the trend from y.
    ASSERT_EQ(PolynomialRemoveGLM(1, n, y.data(), fit.data()), 0);
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(fit[i], 2.0f, 1e-4) << i;
        if (i != 7) {
            EXPECT_NEAR(y[i], 2.0f, 1e-4) << i;
        }
    }
}

class TableDrift : public testing::Test {
protected:
    void SetUp() override {
        GLM_reset_model_state();
        GLM.table[0] = float_matrix(MAX_TABLE_COLUMNS, 6);
        GLM.table_nrows[0] = 6;
        GLM.table_ncols[0] = 1;
    }
    float *column() { return GLM.table[0][0]; }
};

TEST_F(TableDrift, OneTermRemovesTheMeanOfTheNonZeroEntries) {
    const float values[6] = {0, 2, 4, 0, 6, 4};
    for (int i = 0; i < 6; ++i) column()[i] = values[i];
    GLMInternal_drift_correct_table(0, 0, 1);
    const float expected[6] = {-4, -2, 0, -4, 2, 0};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(column()[i], expected[i], 1e-5) << i;
}

TEST_F(TableDrift, ZeroEntriesGetMinusTheFittedLineAndZeroTermsChangeNothing) {
    for (int i = 0; i < 6; ++i) column()[i] = (i == 1 || i == 4) ? 0.0f : float(3.0 + 5.0 * (i / 6.0 - 0.5));
    GLMInternal_drift_correct_table(0, 0, 0);
    EXPECT_EQ(column()[1], 0.0f);
    GLMInternal_drift_correct_table(0, 0, 2);
    for (int i = 0; i < 6; ++i) {
        const float line = float(3.0 + 5.0 * (i / 6.0 - 0.5));
        EXPECT_NEAR(column()[i], (i == 1 || i == 4) ? -line : 0.0f, 1e-5) << i;
    }
}

TEST_F(TableDrift, AColumnOfZerosStaysZero) {
    for (int i = 0; i < 6; ++i) column()[i] = 0.0f;
    GLMInternal_drift_correct_table(0, 0, 3);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(column()[i], 0.0f);
}

}  // namespace
