#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "glm/paradigm.h"
#include "test_model.h"

namespace {

// Event 1 of the given shape over ntime points (TR 2 s), built on a grid of
// S samples per TR; returns the result and fills p and the printed text.
int paradigm(int shape, int ntime, const std::vector<std::vector<float>> &stims, std::vector<float> &p, int S = 1,
             float tau = 4.0f, float alpha = 1.0f, std::string *printed = nullptr) {
    GLM_reset_model_state();
    GLM.ntime = ntime;
    GLM.tr[0] = 2.0f;
    GLM.event_number[0] = 1;
    GLM.event_shape[0] = shape;
    GLM.time_constant[0] = tau;
    GLM.alpha[0] = alpha;
    GLM.nstims[0] = static_cast<int>(stims.size());
    for (size_t s = 0; s < stims.size(); ++s) {
        GLM.stim_on[0][s] = stims[s][0];
        GLM.stim_off[0][s] = stims[s][1];
        GLM.stim_magnitude[0][s] = stims[s].size() > 2 ? stims[s][2] : 1.0f;
    }
    p.assign(ntime * S, -1.0f);
    int result = -1;
    const std::string out = stdout_of([&] { result = GLMInternal_create_stimulus_paradigm(0, S, p.data()); });
    if (printed) *printed = out;
    return result;
}

}  // namespace

TEST(Paradigm, OverlapIsJudgedOnTheAccumulatedValueWithInclusiveEnds) {
    std::vector<float> p;
    std::string out;
    EXPECT_EQ(paradigm(SHAPE_SQUARE, 30, {{10, 20}, {20, 30}}, p, 1, 4, 1, &out), 1);
    EXPECT_EQ(out, "Error: overlapping stimuli for event 1 and stimulus 1\n");
    ASSERT_EQ(paradigm(SHAPE_SQUARE, 30, {{10, 19.9f}, {20, 30}}, p), 0);
    EXPECT_EQ(std::vector<float>(p.begin() + 4, p.begin() + 7), std::vector<float>({0, 1, 1}));
    EXPECT_EQ(paradigm(SHAPE_RAMP_UP, 30, {{10, 20}, {20, 30}}, p), 1);
    // A sine stimulus adds exactly 0 at its own ON time, so a later stimulus
    // may cover that sample; the other way round the first one's value is 1.
    EXPECT_EQ(paradigm(SHAPE_SINE, 30, {{20, 30}, {10, 20}}, p, 1, 40), 0);
    EXPECT_EQ(paradigm(SHAPE_SINE, 30, {{10, 20}, {20, 30}}, p, 1, 40), 1);
    // The reported stimulus is the one met first in time, not in list order.
    EXPECT_EQ(paradigm(SHAPE_SQUARE, 40, {{40, 50}, {60, 70}, {65, 66}, {45, 46}}, p, 1, 4, 1, &out), 1);
    EXPECT_EQ(out, "Error: overlapping stimuli for event 1 and stimulus 3\n");
}

TEST(Paradigm, GammaAtOnsetAndSamplesBetweenTimePoints) {
    std::vector<float> p;
    ASSERT_EQ(paradigm(SHAPE_GAMMA, 5, {{0, 8}}, p, 1, 4, 2), 0);
    EXPECT_EQ(p[0], 0.0f);
    EXPECT_EQ(p[2], 1.0f);  // peak m at u = tau
    ASSERT_EQ(paradigm(SHAPE_GAMMA, 5, {{0, 8}}, p, 1, 4, 0), 0);
    EXPECT_EQ(p[0], 1.0f);  // 0^0 = 1
    // 3.0-3.5 s holds fine samples (step 0.5 s) but no time point.
    ASSERT_EQ(paradigm(SHAPE_SQUARE, 4, {{3.0f, 3.5f}}, p, 4), 0);
    EXPECT_EQ(std::vector<float>(p.begin() + 4, p.begin() + 9), std::vector<float>({0, 0, 1, 1, 0}));
}

TEST(Paradigm, MatchesASampleBySampleEvaluation) {
    // Random stimuli on a grid step of 2/7 s; every sample is compared with the
    // direct definition, all stimuli tested at every sample.
    Lcg rng(7);
    for (int shape : {SHAPE_GAMMA, SHAPE_EXP_DOWN, SHAPE_SIGMOID, SHAPE_COSINE, SHAPE_SINE, SHAPE_RAMP_UP,
                      SHAPE_RAMP_DOWN}) {
        const bool apart = shape != SHAPE_GAMMA && shape != SHAPE_SIGMOID;  // may not overlap
        std::vector<std::vector<float>> stims;
        for (int s = 0; s < 40; ++s) {
            const float on = apart ? 5.0f * s - 3.0f + 0.3f * (rng.next() + 1) : 100.0f * rng.next() + 95.0f;
            stims.push_back({on, on + (apart ? 3.5f + 0.3f * (rng.next() + 1) : 30.0f * (rng.next() + 1)),
                             1.0f + rng.next()});
        }
        std::vector<float> p;
        ASSERT_EQ(paradigm(shape, 97, stims, p, 7, 3.3f, 1.7f), 0);
        for (int i = 0; i < 97 * 7; ++i) {
            const float t = static_cast<float>(i) * (2.0f / 7.0f);
            float want = 0.0f;
            for (const auto &s : stims) {
                if (!(s[0] <= t && t <= s[1])) continue;
                const double x = (t - s[0]) / 3.3f, a = 1.7f;
                const double f = shape == SHAPE_GAMMA     ? std::pow(x, a) * std::exp(a * (1 - x))
                                 : shape == SHAPE_EXP_DOWN ? std::exp(-x)
                                 : shape == SHAPE_SIGMOID  ? x / std::sqrt(1 + x * x)
                                 : shape == SHAPE_COSINE   ? std::cos(2 * M_PI * x)
                                 : shape == SHAPE_SINE     ? std::sin(2 * M_PI * x)
                                 : shape == SHAPE_RAMP_UP  ? (t - s[0]) / (s[1] - s[0])
                                                           : 1 - (t - s[0]) / (s[1] - s[0]);
                want = static_cast<float>(want + s[2] * f);
            }
            // The periodic and ramp shapes round their own way: to float accuracy.
            ASSERT_NEAR(p[i], want, apart && shape != SHAPE_EXP_DOWN ? 1e-5f : 0.0f) << "shape " << shape << " sample " << i;
        }
    }
}

TEST(Paradigm, IntegrationAndNormalisation) {
    GLM.ntime = 4;
    std::vector<float> a = {5, 1, 0, 2}, b = {0, 1, 1, 0, 2, 0, 0, 1}, c = {-2, 1, 2}, zero = {0, 0, 0}, d = {1, 4};
    GLMInternal_integrate_paradigm(1, a.data());
    GLMInternal_integrate_paradigm(2, b.data());  // two samples per time point
    EXPECT_EQ(a, (std::vector<float>{0, 6, 6, 8}));
    EXPECT_EQ(b, (std::vector<float>{0, 1, 2, 2, 4, 4, 4, 5}));
    EXPECT_EQ(GLMInternal_normalize_paradigm(3, c.data(), 1.0f), -2.0f);
    EXPECT_EQ(c, (std::vector<float>{-1, 0.5f, 1}));
    EXPECT_EQ(GLMInternal_normalize_paradigm(3, zero.data(), 1.0f), 0.0f);
    EXPECT_EQ(zero, (std::vector<float>{0, 0, 0}));
    EXPECT_EQ(GLMInternal_normalize_paradigm(2, d.data(), -2.0f), -8.0f);
    EXPECT_EQ(d, (std::vector<float>{-0.5f, -2}));
}
