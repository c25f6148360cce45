// Cost of the ROI parameter search and of its parts, on a design of 2 runs of
// 150 time points (TR 2 s) with the BOLD-monkey impulse response, one gamma
// event and one square event, and three regions.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <random>

#include "driver/globals.h"
#include "glm/basis.h"
#include "glm/fit.h"
#include "glm/hrf_file.h"
#include "glm/parameters.h"
#include "glm/state.h"
#include "roi/overlays.h"
#include "roi/roi_analysis.h"

namespace {

constexpr int kRunLength = 150;

void set_up_model() {
    GLM_reset_model_state();
    GLM_input.nbaseline_terms = 3;
    if (GLM_read_hrf_file(0, "BOLD-monkey")) std::abort();
    for (int r = 0; r < 2; ++r) {
        GLM.tr[r] = 2.0f;
        GLM.run_start[r] = r * kRunLength;
        GLM.run_stop[r] = r * kRunLength + kRunLength - 1;
    }
    GLM.nruns = GLM_input.nruns = 2;
    GLM.ntime = 2 * kRunLength;

    GLM.nevents = 2;
    GLM.event_number[0] = 1;
    GLM.event_shape[0] = SHAPE_GAMMA;
    GLM.time_constant[0] = 8.0f;
    GLM.event_number[1] = 2;
    GLM.event_shape[1] = SHAPE_SQUARE;
    for (int r = 0; r < 2; ++r)
        for (int k = 0; k < 4; ++k) {
            const float start = (r * kRunLength) * 2.0f;
            int s = GLM.nstims[0]++;
            GLM.stim_on[0][s] = start + 20.0f + 70.0f * k;
            GLM.stim_off[0][s] = start + (kRunLength - 1) * 2.0f;
            GLM.stim_magnitude[0][s] = 1.0f;
            s = GLM.nstims[1]++;
            GLM.stim_on[1][s] = start + 50.0f + 70.0f * k;
            GLM.stim_off[1][s] = start + 60.0f + 70.0f * k;
            GLM.stim_magnitude[1][s] = 1.0f;
        }
    if (GLM_define_basis_functions()) std::abort();

    release_overlays();
    file_list_root = RunEntry{};
    file_list_root.nx = file_list_root.ny = file_list_root.nz = 1;
    std::mt19937 random(11);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (int o = 0; o < 3; ++o) {
        Overlay *overlay = new_overlay("region");
        overlay->ntimepoints = GLM.ntime;
        overlay->time_series = float_vector(GLM.ntime);
        for (int t = 0; t < GLM.ntime; ++t)
            overlay->time_series[t] =
                1000.0f + (10.0f + o) * GLM.design_unmasked[t][0] + 5.0f * GLM.design_unmasked[t][1] + noise(random);
    }
}

// Runs the search with its report sent to /dev/null.
void quiet_search() {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
    const int result = analyze_ROIs();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    if (result) std::abort();
}

void BM_Rebuild(benchmark::State &state) {
    set_up_model();
    for (auto _ : state) benchmark::DoNotOptimize(GLM_define_basis_functions());
}
BENCHMARK(BM_Rebuild)->Unit(benchmark::kMicrosecond);

void BM_FitThreeRegions(benchmark::State &state) {
    set_up_model();
    OwnedVector<float> fit(GLM.ntime);
    for (auto _ : state)
        for (Overlay *o = ovl_root.next; o; o = o->next) {
            float chi2;
            GLM_fit_data(o->ntimepoints, o->time_series, fit.get(), &chi2);
            benchmark::DoNotOptimize(chi2);
        }
}
BENCHMARK(BM_FitThreeRegions)->Unit(benchmark::kMicrosecond);

void BM_DrugEfficiency(benchmark::State &state) {
    set_up_model();
    for (auto _ : state) benchmark::DoNotOptimize(GLM_DrugEfficiency());
}
BENCHMARK(BM_DrugEfficiency)->Unit(benchmark::kMicrosecond);

// -T 1: 51 rebuilds, 153 fits.
void BM_SearchTimeConstant(benchmark::State &state) {
    set_up_model();
    for (auto _ : state) {
        state.PauseTiming();
        reset_GLM_variations();
        add_GLM_variation("1", 1);
        GLM.time_constant[0] = 8.0f;
        state.ResumeTiming();
        quiet_search();
    }
}
BENCHMARK(BM_SearchTimeConstant)->Unit(benchmark::kMillisecond);

// -T 1 -S 1: 2601 combinations, each shift applied and undone.
void BM_SearchTimeConstantAndShift(benchmark::State &state) {
    set_up_model();
    for (auto _ : state) {
        state.PauseTiming();
        set_up_model();
        reset_GLM_variations();
        add_GLM_variation("1", 1);
        add_GLM_variation("1", 0);
        state.ResumeTiming();
        quiet_search();
    }
}
BENCHMARK(BM_SearchTimeConstantAndShift)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
