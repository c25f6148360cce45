#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "driver/globals.h"
#include "glm/basis.h"
#include "glm/parameters.h"
#include "glm/state.h"
#include "roi/overlays.h"
#include "roi/roi_analysis.h"

namespace {

// Two runs of n time points each at TR 2 s, no IRF, a constant per run.
void make_runs(int n) {
    GLM_reset_model_state();
    GLM_input.nbaseline_terms = 1;
    HRF.active = 0;
    HRF.resolution = 2.0f;
    for (int r = 0; r < 2; ++r) {
        GLM.tr[r] = 2.0f;
        GLM.run_start[r] = r * n;
        GLM.run_stop[r] = r * n + n - 1;
    }
    GLM.nruns = GLM_input.nruns = 2;
    GLM.ntime = 2 * n;
    release_overlays();
    reset_GLM_variations();
    file_list_root = RunEntry{};
    file_list_root.nx = file_list_root.ny = file_list_root.nz = 1;
}

int add_event(int number, int shape, float tau) {
    const int e = GLM.nevents++;
    GLM.event_number[e] = number;
    GLM.event_shape[e] = shape;
    GLM.time_constant[e] = tau;
    return e;
}

// Gamma stimuli (ON only; OFF at the end of the stimulus' run).
void add_gamma_onsets(int e, const std::vector<float> &onsets) {
    for (float on : onsets) {
        const int s = GLM.nstims[e]++;
        const int run = on < GLM.run_stop[0] * GLM.tr[0] ? 0 : 1;
        GLM.stim_on[e][s] = on;
        GLM.stim_off[e][s] = GLM.run_stop[run] * GLM.tr[0];
        GLM.stim_magnitude[e][s] = 1.0f;
    }
}

// Adds a region whose series is a0 + sum of amplitude x design column + noise.
void add_region(const char *name, float a0, const std::vector<std::pair<int, float>> &terms, float noise,
                unsigned seed) {
    Overlay *overlay = new_overlay(name);
    overlay->ntimepoints = GLM.ntime;
    overlay->time_series = float_vector(GLM.ntime);
    std::mt19937 random(seed);
    std::normal_distribution<float> normal(0.0f, noise);
    for (int t = 0; t < GLM.ntime; ++t) {
        float y = a0 + normal(random);
        for (auto [b, amplitude] : terms) y += amplitude * GLM.design_unmasked[t][b];
        overlay->time_series[t] = y;
    }
}

std::vector<std::vector<float>> design() {
    std::vector<std::vector<float>> d(GLM.ntime, std::vector<float>(GLM.nbasis));
    for (int t = 0; t < GLM.ntime; ++t)
        for (int b = 0; b < GLM.nbasis; ++b) d[t][b] = GLM.design_unmasked[t][b];
    return d;
}

// Setter calls seen during a search, forwarded to the real setters.
std::vector<std::pair<int, float>> calls;
int recording_time_constant(int e, float value) {
    calls.emplace_back(e, value);
    return GLM_set_time_constant(e, value);
}
int recording_shift(int e, float value) {
    calls.emplace_back(e, value);
    return GLM_increment_onset_times(e, value);
}

std::pair<int, std::string> search() {
    testing::internal::CaptureStdout();
    const int result = analyze_ROIs();
    std::fflush(stdout);
    return {result, testing::internal::GetCapturedStdout()};
}

const std::vector<float> kOnsets = {10.0f, 70.0f, 130.0f, 210.0f, 250.0f, 330.0f};

TEST(RoiSearch, TimeConstantGridFindsTheGeneratingValue) {
    make_runs(100);
    const int g = add_event(1, SHAPE_GAMMA, 8.0f);
    add_gamma_onsets(g, kOnsets);
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    add_region("a", 100.0f, {{0, 5.0f}, {2, 3.0f}}, 0.2f, 1);
    add_region("b", 50.0f, {{0, 2.0f}}, 0.2f, 2);
    GLM_set_time_constant(g, 10.0f);

    ASSERT_EQ(add_GLM_variation("1", 1), 0);
    vary_root.setter = recording_time_constant;
    calls.clear();
    auto [result, out] = search();
    ASSERT_EQ(result, 0);

    // The grid: 1, 1.78, ... by float accumulation while <= 40; then the best value once more.
    const float step = (40.0f - 1.0f) / 50.0f;
    float value = 1.0f;
    std::size_t i = 0;
    for (; value <= 40.0f; value += step, ++i) {
        ASSERT_LT(i, calls.size());
        EXPECT_EQ(calls[i], std::make_pair(g, value)) << i;
    }
    EXPECT_EQ(i, 51u);
    ASSERT_EQ(calls.size(), i + 1);

    std::smatch m;
    ASSERT_TRUE(std::regex_match(out, m, std::regex("\nmin chi2 / DOF = (\\S+)\nbest tau for event 1 = (\\S+)\n")))
        << out;
    const float best = std::stof(m[2]);
    EXPECT_LE(std::fabs(best - 8.0f), step) << best;
    EXPECT_GT(std::stof(m[1]), 0.0f);
    EXPECT_EQ(calls.back().second, best);
    EXPECT_EQ(GLM.time_constant[g], calls.back().second);  // the model is left at the best value
}

TEST(RoiSearch, OnsetShiftsAreUndoneAndTheBestShiftIsAppliedOnce) {
    make_runs(100);
    const int g = add_event(1, SHAPE_GAMMA, 10.0f);
    std::vector<float> shifted;
    for (float on : kOnsets) shifted.push_back(on + 1.0f);
    add_gamma_onsets(g, shifted);
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    add_region("a", 100.0f, {{0, 5.0f}}, 0.1f, 3);
    for (int s = 0; s < GLM.nstims[g]; ++s) GLM.stim_on[g][s] = kOnsets[s];
    ASSERT_EQ(GLM_define_basis_functions(), 0);

    ASSERT_EQ(add_GLM_variation("1", 0), 0);
    vary_root.setter = recording_shift;
    calls.clear();
    auto [result, out] = search();
    ASSERT_EQ(result, 0);

    // Shifts from -5 to 5 by 0.2, each followed by its undo, then the best one.
    ASSERT_EQ(calls.size(), 2 * 51u + 1);
    float value = -5.0f;
    for (int i = 0; i < 51; ++i, value += 0.2f) {
        EXPECT_NEAR(calls[2 * i].second, value, 1e-5) << i;
        EXPECT_EQ(calls[2 * i + 1].second, -calls[2 * i].second) << i;
    }
    EXPECT_NEAR(calls[100].second, 5.0f, 1e-5);
    const float best = calls.back().second;
    EXPECT_NEAR(best, 1.0f, 0.2f);
    EXPECT_NE(out.find("best onset increment for event 1 = "), std::string::npos) << out;

    // The design equals one built from the original onsets with the best shift.
    const auto after = design();
    for (int s = 0; s < GLM.nstims[g]; ++s) EXPECT_EQ(GLM.stim_on[g][s], kOnsets[s] + best) << s;
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    EXPECT_EQ(design(), after);
}

TEST(RoiSearch, TwoParametersNestWithProgress) {
    make_runs(40);
    const int a = add_event(1, SHAPE_GAMMA, 6.0f);
    const int b = add_event(2, SHAPE_SIGMOID, 4.0f);
    add_gamma_onsets(a, {10.0f, 90.0f});
    add_gamma_onsets(b, {30.0f, 120.0f});
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    add_region("a", 10.0f, {{0, 1.0f}, {1, 1.0f}}, 0.1f, 4);
    ASSERT_EQ(add_GLM_variation("1", 1), 0);
    ASSERT_EQ(add_GLM_variation("2", 0), 0);
    vary_root.next->setter = recording_shift;
    calls.clear();
    auto [result, out] = search();
    ASSERT_EQ(result, 0);
    // The inner shift runs through its 51 values (each undone) for each of the 51 outer values.
    ASSERT_EQ(calls.size(), 51u * 51u * 2u + 1u);
    for (std::size_t i = 0; i + 1 < calls.size(); i += 2) EXPECT_EQ(calls[i].second, -calls[i + 1].second);
    EXPECT_EQ(calls[0].second, calls[102].second);  // the inner grid starts again
    std::string progress;
    for (int i = 0; i < 51; ++i) progress += "\r " + std::to_string(2 * i) + " percent done";
    EXPECT_EQ(out.substr(0, progress.size() + 1), progress + "\n");
    EXPECT_NE(out.find("best tau for event 1 = "), std::string::npos);
    EXPECT_NE(out.find("best onset increment for event 2 = "), std::string::npos);
    EXPECT_EQ(GLM.stim_on[b][0], 30.0f + calls.back().second);
}

TEST(RoiSearch, NoQualifyingCombinationLeavesTheStartingModel) {
    // Three parameters use XtX_inverse[0][0] - XtX_inverse[1][1]. Column 0 (a
    // square event on at every other point) is far better determined than
    // column 1 (a gamma event seen at one time point), so that is negative.
    make_runs(5);
    const int s = add_event(1, SHAPE_SQUARE, 0.0f);
    for (int k = 0; k < 5; ++k) {
        const int i = GLM.nstims[s]++;
        GLM.stim_on[s][i] = GLM.stim_off[s][i] = 4.0f * k;
        GLM.stim_magnitude[s][i] = 1.0f;
    }
    const int g = add_event(2, SHAPE_GAMMA, 3.0f);
    add_gamma_onsets(g, {16.0f});
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    const auto start = design();
    add_region("a", 10.0f, {{0, 1.0f}}, 0.1f, 5);
    for (int p = 0; p < 3; ++p) ASSERT_EQ(add_GLM_variation("2", 1), 0);
    auto [result, out] = search();
    EXPECT_EQ(result, 0);
    std::string progress;
    for (int i = 0; i < 51; ++i) progress += "\r " + std::to_string(2 * i) + " percent done";
    EXPECT_EQ(out, progress + "\nNo parameter combination gave a positive design efficiency; no best values.\n");
    EXPECT_EQ(GLM.time_constant[g], 3.0f);
    EXPECT_EQ(design(), start);
}

TEST(RoiSearch, SearchesThatCannotRun) {
    make_runs(10);
    add_event(1, SHAPE_GAMMA, 3.0f);
    add_event(2, SHAPE_SQUARE, 0.0f);
    add_event(3, SHAPE_DRUG_IRF, 0.0f);
    auto fails = [](std::initializer_list<std::pair<const char *, int>> parameters) {
        reset_GLM_variations();
        for (auto [id, kind] : parameters) add_GLM_variation(id, kind);
        Variation *v = &vary_root;
        for (; v; v = v->next) v->setter = recording_shift;
        calls.clear();
        auto [result, out] = search();
        EXPECT_EQ(result, 1);
        EXPECT_TRUE(calls.empty());
        return out;
    };
    EXPECT_EQ(fails({{"1", 1}, {"x", 0}}), "Error: event x is not defined in the GLM.\n");
    EXPECT_EQ(fails({{"0", 1}}), "Error: event 0 is not defined in the GLM.\n");
    EXPECT_EQ(fails({{"2", 0}}),
              "Error: only vary parameters (starting time, tau) for drug shapes\n"
              "       including gamma, sigmoid, and drug-IRF shapes.\n");
    EXPECT_EQ(fails({{"1", 1}, {"1", 0}, {"1", 1}, {"1", 0}, {"1", 1}}),
              "Error: I can only vary up to 4 parameters simultaneously (not 5)\n");
    EXPECT_EQ(fails({{"3", 1}}),
              "Error: event 3 has the time constant 0; a parameter search needs a positive one.\n");
    EXPECT_EQ(fails({{"1", 1}}), "Error: no regions of interest to analyse.\n");

    reset_GLM_variations();
    EXPECT_EQ(search(), std::make_pair(0, std::string()));  // nothing varied
}

}  // namespace
