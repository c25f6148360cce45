#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "glm/paradigm.h"
#include "glm/state.h"
#include "test_model.h"

namespace {

// One event (number 1) of the given shape and stimuli over ntime points, TR 2 s.
void one_event(int shape, int ntime, const std::vector<std::vector<float>> &stims, float tau = 4.0f,
               float alpha = 1.0f) {
    GLM_reset_model_state();
    GLM.ntime = ntime;
    GLM.nruns = 1;
    GLM.tr[0] = 2.0f;
    GLM.nevents = 1;
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
}

int build(int S, std::vector<float> &p, std::string *printed = nullptr) {
    p.assign(GLM.ntime * S, -1.0f);
    testing::internal::CaptureStdout();
    const int result = GLMInternal_create_stimulus_paradigm(0, S, p.data());
    fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    if (printed) *printed = out;
    return result;
}

}  // namespace

TEST(Paradigm, OverlapIsJudgedOnTheAccumulatedValueWithInclusiveEnds) {
    std::vector<float> p;
    std::string out;
    one_event(SHAPE_SQUARE, 30, {{10, 20}, {20, 30}});
    EXPECT_EQ(build(1, p, &out), 1);
    EXPECT_EQ(out, "Error: overlapping stimuli for event 1 and stimulus 1\n");
    one_event(SHAPE_SQUARE, 30, {{10, 19.9f}, {20, 30}});
    ASSERT_EQ(build(1, p), 0);
    EXPECT_EQ(p[4], 0.0f);
    EXPECT_EQ(p[5], 1.0f);
    EXPECT_EQ(p[15], 1.0f);
    EXPECT_EQ(p[16], 0.0f);
    one_event(SHAPE_RAMP_UP, 30, {{10, 20}, {20, 30}});
    EXPECT_EQ(build(1, p), 1);
    // A sine stimulus adds exactly 0 at its own ON time, so a later stimulus
    // may cover that sample; the other way round the first one's value is 1.
    one_event(SHAPE_SINE, 30, {{20, 30}, {10, 20}}, 40.0f);
    EXPECT_EQ(build(1, p), 0);
    one_event(SHAPE_SINE, 30, {{10, 20}, {20, 30}}, 40.0f);
    EXPECT_EQ(build(1, p), 1);
    // The reported stimulus is the one met first in time, not in list order.
    one_event(SHAPE_SQUARE, 40, {{40, 50}, {60, 70}, {65, 66}, {45, 46}});
    EXPECT_EQ(build(1, p, &out), 1);
    EXPECT_EQ(out, "Error: overlapping stimuli for event 1 and stimulus 3\n");
}

TEST(Paradigm, GammaAndSigmoidAddUpAndShapesFollowTheirFormulas) {
    std::vector<float> p;
    one_event(SHAPE_GAMMA, 20, {{0, 38}, {4, 38, 2.0f}}, 4.0f, 2.0f);
    ASSERT_EQ(build(1, p), 0);
    EXPECT_EQ(p[0], 0.0f);                                  // u = 0, alpha > 0
    EXPECT_FLOAT_EQ(p[2], 1.0f + 0.0f);                     // peak 1 of the first at u = tau
    auto g = [](double x) { return x * x * std::exp(2.0 * (1.0 - x)); };
    EXPECT_FLOAT_EQ(p[6], static_cast<float>(g(3.0) + 2.0 * g(2.0)));
    one_event(SHAPE_GAMMA, 5, {{0, 8}}, 4.0f, 0.0f);
    ASSERT_EQ(build(1, p), 0);
    EXPECT_EQ(p[0], 1.0f);  // 0^0 = 1
    one_event(SHAPE_SIGMOID, 5, {{0, 8}, {2, 8}}, 2.0f);
    ASSERT_EQ(build(1, p), 0);
    EXPECT_FLOAT_EQ(p[2], static_cast<float>(2.0 / std::sqrt(5.0) + 1.0 / std::sqrt(2.0)));
    one_event(SHAPE_RAMP_DOWN, 10, {{4, 12, 3.0f}});
    ASSERT_EQ(build(1, p), 0);
    EXPECT_FLOAT_EQ(p[2], 3.0f);
    EXPECT_FLOAT_EQ(p[4], 1.5f);
    EXPECT_FLOAT_EQ(p[6], 0.0f);
}

