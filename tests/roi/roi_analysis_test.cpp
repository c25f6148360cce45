#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "glm/basis.h"
#include "glm/fit.h"
#include "glm/parameters.h"
#include "glm/state.h"
#include "support/cli.h"
#include "roi/overlays.h"
#include "roi/roi_analysis.h"

namespace {

// Two runs of n points at TR 2 s, no IRF, a constant per run. Each event is
// (shape, time constant, stimuli); gamma stimuli last to the end of the run.
struct Event {
    int shape;
    float tau;
    std::vector<float> onsets;
};
void make_model(int n, const std::vector<Event> &events) {
    GLM_reset_model_state();
    GLM_input.nbaseline_terms = 1;
    HRF.active = 0;
    for (int r = 0; r < 2; ++r) GLM.tr[r] = 2.0f, GLM.run_start[r] = r * n, GLM.run_stop[r] = r * n + n - 1;
    GLM.nruns = GLM_input.nruns = 2;
    GLM.ntime = 2 * n;
    for (const Event &ev : events) {
        const int e = GLM.nevents++;
        GLM.event_number[e] = e + 1, GLM.event_shape[e] = ev.shape, GLM.time_constant[e] = ev.tau;
        for (float on : ev.onsets) {
            const int s = GLM.nstims[e]++;
            GLM.stim_on[e][s] = on, GLM.stim_magnitude[e][s] = 1.0f;
            GLM.stim_off[e][s] = ev.shape == SHAPE_SQUARE ? on : GLM.run_stop[on < 2.0f * n ? 0 : 1] * 2.0f;
        }
    }
    release_overlays();
    reset_GLM_variations();
    file_list_root = RunEntry{};
    file_list_root.nx = file_list_root.ny = file_list_root.nz = 1;
    ASSERT_EQ(GLM_define_basis_functions(), 0);
}

// A region whose series is 100 + amplitude x the current column 0 + noise.
void add_region(float amplitude, unsigned seed) {
    Overlay *overlay = new_overlay("r");
    overlay->ntimepoints = GLM.ntime;
    overlay->time_series = float_vector(GLM.ntime);
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 0.1f);
    for (int t = 0; t < GLM.ntime; ++t)
        overlay->time_series[t] = 100.0f + amplitude * GLM.design_unmasked[t][0] + noise(random);
}

std::vector<float> design() {
    return {GLM.design_unmasked[0], GLM.design_unmasked[0] + GLM.ntime * GLM.nbasis};
}

// Setter calls of a search, passed on to the real setters.
std::vector<float> calls;
int record_shift(int e, float v) { return calls.push_back(v), GLM_increment_onset_times(e, v); }

std::string search() {
    calls.clear();
    return stdout_of([] { EXPECT_EQ(analyze_ROIs(), 0); });
}

// Grid values by repeated float addition while <= stop (50 or 51 of them).
std::vector<float> float_grid(float start, float stop) {
    std::vector<float> values;
    for (float v = start; v <= stop; v += (stop - start) / 50.0f) values.push_back(v);
    return values;
}

// Onsets whose float sums do not all come back exactly after a shift and its undo.
const std::vector<float> kOnsets = {10.3f, 77.77f, 130.0f, 210.0f, 250.0f, 330.0f};

TEST(RoiSearch, EveryShiftIsUndoneAndTheBestOneAppliedOnce) {
    std::vector<float> late;
    for (float on : kOnsets) late.push_back(on + 1.0f);
    make_model(100, {{SHAPE_GAMMA, 10.0f, late}});
    add_region(5.0f, 3);
    for (int s = 0; s < GLM.nstims[0]; ++s) GLM.stim_on[0][s] = kOnsets[s];
    ASSERT_EQ(add_GLM_variation("1", 0), 0);
    vary_root.setter = record_shift;
    const std::string out = search();
    const std::vector<float> grid = float_grid(-5.0f, 5.0f);
    ASSERT_EQ(grid.size(), 51u);
    ASSERT_EQ(calls.size(), 103u);
    for (int i = 0; i < 51; ++i) {
        EXPECT_NEAR(grid[i], -5.0f + 0.2f * i, 1e-5);
        EXPECT_EQ(calls[2 * i], grid[i]);
        EXPECT_EQ(calls[2 * i + 1], -grid[i]);
    }
    const float best = calls.back();
    EXPECT_NEAR(best, 1.0f, 0.2f);
    EXPECT_NE(out.find("best onset increment for event 1 = "), std::string::npos) << out;
    // Design and onsets equal those of a model built with the best shift from the start.
    const std::vector<float> after = design();
    for (int s = 0; s < GLM.nstims[0]; ++s) EXPECT_EQ(GLM.stim_on[0][s], kOnsets[s] + best);
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    EXPECT_EQ(design(), after);
}

