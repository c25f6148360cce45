#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "numerics/matrix_inverse.h"
#include "test_model.h"

namespace {

std::int16_t filter(std::vector<float> coeff) {
    std::int16_t order = -1;
    EXPECT_EQ(GLM_calculate_whitening_filter(static_cast<int>(coeff.size()), coeff.data(), &order), 0);
    return order;
}

// First row [1, 0, ...], then the AR(1) taps 1/sqrt(1-r^2) and -r/sqrt(1-r^2).
void expect_ar1_band(float r) {
    auto W = GLM_whitening_entry;
    EXPECT_EQ(W(0, 0), 1.0f);
    EXPECT_EQ(W(0, 1), 0.0f);
    for (int t = 1; t < GLM.ntime; ++t) {
        EXPECT_NEAR(W(t, t), 1 / std::sqrt(1 - r * r), 1e-6) << t;
        EXPECT_NEAR(W(t, t - 1), -r / std::sqrt(1 - r * r), 1e-6) << t;
        EXPECT_TRUE(t < 2 || W(t, t - 2) == 0.0f) << t;
    }
}

}  // namespace

TEST(ArModel, FilterTapsOrderLoweringAndWhitening) {
    TestModel m(10, 2, 1, 1, 2);
    stdout_of([&] { ASSERT_EQ(m.build(), 0); });
    GLM_input.AR_order = 1;
    EXPECT_EQ(filter({1, 0.6f}), 1);
    expect_ar1_band(0.6f);
    std::vector<float> y = {1, 2, 0, 0, 0, 0, 0, 0, 0, 3};
    GLMInternal_whiten_data(y.data());
    EXPECT_FLOAT_EQ(y[1], (2 - 0.6f) / 0.8f);
    EXPECT_FLOAT_EQ(y[9], 3 / 0.8f);
    GLMInternal_whiten_model(0);
    auto W = GLM_whitening_entry;
    float **X = GLM.design_unmasked;
    EXPECT_FLOAT_EQ(fit_context.design_matrix[5][0], W(5, 4) * X[4][0] + W(5, 5) * X[5][0]);
    // |rho1| > 1: order 0, the identity, and the design returns to the saved one.
    EXPECT_EQ(filter({1, 1.5f}), 0);
    EXPECT_EQ(fit_context.whitening_order, 0);
    const std::vector<float> before = y;
    GLMInternal_whiten_data(y.data());
    EXPECT_EQ(y, before);
    for (int t = 1; t < 10; ++t) EXPECT_EQ(W(t, t - 1), 0.0f);
    GLMInternal_whiten_model(0);
    for (int t = 0; t < 10; ++t) EXPECT_EQ(std::vector<float>(fit_context.design_matrix[t], fit_context.design_matrix[t] + 2),
                                           std::vector<float>(X[t], X[t] + 2));
    // A remainder of exactly 0 lowers the order too: rho = (1, 0.5, 1) leaves
    // 0 on the last diagonal, and the AR(1) filter of 0.5 remains.
    GLM_input.AR_order = 2;
    EXPECT_EQ(filter({1, 0.5f, 1}), 1);
    expect_ar1_band(0.5f);
    // Without an AR model the estimate leaves its output alone.
    GLM_input.AR_order = 0;
    std::vector<float> coeff = {7, 7};
    EXPECT_EQ(GLM_calculate_AR_coefficient(10, y.data(), 0, coeff.data()), 0);
    EXPECT_EQ(coeff, std::vector<float>({7, 7}));
    EXPECT_EQ(filter({1}), 0);
    GLM_input.AR_order = 2;  // for the release of the mixing matrix
}

