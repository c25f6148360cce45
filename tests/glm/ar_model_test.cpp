#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "glm/ar_model.h"
#include "glm/fit.h"
#include "numerics/matrix_inverse.h"
#include "test_model.h"

namespace {

std::int16_t filter(std::vector<float> coeff) {
    std::int16_t order = -1;
    EXPECT_EQ(GLM_calculate_whitening_filter(static_cast<int>(coeff.size()), coeff.data(), &order), 0);
    return order;
}

void expect_ar1_band(float r) {
    const float a = 1.0f / std::sqrt(1.0f - r * r), b = -r / std::sqrt(1.0f - r * r);
    float **W = GLM.whitening_matrix;
    EXPECT_EQ(W[0][0], 1.0f);
    EXPECT_EQ(W[0][1], 0.0f);
    for (int t = 1; t < GLM.ntime; ++t) {
        EXPECT_NEAR(W[t][t], a, 1e-6) << t;
        EXPECT_NEAR(W[t][t - 1], b, 1e-6) << t;
        if (t >= 2) {
            EXPECT_EQ(W[t][t - 2], 0.0f) << t;
        }
    }
}

}  // namespace

TEST(ArModel, FilterTapsAndOrderLowering) {
    TestModel m(10, 1, 1, 1, 2);
    ASSERT_EQ(m.build(), 0);
    GLM_input.AR_order = 1;
    EXPECT_EQ(filter({1, 0.6f}), 1);
    expect_ar1_band(0.6f);
    std::vector<float> y = {1, 2, 0, 0, 0, 0, 0, 0, 0, 3};
    GLMInternal_whiten_data(y.data());
    EXPECT_FLOAT_EQ(y[1], (2 - 0.6f) / 0.8f);
    EXPECT_FLOAT_EQ(y[9], 3 / 0.8f);
    EXPECT_EQ(filter({1, 1.5f}), 0);  // not positive definite
    EXPECT_EQ(GLM.whitening_order, 0);
    for (int t = 1; t < 10; ++t) EXPECT_EQ(GLM.whitening_matrix[t][t - 1], 0.0f);
    std::vector<float> before = y;
    GLMInternal_whiten_data(y.data());
    EXPECT_EQ(y, before);
    // A remainder of exactly 0 lowers the order too: rho = (1, 0.5, 1) leaves
    // 0 on the last diagonal, and the AR(1) filter of 0.5 remains.
    GLM_input.AR_order = 2;
    EXPECT_EQ(filter({1, 0.5f, 1}), 1);
    expect_ar1_band(0.5f);
    testing::internal::CaptureStdout();
    std::int16_t order;
    const float three[3] = {1, 0, 0};
    EXPECT_EQ(GLM_calculate_whitening_filter(2, three, &order), 1);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error calculating whitening filter: AR dimension (2)\nis inconsistent with AR order (2)\n");
}

TEST(ArModel, WhitenedDesignFollowsTheFilterAndReturnsToTheSavedDesign) {
    TestModel m(12, 3, 1, 2, 1);
    ASSERT_EQ(m.build(), 0);
    filter({1, 0.4f});
    GLMInternal_whiten_model(0);
    float **W = GLM.whitening_matrix;
    EXPECT_FLOAT_EQ(GLM.design_matrix[5][1],
                    W[5][4] * GLM.design_unmasked[4][1] + W[5][5] * GLM.design_unmasked[5][1]);
    filter({1, -1.2f});
    GLMInternal_whiten_model(0);
    for (int t = 0; t < 12; ++t)
        for (int b = 0; b < 3; ++b) ASSERT_EQ(GLM.design_matrix[t][b], GLM.design_unmasked[t][b]);
}

