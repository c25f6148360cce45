// Per-voxel cost of the band filter and cost of smoothing one AR map (both
// print a few progress lines of their own).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "driver/ar_maps.h"
#include "driver/globals.h"
#include "glm/frequency_filter.h"
#include "glm/state.h"
#include "numerics/arrays.h"

static void BM_FrequencyFilter(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    GLM_reset_model_state();
    GLM.nruns = 1, GLM.ntime = n, GLM.tr[0] = 2.0f;
    GLM_input.residue_frequency_band[0] = 0.01f;
    GLM_input.residue_frequency_band[1] = 0.1f;
    GLMInternal_reset_frequency_filter();
    std::vector<float> y(n);
    for (int t = 0; t < n; ++t) y[t] = std::sin(0.1f * t);
    for (auto _ : state) {
        GLM_FrequencyFilter(1, n, y.data());
        benchmark::DoNotOptimize(y.data());
    }
}
BENCHMARK(BM_FrequencyFilter)->Arg(400)->Arg(1000);

static void BM_SmoothARMap(benchmark::State &state) {
    GLM_reset_model_state();
    file_list_root.nx = 64, file_list_root.ny = 64, file_list_root.nz = 32;
    for (float &r : file_list_root.resolution) r = 3.0f;
    GLM_input.AR_order = 1;
    GLM_input.AR_smoothing = static_cast<float>(state.range(0));
    const int V = 64 * 64 * 32;
    OwnedMatrix<float> maps(V, 2);
    for (int v = 0; v < V; ++v) maps[v][0] = 1.0f, maps[v][1] = static_cast<float>(v % 7) / 7.0f;
    auto_cor = maps.get();
    for (auto _ : state) {
        smooth_AR_maps();
        benchmark::DoNotOptimize(maps[0]);
    }
    auto_cor = nullptr;
}
BENCHMARK(BM_SmoothARMap)->Arg(6)->Arg(12)->Unit(benchmark::kMillisecond);