TEST(ArModel, BiasReductionAndEstimateAgreeWithTheirDefinitions) {
    const int n = 14, p = 2;
    TestModel m(n, 3, 1, 3, p);
    GLM.include[5] = 0;
    const std::string row = "\rCalculating AR bias reduction matrix for row ";
    EXPECT_EQ(stdout_of([&] { ASSERT_EQ(m.build(), 0); }), row + "0 ..." + row + "1 ..." + row + "2 ...\n");
    // Residual-forming matrix of the masked design, in double precision.
    double **XtX = double_matrix(3, 3), **M = double_matrix(p + 1, p + 1);
    float **X = GLM.design_matrix;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            XtX[a][b] = 0;
            for (int t = 0; t < n; ++t) XtX[a][b] += (double)X[t][a] * X[t][b];
        }
    int ierr;
    ASSERT_EQ(dInvertSquareMatrix(3, XtX, &ierr), 0);
    std::vector<std::vector<double>> R(n, std::vector<double>(n));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double h = 0;
            for (int a = 0; a < 3; ++a)
                for (int b = 0; b < 3; ++b) h += X[i][a] * XtX[a][b] * X[j][b];
            R[i][j] = (i == j ? GLM.include[i] : 0) - GLM.include[i] * GLM.include[j] * h;
            ASSERT_NEAR(GLM.residual_matrix[i][j], R[i][j], 1e-5) << i << " " << j;
        }
    // M[l][m] = trace(A_l B_m), every element of both matrices formed, for the
    // lags m of the model (M, inverted) and the lags beyond it (H).
    auto at = [&](int i, int j) { return (j >= 0 && j < n) ? R[i][j] : 0.0; };
    std::vector<std::vector<double>> H(p + 1, std::vector<double>(n - 1 - p));
    for (int l = 0; l <= p; ++l)
        for (int mm = 0; mm < n; ++mm) {
            double sum = 0;
            for (int i = 0; i < n; ++i)
                for (int k = 0; k < n; ++k)
                    sum += at(i, k - l) * (mm == 0 ? (k == i) * GLM.include[k] : at(k, i - mm) + at(k, i + mm));
            (mm <= p ? M[l][mm] : H[l][mm - p - 1]) = sum;
        }
    ASSERT_EQ(dInvertSquareMatrix(p + 1, M, &ierr), 0);
    for (int l = 0; l <= p; ++l)
        for (int mm = 0; mm <= p; ++mm) EXPECT_NEAR(GLM.AR_mixing_matrix[l][mm], M[l][mm], 1e-4 * std::fabs(M[l][mm]) + 1e-6);
    // The estimate of an autocorrelated series from R (include y) directly:
    // the reduction by M, then passes that take out the lags beyond p implied
    // by the AR(2) recursion of the current estimate.
    Lcg rng(17);
    std::vector<float> y(n), coeff(p + 1);
    std::vector<double> e(n, 0.0), a(p + 1, 0.0), c(p + 1, 0.0), rho(n, 0.0);
    for (int t = 0; t < n; ++t) y[t] = 5 + rng.next() + (t ? 0.8f * (y[t - 1] - 5) : 0.0f);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) e[i] += R[i][j] * GLM.include[j] * y[j];
    for (int l = 0; l <= p; ++l)
        for (int t = l; t < n; ++t) a[l] += e[t] * e[t - l];
    std::vector<double> b = a;
    double banded = 0;
    for (int pass = 0; pass <= 5; ++pass) {
        for (int l = 0; l <= p; ++l) {
            c[l] = 0;
            for (int mm = 0; mm <= p; ++mm) c[l] += M[l][mm] * b[mm];
        }
        rho[0] = 1, rho[1] = c[1] / c[0], rho[2] = c[2] / c[0];
        if (pass == 0) banded = rho[1];
        const double phi2 = (rho[2] - rho[1] * rho[1]) / (1 - rho[1] * rho[1]), phi1 = rho[1] * (1 - phi2);
        for (int mm = 3; mm < n; ++mm) rho[mm] = phi1 * rho[mm - 1] + phi2 * rho[mm - 2];
        for (int l = 0; l <= p; ++l) {
            b[l] = a[l];
            for (int mm = p + 1; mm < n; ++mm) b[l] -= c[0] * H[l][mm - p - 1] * rho[mm];
        }
    }
    ASSERT_EQ(GLM_calculate_AR_coefficient(n, y.data(), p, coeff.data()), 0);
    EXPECT_EQ(coeff[0], 1.0f);
    for (int l = 1; l <= p; ++l) EXPECT_NEAR(coeff[l], rho[l], 1e-4);
    EXPECT_GT(std::fabs(rho[1] - banded), 1e-3);  // the passes matter
    free_double_matrix(XtX, 3);
    free_double_matrix(M, p + 1);
    // No residual at all: the lag-0 value 0 is not divided by.
    std::vector<float> zero(n, 0.0f);
    ASSERT_EQ(GLM_calculate_AR_coefficient(n, zero.data(), p, coeff.data()), 0);
    EXPECT_EQ(coeff, std::vector<float>({1, 0, 0}));
}
