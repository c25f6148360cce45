#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "glm/fit.h"
#include "glm/statistics.h"
#include "test_model.h"

namespace {

struct Outcome {
    float F = 123.0f, t, p, pc, effect, se;
    int run(float variance, int c, int resels = 0) {
        return GLM_calculate_F(GLM.ntime, variance, resels, c, &F, &t, &p, &pc, &effect, &se);
    }
};

// nbasis columns with an identity inverse normal matrix and DOF 20.
struct StatsModel : TestModel {
    explicit StatsModel(int nbasis) : TestModel(nbasis + 21, nbasis, 1, 1) {
        for (int i = 0; i < nbasis; ++i)
            for (int j = 0; j < nbasis; ++j) GLM.XtX_inverse[i][j] = (i == j) ? 1.0f : 0.0f;
        GLM.DOF = 20.0f;
    }
    void set_effects(std::vector<float> e) {
        for (size_t b = 0; b < e.size(); ++b) GLM.effect_size[b] = e[b];
    }
};

}  // namespace

TEST(IncompleteBeta, AgreesWithScipyOverAGridIncludingLargeDegreesOfFreedom) {
    const std::vector<double> ref = python_values(
        "import itertools, scipy.special as s\n"
        "for a, b, x in itertools.product([0.5, 1, 2.5, 10, 50, 250, 1000, 5000], [0.5, 1, 1.5, 3, 10, 100],\n"
        "                                 [1e-4, 0.01, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99, 0.9999]):\n"
        "    print(repr(a), repr(b), repr(x), repr(s.betainc(a, b, x)))\n");
    ASSERT_EQ(ref.size(), 8u * 6 * 9 * 4);
    for (size_t i = 0; i < ref.size(); i += 4) {
        const double got = ibeta(ref[i], ref[i + 1], ref[i + 2]), want = ref[i + 3];
        EXPECT_LE(std::fabs(got - want), 1e-10 * std::fabs(want))
            << "a=" << ref[i] << " b=" << ref[i + 1] << " x=" << ref[i + 2];
    }
    EXPECT_EQ(ibeta(3.0, 4.0, 0.0), 0.0);
    EXPECT_EQ(ibeta(3.0, 4.0, 1.0), 1.0);
    EXPECT_EXIT_PRINTS(ibeta(0.0, 2.0, 0.5), "ibeta: Domain error!, a = 0, b = 2\n");
    EXPECT_EXIT_PRINTS(ibeta(1.0, -1.0, 0.5), "ibeta: Domain error!, a = 1, b = -1\n");
}

TEST(ConditionTest, OneRowGivesTheTwoSidedTPValue) {
    StatsModel m(2);
    m.add_condition({{1, 0}});
    m.add_condition({{0, -1}});
    GLM_calc_covariance_matrix();
    m.set_effects({2.0f, 2.0f});
    Outcome a;
    ASSERT_EQ(a.run(1.0f, 0), 0);
    EXPECT_FLOAT_EQ(a.F, 4.0f);
    EXPECT_FLOAT_EQ(a.t, 2.0f);
    EXPECT_FLOAT_EQ(a.se, 1.0f);
    EXPECT_NEAR(a.p, 0.05926553544657048, 1e-7);  // scipy.stats.f.sf(4, 1, 20) = 2 * t.sf(2, 20)
    ASSERT_EQ(a.run(4.0f, 1), 0);                  // contrast -1: negative effect and t
    EXPECT_FLOAT_EQ(a.effect, -2.0f);
    EXPECT_FLOAT_EQ(a.t, -1.0f);
    EXPECT_FLOAT_EQ(a.se, 2.0f);
}

