// Costs of the per-voxel fit path: one fit, the fit set-up, the weight update
// under OLS, and the AR estimate with the whitening of data and design.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "glm/ar_model.h"
#include "glm/basis.h"
#include "glm/fit.h"
#include "glm/state.h"
#include "numerics/arrays.h"

namespace {

float noise(unsigned long long &state) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<float>((state >> 40) / 8388608.0 - 1.0);
}

// A design of ntime points and nbasis columns (random regressors and one
// constant), built as the design builder does, with AR order ar.
struct BenchModel {
    BenchModel(int ntime, int nbasis, int ar) {
        GLM_reset_model_state();
        GLM_input.AR_order = ar;
        GLM.ntime = ntime;
        GLM.nbasis = nbasis;
        GLM.nruns = 1;
        GLM.tr[0] = 2.0f;
        GLM.run_stop[0] = ntime - 1;
        GLMInternal_allocate_model_arrays(ntime, nbasis);
        unsigned long long state = 1;
        for (int t = 0; t < ntime; ++t) {
            for (int b = 0; b < nbasis; ++b) GLM.design_unmasked[t][b] = GLM.design_matrix[t][b] = noise(state);
            GLM.design_unmasked[t][nbasis - 1] = GLM.design_matrix[t][nbasis - 1] = 1.0f;
        }
        GLM.ninclude = ntime;
        GLM.DOF = static_cast<float>(ntime - nbasis);
        GLMInternal_whiten_model(1);
        GLMInternal_complete_model();
        if (ar > 0) {
            GLMInternal_calculate_residual_matrix();
            GLMInternal_calculate_AR_mixing_matrix();
        }
    }
    ~BenchModel() { GLMInternal_release_model_arrays(); }
};

// An AR(1)-like series over the design, seeded.
std::vector<float> series(int n, unsigned long long seed, float rho) {
    std::vector<float> y(n);
    float previous = 0.0f;
    for (int t = 0; t < n; ++t) {
        previous = rho * previous + noise(seed);
        y[t] = 100.0f + 2.0f * GLM.design_unmasked[t][0] + previous;
    }
    return y;
}

void BM_FitOneSeries(benchmark::State &state) {
    const int nt = static_cast<int>(state.range(0));
    BenchModel model(nt, 10, 0);
    const std::vector<float> y = series(nt, 5, 0.3f);
    std::vector<float> fit(nt);
    float chi2;
    for (auto _ : state) {
        GLM_fit_data(nt, y.data(), fit.data(), &chi2);
        benchmark::DoNotOptimize(chi2);
    }
}

void BM_CompleteModel(benchmark::State &state) {
    const int nt = static_cast<int>(state.range(0));
    BenchModel model(nt, 10, 0);
    for (auto _ : state) benchmark::DoNotOptimize(GLMInternal_complete_model());
}

// Under OLS without whitening the weights stay 1 and the set-up is kept.
void BM_UpdateWeightsOLS(benchmark::State &state) {
    const int nt = static_cast<int>(state.range(0));
    BenchModel model(nt, 10, 0);
    const std::vector<float> y = series(nt, 5, 0.3f);
    for (auto _ : state) {
        GLM_Update_Weights(nt, y.data());
        benchmark::ClobberMemory();
    }
}

// One voxel's AR(1) estimate, its filter, and the whitening of its data and
// of the design (with the set-up that follows); two series alternate so that
// the filter changes from one voxel to the next.
void BM_AREstimateAndWhiten(benchmark::State &state) {
    const int nt = static_cast<int>(state.range(0));
    BenchModel model(nt, 10, 1);
    const std::vector<float> a = series(nt, 5, 0.3f), b = series(nt, 6, 0.5f);
    std::vector<float> y(nt);
    float coeff[2];
    std::int16_t order;
    bool flip = false;
    for (auto _ : state) {
        const std::vector<float> &source = flip ? a : b;
        flip = !flip;
        GLM_calculate_AR_coefficient(nt, source.data(), 1, coeff);
        GLM_calculate_whitening_filter(2, coeff, &order);
        y = source;
        GLMInternal_whiten_data(y.data());
        GLMInternal_whiten_model(0);
        benchmark::DoNotOptimize(y.data());
    }
}

// The design-time AR matrices (residual-forming and bias-reduction), order 2.
void BM_BuildARMatrices(benchmark::State &state) {
    const int nt = static_cast<int>(state.range(0));
    BenchModel model(nt, 10, 2);
    for (auto _ : state) {
        GLMInternal_calculate_residual_matrix();
        GLMInternal_calculate_AR_mixing_matrix();
    }
}

}  // namespace

BENCHMARK(BM_FitOneSeries)->Arg(300)->Arg(1200);
BENCHMARK(BM_CompleteModel)->Arg(300)->Arg(1200);
BENCHMARK(BM_UpdateWeightsOLS)->Arg(300)->Arg(1200);
BENCHMARK(BM_AREstimateAndWhiten)->Arg(300)->Arg(1200);
BENCHMARK(BM_BuildARMatrices)->Arg(300)->Arg(1200)->Unit(benchmark::kMillisecond);