TEST(Paradigm, GridIgnoresRunBoundariesAndSamplesBetweenTimePoints) {
    std::vector<float> p;
    one_event(SHAPE_SQUARE, 20, {{16, 24}});
    GLM.nruns = 2;
    GLM.run_stop[0] = 9;
    ASSERT_EQ(build(1, p), 0);
    EXPECT_EQ(p[10], 1.0f);  // first point of the second run
    EXPECT_EQ(p[12], 1.0f);
    // 3.0-3.5 s contains fine samples (step 0.5 s) but no time point.
    one_event(SHAPE_SQUARE, 4, {{3.0f, 3.5f}});
    ASSERT_EQ(build(4, p), 0);
    EXPECT_EQ(p[6], 1.0f);
    EXPECT_EQ(p[7], 1.0f);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(p[k * 4], 0.0f);
}

TEST(Paradigm, MatchesASampleBySampleEvaluation) {
    // Random stimuli with odd grid steps: every sample is compared with the
    // direct definition (all stimuli tested at every sample).
    Lcg rng(7);
    for (int shape : {SHAPE_GAMMA, SHAPE_EXP_DOWN, SHAPE_SIGMOID}) {
        std::vector<std::vector<float>> stims;
        for (int s = 0; s < 40; ++s) {  // exponential-down stimuli must not overlap
            const float on = shape == SHAPE_EXP_DOWN ? 5.0f * s - 3.0f + 0.35f * (rng.next() + 1.0f)
                                                     : 100.0f * (rng.next() + 1.0f) - 5.0f;
            const float length = shape == SHAPE_EXP_DOWN ? 3.5f + 0.35f * (rng.next() + 1.0f)
                                                         : 30.0f * (rng.next() + 1.0f);
            stims.push_back({on, on + length, 1.0f + rng.next()});
        }
        one_event(shape, 97, stims, 3.3f, 1.7f);
        GLM.tr[0] = 2.1f;
        std::vector<float> p;
        ASSERT_EQ(build(7, p), 0);
        const float step = 2.1f / 7.0f;
        for (int i = 0; i < 97 * 7; ++i) {
            const float t = static_cast<float>(i) * step;
            float expect = 0.0f;
            for (const auto &s : stims)
                if (s[0] <= t && t <= s[1]) {
                    const double x = (t - s[0]) / 3.3f, a = 1.7f;
                    expect = static_cast<float>(
                        shape == SHAPE_GAMMA      ? expect + s[2] * std::pow(x, a) * std::exp(a * (1.0 - x))
                        : shape == SHAPE_EXP_DOWN ? expect + s[2] * std::exp(-x)
                                                  : expect + s[2] * x / std::sqrt(1.0 + x * x));
                }
            ASSERT_EQ(p[i], expect) << "shape " << shape << " sample " << i;
        }
    }
}

TEST(Paradigm, IntegrationAndNormalisation) {
    GLM.ntime = 4;
    std::vector<float> a = {5, 1, 0, 2}, b = {0, 1, 1, 0};
    GLMInternal_integrate_paradigm(1, a.data());
    GLMInternal_integrate_paradigm(1, b.data());
    EXPECT_EQ(a, (std::vector<float>{0, 6, 6, 8}));
    EXPECT_EQ(b, (std::vector<float>{0, 1, 2, 2}));
    std::vector<float> c = {-2, 1, 2}, zero = {0, 0, 0};
    EXPECT_EQ(GLMInternal_normalize_paradigm(3, c.data(), 1.0f), -2.0f);
    EXPECT_EQ(c, (std::vector<float>{-1, 0.5f, 1}));
    EXPECT_EQ(GLMInternal_normalize_paradigm(3, zero.data(), 1.0f), 0.0f);
    EXPECT_EQ(zero, (std::vector<float>{0, 0, 0}));
    std::vector<float> d = {1, 4};
    EXPECT_EQ(GLMInternal_normalize_paradigm(2, d.data(), -2.0f), -8.0f);
    EXPECT_EQ(d, (std::vector<float>{-0.5f, -2}));
}