TEST(ConditionTest, SeveralRowsGiveTheUpperTailOfF) {
    StatsModel m(3);
    m.add_condition({{1, 0, 0}, {0, 1, 0}});
    m.add_condition({{1, 0, 0}, {0, 1, 0}, {1, 1, 1}});
    GLM_calc_covariance_matrix();
    const std::vector<std::vector<float>> effects = {{1e-4f, 0, 0}, {0.3f, -0.2f, 0}, {1, 1, 0}, {2, -3, 1}, {-3, 3, 0}};
    std::string script = "from scipy import stats\nimport numpy as np\n";
    script += "K = [np.array([[1,0,0],[0,1,0]]), np.array([[1,0,0],[0,1,0],[1,1,1]])]\n";
    for (const auto &e : effects)
        script += "b = np.array(" + python_list(e.data(), 3) + ")\n"
                  "for k in K:\n    v = k @ b; F = v @ np.linalg.inv(k @ k.T) @ v / len(v)\n"
                  "    print(F, stats.f.sf(F, len(v), 20))\n";
    const std::vector<double> ref = python_values(script);
    ASSERT_EQ(ref.size(), effects.size() * 4);
    for (size_t i = 0; i < effects.size(); ++i) {
        m.set_effects(effects[i]);
        for (int c = 0; c < 2; ++c) {
            Outcome a;
            ASSERT_EQ(a.run(1.0f, c), 0);
            EXPECT_NEAR(a.F, ref[4 * i + 2 * c], 1e-5 * (1 + ref[4 * i + 2 * c]));
            EXPECT_NEAR(a.p, ref[4 * i + 2 * c + 1], 1e-5 * ref[4 * i + 2 * c + 1] + 1e-7) << i << " " << c;
        }
    }
    Outcome a;  // largest magnitude row wins, the first one on ties
    ASSERT_EQ(a.run(1.0f, 0), 0);
    EXPECT_EQ(a.effect, -3.0f);
    EXPECT_LT(a.t, 0.0f);
}

TEST(ConditionTest, FloorCorrectedPAndNeutralResults) {
    StatsModel m(2);
    m.add_condition({{1, 0}});
    m.add_condition({{1, 0}, {2, 0}});  // dependent rows: no test
    testing::internal::CaptureStdout();
    GLM_calc_covariance_matrix();
    GLM_calc_covariance_matrix();
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: the rows of condition c1 are linearly dependent; it is not tested.\n");
    const float floor_value = static_cast<float>(std::exp(-100.0));
    Outcome a;
    m.set_effects({1e6f, 0});
    ASSERT_EQ(a.run(1e-6f, 0), 0);
    EXPECT_EQ(a.p, floor_value);
    EXPECT_EQ(a.pc, floor_value);  // resels 0
    ASSERT_EQ(a.run(1e-6f, 0, 100), 0);
    EXPECT_EQ(a.pc, floor_value);  // the power overwhelms the polynomial
    m.set_effects({static_cast<float>(std::sqrt(40.0)), 0});
    ASSERT_EQ(a.run(1.0f, 0, 100), 0);
    EXPECT_NEAR(a.pc, 100 * 0.1169 * (40 * 0.95 - 1) / std::pow(3.0, 9.5), 1e-6);
    m.set_effects({0.5f, 0});
    ASSERT_EQ(a.run(1.0f, 0, 100), 0);
    EXPECT_EQ(a.pc, 1.0f);  // negative expectation
    Outcome z;
    ASSERT_EQ(z.run(0.0f, 0), 0);
    EXPECT_EQ(z.F, 123.0f);
    EXPECT_EQ(std::vector<float>({z.t, z.effect, z.se, z.p, z.pc}), std::vector<float>({0, 0, 0, 1, 1}));
    Outcome d;
    ASSERT_EQ(d.run(1.0f, 1), 0);
    EXPECT_EQ(std::vector<float>({d.F, d.t, d.effect, d.p}), std::vector<float>({0, 0, 0, 1}));
    GLM_singular_fit = 1;
    Outcome s;
    ASSERT_EQ(s.run(1.0f, 0), 0);
    EXPECT_EQ(std::vector<float>({s.F, s.t, s.effect, s.se, s.p, s.pc}), std::vector<float>({0, 0, 0, 0, 1, 1}));
    GLM_singular_fit = 0;
}

TEST(ConditionTest, RejectsBadConditionAndLength) {
    StatsModel m(2);
    m.add_condition({{1, 0}});
    GLM_calc_covariance_matrix();
    float F, t, p, pc, e, se;
    testing::internal::CaptureStdout();
    EXPECT_EQ(GLM_calculate_F(GLM.ntime, 1.0f, 0, 1, &F, &t, &p, &pc, &e, &se), 1);
    EXPECT_EQ(GLM_calculate_F(GLM.ntime - 1, 1.0f, 0, 0, &F, &t, &p, &pc, &e, &se), 1);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: the specified condition (1) is out of range (0-1)\nError: # time points != # used in GLM fit.");
}