TEST(RoiSearch, BestValuesAndObjectiveAreThoseOfFreshBuildsOfEveryCombination) {
    // Drug-IRF pulses of 6 s under a 40 s IRF sampled every 0.5 s: a plain loop
    // over the grid, each design built afresh, finds what the search reports.
    make_model(40, {{SHAPE_GAMMA, 3.0f, {10.3f, 50.0f, 90.7f, 130.0f}}});
    free_float_vector(HRF.irf);
    GLM.event_shape[0] = SHAPE_DRUG_IRF, HRF.active = 1, HRF.resolution = 0.5f, HRF.npoints = 80;
    HRF.irf = float_vector(80);
    for (int k = 0; k < 80; ++k) HRF.irf[k] = k * std::exp(-k / 6.0f);
    for (int s = 0; s < 4; ++s) GLM.stim_on[0][s] += 0.7f, GLM.stim_off[0][s] = GLM.stim_on[0][s] + 6.0f;
    GLM_set_time_constant(0, 2.0f);
    add_region(5.0f, 6), add_region(-3.0f, 7);
    for (int s = 0; s < 4; ++s) GLM.stim_on[0][s] -= 0.7f, GLM.stim_off[0][s] -= 0.7f;
    const std::vector<float> on(GLM.stim_on[0], GLM.stim_on[0] + 4), off(GLM.stim_off[0], GLM.stim_off[0] + 4);
    float best = INFINITY, best_tau = 0.0f, chi2, fit[80];
    char want[64];
    for (float tau : float_grid(0.3f, 12.0f)) {
        GLM_set_time_constant(0, tau);
        for (float dt : float_grid(-1.5f, 1.5f)) {
            GLM_increment_onset_times(0, dt);
            float S = 0.0f;
            for (Overlay *o = ovl_root.next; o; o = o->next) GLM_fit_data(80, o->time_series, fit, &chi2), S += chi2;
            const float m = GLM_DrugEfficiency();
            if (m > 0.0f && S * m < best)
                best = S * m, best_tau = tau, std::snprintf(want, 64, "%g\nbest onset increment for event 1 = %g", tau, dt);
            std::copy(on.begin(), on.end(), GLM.stim_on[0]), std::copy(off.begin(), off.end(), GLM.stim_off[0]);
        }
    }
    GLM_set_time_constant(0, 3.0f);
    ASSERT_EQ(add_GLM_variation("1", 1) + add_GLM_variation("1", 0), 0);
    const std::string out = search(), label = "min chi2 / DOF = ", tau = "\nbest tau for event 1 = ";
    const std::size_t at = out.rfind(label), tau_at = out.find(tau, at);
    ASSERT_TRUE(at != std::string::npos && tau_at != std::string::npos) << out;
    const std::string printed = out.substr(at + label.size(), tau_at - at - label.size());
    EXPECT_NEAR(std::stof(printed), best, 1e-5 * best);  // printed with 6 digits
    EXPECT_EQ(out.substr(tau_at + tau.size()), std::string(want) + "\n");
    EXPECT_EQ(GLM.time_constant[0], best_tau);  // the model is left at the best values
}

TEST(RoiSearch, NoQualifyingCombinationLeavesTheStartingModel) {
    // With three parameters the measure is XtX_inverse[0][0] - [1][1]: column 0
    // (on at every other point) is far better determined than column 1 (the
    // gamma event, seen at one time point), so every measure is negative.
    make_model(5, {{SHAPE_SQUARE, 0.0f, {0, 4, 8, 12, 16}}, {SHAPE_GAMMA, 3.0f, {16}}});
    const std::vector<float> start = design();
    add_region(1.0f, 5);
    for (int p = 0; p < 3; ++p) ASSERT_EQ(add_GLM_variation("2", 1), 0);
    const std::string out = search();
    std::string progress;
    for (std::size_t i = 0; i < float_grid(0.3f, 12.0f).size(); ++i)
        progress += "\r " + std::to_string(2 * i) + " percent done";
    EXPECT_EQ(out, progress + "\nNo parameter combination gave a positive design efficiency; no best values.\n");
    EXPECT_EQ(GLM.time_constant[1], 3.0f);
    EXPECT_EQ(design(), start);
}

}  // namespace