TEST(ArModel, BiasReductionAndEstimateAgreeWithTheirDefinitions) {
    const int n = 14, p = 2;
    TestModel m(n, 3, 1, 3, p);
    GLM.include[5] = 0;
    testing::internal::CaptureStdout();
    ASSERT_EQ(m.build(), 0);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\rCalculating AR bias reduction matrix for row 0 ...\rCalculating AR bias reduction matrix for row 1 "
              "...\rCalculating AR bias reduction matrix for row 2 ...\n");
    // Residual-forming matrix of the masked design, in double precision.
    std::vector<std::vector<double>> R(n, std::vector<double>(n));
    double **XtX = double_matrix(3, 3);
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            XtX[a][b] = 0;
            for (int t = 0; t < n; ++t) XtX[a][b] += (double)GLM.design_matrix[t][a] * GLM.design_matrix[t][b];
        }
    int ierr;
    ASSERT_EQ(dInvertSquareMatrix(3, XtX, &ierr), 0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double h = 0;
            for (int a = 0; a < 3; ++a)
                for (int b = 0; b < 3; ++b) h += GLM.design_matrix[i][a] * XtX[a][b] * GLM.design_matrix[j][b];
            R[i][j] = (i == j ? GLM.include[i] : 0) - GLM.include[i] * GLM.include[j] * h;
            ASSERT_NEAR(GLM.residual_matrix[i][j], R[i][j], 1e-5) << i << " " << j;
        }
    free_double_matrix(XtX, 3);
    // M[l][m] = trace(A_l B_m) with the matrices formed in full.
    auto at = [&](int i, int j) { return (j >= 0 && j < n) ? R[i][j] : 0.0; };
    double **M = double_matrix(p + 1, p + 1);
    for (int l = 0; l <= p; ++l)
        for (int mm = 0; mm <= p; ++mm) {
            double tr = 0;
            for (int i = 0; i < n; ++i)
                for (int k = 0; k < n; ++k) {
                    const double B = mm == 0 ? (k == i) * GLM.include[k] : at(k, i - mm) + at(k, i + mm);
                    tr += at(i, k - l) * B;
                }
            M[l][mm] = tr;
        }
    ASSERT_EQ(dInvertSquareMatrix(p + 1, M, &ierr), 0);
    for (int l = 0; l <= p; ++l)
        for (int mm = 0; mm <= p; ++mm) EXPECT_NEAR(GLM.AR_mixing_matrix[l][mm], M[l][mm], 1e-4 * std::fabs(M[l][mm]) + 1e-6);
    // Autocorrelation estimate of a series, from R (include y) directly.
    Lcg rng(17);
    std::vector<float> y(n);
    std::vector<double> e(n, 0.0), a(p + 1, 0.0);
    for (float &v : y) v = 5 + rng.next();
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) e[i] += R[i][j] * GLM.include[j] * y[j];
    for (int l = 0; l <= p; ++l)
        for (int t = l; t < n; ++t) a[l] += e[t] * e[t - l];
    std::vector<float> coeff(p + 1);
    ASSERT_EQ(GLM_calculate_AR_coefficient(n, y.data(), p, coeff.data()), 0);
    const double c0 = M[0][0] * a[0] + M[0][1] * a[1] + M[0][2] * a[2];
    EXPECT_EQ(coeff[0], 1.0f);
    for (int l = 1; l <= p; ++l)
        EXPECT_NEAR(coeff[l], (M[l][0] * a[0] + M[l][1] * a[1] + M[l][2] * a[2]) / c0, 1e-4);
    free_double_matrix(M, p + 1);
    // No residual at all: the lag-0 value 0 is not divided by.
    std::vector<float> zero(n, 0.0f);
    ASSERT_EQ(GLM_calculate_AR_coefficient(n, zero.data(), p, coeff.data()), 0);
    EXPECT_EQ(coeff, std::vector<float>({1, 0, 0}));
}

TEST(ArModel, EstimateChecksItsArguments) {
    TestModel m(10, 2, 1, 4, 1);
    testing::internal::CaptureStdout();
    ASSERT_EQ(m.build(), 0);
    std::vector<float> y(10, 1.0f), coeff = {7, 7};
    EXPECT_EQ(GLM_calculate_AR_coefficient(9, y.data(), 1, coeff.data()), 1);
    EXPECT_EQ(GLM_calculate_AR_coefficient(10, y.data(), 2, coeff.data()), 1);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nError calculating AR coefficient: nt (9,10) is inconsistent.\n"
              "Error calculating AR coefficient: order (2,1) is inconsistent.\n");
    GLM_input.AR_order = 0;
    EXPECT_EQ(GLM_calculate_AR_coefficient(10, y.data(), 0, coeff.data()), 0);
    EXPECT_EQ(coeff, std::vector<float>({7, 7}));
    GLM_input.AR_order = 1;  // for the release of the mixing matrix
}
