#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "glm/frequency_filter.h"
#include "glm/statistics.h"
#include "glm/voxel_fit.h"
#include "test_model.h"

namespace {

// beta over the design plus uniform noise of the given size.
std::vector<float> series(unsigned long long seed, float noise, const std::vector<float> &beta) {
    Lcg rng(seed);
    std::vector<float> y(GLM.ntime);
    for (int t = 0; t < GLM.ntime; ++t) {
        y[t] = noise * rng.next();
        for (size_t b = 0; b < beta.size(); ++b) y[t] += beta[b] * GLM.design_unmasked[t][b];
    }
    return y;
}

struct Results {
    std::vector<float> effect, fit, stats;  // stats: F, t, p, corrected p, effect, error per condition
    float variance;
    bool operator==(const Results &) const = default;
};

// Fits y as the voxel loop does: weights, whitening filter, whitening, fit, conditions.
Results fit_voxel(std::vector<float> y, const float *ar = nullptr) {
    Results r;
    r.fit.resize(y.size());
    GLM_Update_Weights(GLM.ntime, y.data());
    if (ar) {
        std::int16_t order;
        GLM_calculate_whitening_filter(GLM_input.AR_order + 1, ar, &order);
        GLMInternal_whiten_data(y.data());
        GLMInternal_whiten_model(0);
    }
    GLM_fit_data(GLM.ntime, y.data(), r.fit.data(), &r.variance);
    r.effect.assign(fit_context.effect_size.get(), fit_context.effect_size.get() + GLM.nbasis);
    for (int c = 0; c < GLM.nconditions; ++c) {
        float v[6];
        GLM_calculate_F(GLM.ntime, r.variance, 0, c, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
        r.stats.insert(r.stats.end(), v, v + 6);
    }
    return r;
}

std::vector<float> history() {
    const float *h;
    const int n = GLM_reweighting_history(&h);
    return std::vector<float>(h, h + n);
}

}  // namespace

TEST(Fit, ReweightingStopsOnSmallChangeOrAfterTenPasses) {
    {
        TestModel m(80, 4, 1, 21);
        GLM_input.noise_model = NOISE_IWLS;
        for (int t = 30; t < 35; ++t) GLM.include[t] = 0;
        ASSERT_EQ(m.build(), 0);
        EXPECT_FLOAT_EQ(fit_context.DOF, 75 + 0.5f - 1.25f * 4);  // unit weights: leverages sum to nbasis
        std::vector<float> y = series(9, 1.0f, {1, 2, 3, 100});
        for (int t = 0; t < 80; t += 9) y[t] += 40.0f;  // outliers
        fit_voxel(y);
        const std::vector<float> h = history();
        ASSERT_GE(h.size(), 3u);
        ASSERT_LT(h.size(), 11u);
        for (size_t k = 1; k < h.size(); ++k) {
            const double change = std::fabs(static_cast<double>(h[k] - h[k - 1])) * 100.0 / h[k - 1];
            EXPECT_EQ(change > 0.1, k < h.size() - 1) << k;
        }
        EXPECT_LT(fit_context.weight[9], 0.2f * fit_context.weight[10]);  // the outlier is down-weighted
        const float *e = fit_context.noise_estimate.get();  // scaled to a mean of 1 over the included points
        EXPECT_NEAR(std::accumulate(e, e + 80, 0.0) / 75, 1.0, 1e-5);
        EXPECT_EQ(fit_context.weight[32], 0.0f);
        EXPECT_EQ(fit_context.residue[32], 0.0f);
    }
    {
        // Six points of heavy-tailed noise keep the variance moving.
        TestModel m(6, 1, 1, 9);
        GLM_input.noise_model = NOISE_IWLS;
        ASSERT_EQ(m.build(), 0);
        Lcg rng(63);
        std::vector<float> y(6);
        for (float &v : y) {
            const float r = rng.next();
            v = r * r * r * 100 + rng.next();
        }
        fit_voxel(y);
        const std::vector<float> h = history();
        ASSERT_EQ(h.size(), 11u);
        EXPECT_GT(std::fabs(static_cast<double>(h[10] - h[9])) * 100.0 / h[9], 0.1);
    }
    TestModel m(8, 1, 1, 1);  // a constant fitted exactly: variance 0, no re-weighting
    GLM_input.noise_model = NOISE_IWLS;
    ASSERT_EQ(m.build(), 0);
    EXPECT_EQ(fit_voxel(std::vector<float>(8, 2.0f)).variance, 0.0f);
    EXPECT_EQ(history().size(), 1u);
}

TEST(Fit, SingularDesignGivesNeutralResultsUntilRepaired) {
    TestModel m(20, 3, 1, 41);
    for (int t = 0; t < 20; ++t) GLM.design_unmasked[t][1] = GLM.design_unmasked[t][0];
    m.add_condition({{1}});
    EXPECT_EQ(m.build(), 1);
    const std::vector<float> y = series(2, 1.0f, {1, 1, 3});
    for (int pass = 0; pass < 2; ++pass) {  // singular, repaired, singular again
        EXPECT_EQ(fit_context.singular_fit, 1);
        const Results r = fit_voxel(y);
        EXPECT_TRUE(r.variance == 0.0f && history() == std::vector<float>{0.0f});
        EXPECT_TRUE(r.effect == std::vector<float>(3, 0.0f) && std::equal(y.begin(), y.end(), fit_context.residue.get()));
        EXPECT_EQ(std::vector<float>(r.stats.begin() + 1, r.stats.end()), std::vector<float>({0, 1, 1, 0, 0}));
        for (int t = 0; t < 20; ++t) GLM.design_matrix[t][1] = GLM.design_unmasked[t][1] = 0.1f * t;
        EXPECT_EQ(GLMInternal_complete_model(), 0);
        EXPECT_GT(fit_voxel(y).variance, 0.0f);
        for (int t = 0; t < 20; ++t) GLM.design_matrix[t][1] = GLM.design_unmasked[t][1] = GLM.design_unmasked[t][0];
        EXPECT_EQ(GLMInternal_complete_model(), 1);
    }
}

TEST(Fit, PetWeightsFollowTheRunningSumOfTheSignal) {
    TestModel m(16, 3, 2, 51);
    GLM_input.noise_model = NOISE_FPET;
    ASSERT_EQ(m.build(), 0);
    std::vector<float> y(16, 0.0f);
    y[0] = 1.0f;
    y[1] = 3.0f;  // run 0: S = 1, 4, 4, ... so the scale doubles from t = 0 to t = 1
    GLM_Update_Weights(16, y.data());
    EXPECT_FLOAT_EQ(fit_context.noise_estimate[0], 1.0f / (15.0f / 8.0f));
    EXPECT_FLOAT_EQ(fit_context.noise_estimate[1], 2.0f / (15.0f / 8.0f));
    for (int t = 0; t < 16; ++t) {
        EXPECT_FLOAT_EQ(fit_context.weight[t], 1.0f) << t;  // half-life 0: constant scale per run
        EXPECT_TRUE(t < 8 || fit_context.noise_estimate[t] == 1.0f) << t;  // run 1 has no signal
    }
    // A half-life of 20 s: sqrt(S(t) e^(t ln2 / 20)) smoothed by a cubic over the included points.
    GLM_input.noise_model_parameter = 20.0f;
    GLM.include[5] = 0;
    Lcg rng(4);
    for (float &v : y) v = 50 + 40 * rng.next();
    GLM_Update_Weights(16, y.data());
    std::vector<float> inc(GLM.include, GLM.include + 16);
    const std::vector<double> w = python_values(
        "import numpy as np\ny, inc = np.array(" + python_list(y.data(), 16) + "), np.array(" + python_list(inc.data(), 16) +
        ")\nt = np.arange(8) * 2.0\nfor r in (0, 8):\n    raw = np.sqrt(np.exp(t * np.log(2) / 20) * np.cumsum(y[r:r + 8]))\n"
        "    fit = np.polyval(np.polyfit(t, raw, 3, w=inc[r:r + 8]), t)\n    print(*(fit.mean() / fit) ** 2)\n");
    ASSERT_EQ(w.size(), 16u);
    for (int t = 0; t < 16; ++t) EXPECT_NEAR(fit_context.weight[t], w[t], 2e-3 * w[t]) << t;  // float sums
}

TEST(Fit, BaselineResidueAndLengthChecks) {
    TestModel m(30, 4, 2, 61);
    GLM.run_stop[0] = 9;
    GLM.run_start[1] = 10;
    for (int t = 0; t < 30; ++t) GLM.design_unmasked[t][2] = t < 10, GLM.design_unmasked[t][3] = t >= 10;
    ASSERT_EQ(m.build(), 0);
    std::vector<float> y = series(3, 0.0f, {0.5f, -2, 4, 10});
    std::vector<float> fit = fit_voxel(y).fit;
    EXPECT_NEAR(GLM_compute_baseline(), 4.0f / 3 + 10.0f * 2 / 3, 1e-4);  // offsets weighted by run length
    ASSERT_EQ(GLM_create_residue(30, y.data(), fit.data()), 0);
    for (int t = 0; t < 30; ++t) {
        EXPECT_NEAR(y[t], fit_context.residue[t], 1e-4);
        EXPECT_NEAR(fit[t], 0.0f, 1e-4);
    }
    GLM_input.nbaseline_terms = 0;
    EXPECT_EQ(GLM_compute_baseline(), 0.0f);
    EXPECT_EXIT_PRINTS(GLM_fit_data(29, y.data(), fit.data(), nullptr), 1,
                       "Error: the number of data time points \\(29\\) does not match the number in the GLM \\(30\\)\\.\n");
}

// AR(2) with excluded points (at the start and inside): t and sigma of the
// whitened fit against generalised least squares of the included points with
// the covariance the filter implies. Re-weighting under AR stays bounded; a
// series the model fits up to rounding has variance 0 under every model.
TEST(Fit, ArWithExcludedPointsIsTheGlsFitOfTheIncludedPoints) {
    TestModel m(60, 4, 1, 71, 2);
    for (int t : {0, 1, 20, 21, 22}) GLM.include[t] = 0;
    stdout_of([&] { ASSERT_EQ(m.build(), 0); });
    m.add_condition({{1}});
    GLM_calc_covariance_matrix();
    const std::vector<float> rho = {1.0f, 0.5f, 0.2f};
    std::vector<float> y = series(8, 3.0f, {1, -2, 0.5f, 1000});
    const Results r = fit_voxel(y, rho.data());
    std::vector<float> X, inc(GLM.include, GLM.include + 60);
    for (int t = 0; t < 60; ++t) X.insert(X.end(), GLM.design_unmasked[t], GLM.design_unmasked[t] + 4);
    const std::vector<double> ref = python_values(
        "import numpy as np\nfrom scipy import linalg\nX = np.array(" + python_list(X.data(), 240) +
        ").reshape(60, 4)\ny = np.array(" + python_list(y.data(), 60) + ")\nm = np.array(" + python_list(inc.data(), 60) +
        ") == 1\nLi = np.linalg.inv(np.linalg.cholesky(linalg.toeplitz(" + python_list(rho.data(), 3) + ")))\n"
        "W = np.zeros((60, 60))\nfor t in range(60):\n    if t <= 2: W[t, :t + 1] = Li[t, :t + 1]\n"
        "    else: W[t, t - 2:t + 1] = Li[2]\nWi = np.linalg.inv(W)\nSi = np.linalg.inv((Wi @ Wi.T)[np.ix_(m, m)])\n"
        "Xi, yi = X[m], y[m]\nA = np.linalg.inv(Xi.T @ Si @ Xi)\nb = A @ Xi.T @ Si @ yi\nres = yi - Xi @ b\n"
        "s2 = res @ Si @ res / (m.sum() - 4)\nprint(b[0] / np.sqrt(s2 * A[0, 0]), np.sqrt(s2))\n");
    ASSERT_EQ(ref.size(), 2u);
    EXPECT_NEAR(r.stats[1], ref[0], 0.02 * std::fabs(ref[0]));
    EXPECT_NEAR(std::sqrt(r.variance), ref[1], 0.02 * ref[1]);
    std::vector<float> tiny = y;  // a variance is judged against the series' own magnitude
    for (float &v : tiny) v *= 1e-7f;
    EXPECT_NEAR(std::sqrt(fit_voxel(tiny, rho.data()).variance), 1e-7 * ref[1], 0.02e-7 * ref[1]);

    GLM_input.noise_model = NOISE_IWLS;
    fit_voxel(y, rho.data());
    std::vector<float> w(fit_context.weight.get() + 2, fit_context.weight.get() + 20);
    std::sort(w.begin(), w.end());
    EXPECT_LT(w.back(), 200 * w[w.size() / 2]);
    const std::vector<float> white = {1.0f, 0.0f, 0.0f};
    for (int model : {NOISE_OLS, NOISE_IWLS}) {
        GLM_input.noise_model = model;
        EXPECT_EQ(fit_voxel(std::vector<float>(60, 1234.5f), white.data()).variance, 0.0f) << model;
        EXPECT_EQ(fit_voxel(std::vector<float>(60, 100.0f), rho.data()).variance, 0.0f) << model;
    }
}

// Eight series fitted together (voxel_fit.h) agree with the single-series
// fit to float rounding: OLS, OLS with a band filter, AR(2) with each lane's
// own filter (one lowered to order 1, one to 0) and iWLS, all with excluded
// points at a block start and inside.
TEST(Fit, TilesAgreeWithTheSingleSeriesFit) {
    struct Case { int noise, ar; float high; };
    for (const Case k : {Case{NOISE_OLS, 0, 0}, Case{NOISE_OLS, 0, 0.2f}, Case{NOISE_OLS, 2, 0}, Case{NOISE_IWLS, 0, 0}}) {
        TestModel m(80, 5, 2, 3, k.ar);
        for (int t : {0, 1, 30, 31, 32, 40}) GLM.include[t] = 0;
        stdout_of([&] { ASSERT_EQ(m.build(), 0); });
        GLM.initialized = 2;
        m.add_condition({{1}});
        m.add_condition({{1}, {0, 1, -1}});
        GLM_calc_covariance_matrix();
        GLM_input.noise_model = k.noise;
        GLM_input.preGLM_frequency_band[1] = k.high;
        VoxelFitPlan plan;
        stdout_of([&] { make_voxel_fit_plan(plan, true); });
        ASSERT_NE(plan.kind, VoxelFitKind::Single);
        std::vector<float> tile(80 * kLanes), coefficients(3 * kLanes);
        std::vector<std::vector<float>> y(kLanes);
        const float *coefficient[kLanes];
        for (int l = 0; l < kLanes; ++l) {
            y[l] = series(40 + l, 3.0f, {0.8f, -0.5f, 0.3f, 100.0f, 120.0f});
            for (int t = 0; t < 80; t += 7 + l) y[l][t] += 15.0f;  // outliers for iWLS
            const float rho[3] = {1.0f, l == 6 ? 1.2f : 0.1f * l, l == 5 ? 0.9f : -0.1f};
            std::copy(rho, rho + 3, &coefficients[3 * l]);
            coefficient[l] = &coefficients[3 * l];
            std::vector<float> z = y[l];
            if (k.high > 0) GLMInternal_filter_masked(z.data());
            for (int t = 0; t < 80; ++t) tile[t * kLanes + l] = z[t];
        }
        TileFitter fitter(plan);
        std::vector<ConditionTest> lanes(2 * kLanes);
        std::vector<float> variance(kLanes);
        const auto keep = [&](int first, int n) {
            for (int l = 0; l < n; ++l) {
                variance[first + l] = fitter.variance[l];
                for (int c = 0; c < 2; ++c) fitter.test(c, l, 0, &lanes[2 * (first + l) + c]);
            }
        };
        const int columns[kLanes] = {0, 1, 2, 3, 4, 5, 6, 7};
        if (plan.kind == VoxelFitKind::Reweighted) {
            fitter.fit_batch(tile.data(), kLanes, columns, kLanes, keep);
        } else {
            fitter.fit(tile.data(), kLanes, coefficient);
            keep(0, kLanes);
        }
        for (int l = 0; l < kLanes; ++l) {
            std::vector<float> z = y[l], fit(80);
            float v;
            std::int16_t order;
            GLM_Update_Weights(80, z.data());
            GLM_calculate_whitening_filter(k.ar + 1, coefficient[l], &order);
            GLM_PreFilter(0, 80, z.data());
            GLM_fit_data(80, z.data(), fit.data(), &v);
            EXPECT_NEAR(variance[l], v, 1e-4 * v) << k.noise << k.ar << l;
            for (int c = 0; c < 2; ++c) {
                ConditionTest r;
                GLM_calculate_condition(80, v, 0, c, &r);
                const ConditionTest &n = lanes[2 * l + c];
                EXPECT_NEAR(n.t, r.t, 2e-4 * (1 + std::fabs(r.t))) << k.noise << k.ar << l << c;
                EXPECT_NEAR(n.effect, r.effect, 2e-4 * (r.standard_error + std::fabs(r.effect))) << k.noise << k.ar << l;
                EXPECT_NEAR(n.standard_error, r.standard_error, 2e-4 * r.standard_error) << k.noise << k.ar << l;
            }
        }
    }
}
