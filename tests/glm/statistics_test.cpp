#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "glm/statistics.h"
#include "glm/z_score.h"
#include "test_model.h"

namespace {

// nbasis columns with an identity inverse normal matrix and DOF 20.
struct StatsModel : TestModel {
    explicit StatsModel(int nbasis, const std::vector<std::vector<std::vector<int>>> &conditions)
        : TestModel(nbasis + 21, nbasis, 1, 1) {
        for (int i = 0; i < nbasis; ++i)
            for (int j = 0; j < nbasis; ++j) fit_context.XtX_inverse[i][j] = (i == j);
        fit_context.DOF = 20.0f;
        for (const auto &rows : conditions) add_condition(rows);
    }
};

// F, t, p, corrected p, effect, standard error of condition c with effects e.
std::vector<float> test(std::vector<float> e, float variance, int c, int resels = 0) {
    for (size_t b = 0; b < e.size(); ++b) fit_context.effect_size[b] = e[b];
    std::vector<float> r(6, 123.0f);
    EXPECT_EQ(GLM_calculate_F(GLM.ntime, variance, resels, c, &r[0], &r[1], &r[2], &r[3], &r[4], &r[5]), 0);
    return r;
}

}  // namespace

TEST(IncompleteBeta, AgreesWithScipyOverAGridIncludingLargeDegreesOfFreedom) {
    const std::vector<double> ref = python_values(
        "import itertools, scipy.special as s\n"
        "for a, b, x in itertools.product([0.5, 1, 2.5, 10, 50, 250, 1000, 5000], [0.5, 1, 1.5, 3, 10, 100],\n"
        "                                 [1e-4, 0.01, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99, 0.9999]):\n"
        "    print(repr(a), repr(b), repr(x), repr(s.betainc(a, b, x)))\n");
    ASSERT_EQ(ref.size(), 8u * 6 * 9 * 4);
    for (size_t i = 0; i < ref.size(); i += 4)
        EXPECT_LE(std::fabs(ibeta(ref[i], ref[i + 1], ref[i + 2]) - ref[i + 3]), 1e-10 * std::fabs(ref[i + 3]))
            << "a=" << ref[i] << " b=" << ref[i + 1] << " x=" << ref[i + 2];
    EXPECT_EQ(ibeta(3.0, 4.0, 0.0), 0.0);
    EXPECT_EQ(ibeta(3.0, 4.0, 1.0), 1.0);
    EXPECT_EXIT_PRINTS(ibeta(0.0, 2.0, 0.5), 1, "ibeta: Domain error!, a = 0, b = 2\n");
    EXPECT_EXIT_PRINTS(ibeta(1.0, -1.0, 0.5), 1, "ibeta: Domain error!, a = 1, b = -1\n");
}

TEST(ConditionTest, SeveralRowsGiveTheUpperTailOfF) {
    StatsModel m(3, {{{1, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {0, 1, 0}, {1, 1, 1}}});
    GLM_calc_covariance_matrix();
    const std::vector<std::vector<float>> effects = {{1e-4f, 0, 0}, {0.3f, -0.2f, 0}, {1, 1, 0}, {2, -3, 1}};
    std::string script = "from scipy import stats\nimport numpy as np\n"
                         "K = [np.array([[1,0,0],[0,1,0]]), np.array([[1,0,0],[0,1,0],[1,1,1]])]\n";
    for (const auto &e : effects)
        script += "for k in K:\n    v = k @ np.array(" + python_list(e.data(), 3) +
                  ")\n    F = v @ np.linalg.inv(k @ k.T) @ v / len(v)\n    print(F, stats.f.sf(F, len(v), 20))\n";
    const std::vector<double> ref = python_values(script);
    ASSERT_EQ(ref.size(), effects.size() * 4);
    for (size_t i = 0; i < effects.size(); ++i)
        for (int c = 0; c < 2; ++c) {
            const std::vector<float> a = test(effects[i], 1.0f, c);
            EXPECT_NEAR(a[0], ref[4 * i + 2 * c], 1e-5 * (1 + ref[4 * i + 2 * c]));
            EXPECT_NEAR(a[2], ref[4 * i + 2 * c + 1], 1e-5 * ref[4 * i + 2 * c + 1] + 1e-7) << i << " " << c;
        }
    const std::vector<float> tie = test({-3, 3, 0}, 1.0f, 0);  // largest magnitude, the first on ties
    EXPECT_EQ(tie[4], -3.0f);
    EXPECT_LT(tie[1], 0.0f);
}

TEST(ConditionTest, FloorCorrectedPAndNeutralResults) {
    StatsModel m(2, {{{1, 0}}, {{1, 0}, {2, 0}}});  // the second has dependent rows: no test
    GLM_calc_covariance_matrix();
    const float floor_value = static_cast<float>(std::exp(-100.0));
    EXPECT_EQ(test({1e6f, 0}, 1e-6f, 0)[2], floor_value);
    EXPECT_EQ(test({1e6f, 0}, 1e-6f, 0)[3], floor_value);       // resels 0
    EXPECT_EQ(test({1e6f, 0}, 1e-6f, 0, 100)[3], floor_value);  // the power overwhelms the polynomial
    EXPECT_NEAR(test({std::sqrt(40.0f), 0}, 1.0f, 0, 100)[3], 100 * 0.1169 * (40 * 0.95 - 1) / std::pow(3.0, 9.5), 1e-6);
    EXPECT_EQ(test({0.5f, 0}, 1.0f, 0, 100)[3], 1.0f);  // negative expectation
    float previous = 1.0f;  // with 12 resels: never below p, never rising with |t|
    for (float t = 0.1f; t < 9.0f; t += 0.05f) {
        const std::vector<float> r = test({t, 0}, 1.0f, 0, 12);
        EXPECT_GE(r[3], r[2]) << t;
        EXPECT_LE(r[3], previous) << t;
        previous = r[3];
    }
    EXPECT_EQ(test({1, 0}, 0.0f, 0), std::vector<float>({123, 0, 1, 1, 0, 0}));  // zero variance, F untouched
    EXPECT_EQ(test({1, 0}, 1.0f, 1), std::vector<float>({0, 0, 1, 1, 0, 0}));
    fit_context.singular_fit = 1;
    EXPECT_EQ(test({1, 0}, 1.0f, 0), std::vector<float>({0, 0, 1, 1, 0, 0}));
    fit_context.singular_fit = 0;
}

TEST(ZScore, AgreesWithScipyForTAndFDownToTheFloorOfP) {
    // Rows of (F, sign of t, DOF, rows, z): the z of the same tail as t (two-sided) or F (upper), from log p.
    const std::vector<double> ref = python_values(
        "import itertools, numpy as np\nfrom scipy import stats, special\n"
        "Fs = [1e-6, .3, 1, 4, 30, 120, 300, 1e3, 1e4, 1e9]  # p from 1 through e^-100 (at 72 DOF) to below\n"
        "for d, q, F, s in itertools.product([3, 12, 72, 5000], [1, 2, 5], Fs, [1, -1]):\n"
        "    F = float(np.float32(F)); lp = max(stats.f.logsf(F, q, d), -100.0)\n"
        "    z = s * -special.ndtri_exp(lp - np.log(2)) if q == 1 else max(0.0, -special.ndtri_exp(lp))\n"
        "    print(F, s, d, q, z)\n"
        "for lp in -np.logspace(-9, np.log10(700), 40): print(lp, -special.ndtri_exp(lp))\n");
    ASSERT_EQ(ref.size(), 4u * 3 * 10 * 2 * 5 + 80);
    for (size_t i = 0; i + 80 < ref.size(); i += 5) {
        const float t = static_cast<float>(ref[i + 1] * std::sqrt(ref[i]));
        EXPECT_NEAR(z_statistic(ref[i], t, ref[i + 2], ref[i + 3]), ref[i + 4], 2e-7 * (1 + std::fabs(ref[i + 4])))
            << "F=" << ref[i] << " t=" << t << " dof=" << ref[i + 2] << " rows=" << ref[i + 3];
    }
    for (size_t i = ref.size() - 80; i < ref.size(); i += 2)  // z up to 37
        EXPECT_NEAR(z_from_log_upper_tail(ref[i]), ref[i + 1], 1e-14 * (1 + std::fabs(ref[i + 1]))) << ref[i];
}
