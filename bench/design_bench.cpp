// Cost of one design rebuild: 2 runs of 300 time points (TR 2 s), the
// BOLD-monkey impulse response at 0.1 s (a fine grid of 20 samples per TR),
// four square events of 50 stimuli each, three baseline terms per run, with
// and without an AR(2) noise model (whose residual-forming and bias-reduction
// matrices are part of every build).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "glm/basis.h"
#include "glm/hrf_file.h"
#include "glm/state.h"

namespace {

constexpr int kRunLength = 300;

void set_up_design(int ar_order) {
    GLM_reset_model_state();
    GLM_input.nbaseline_terms = 3;
    GLM_input.AR_order = ar_order;
    if (GLM_read_hrf_file(0, "BOLD-monkey")) std::abort();
    for (int r = 0; r < 2; ++r) {
        GLM.tr[r] = 2.0f;
        GLM.run_start[r] = r * kRunLength;
        GLM.run_stop[r] = r * kRunLength + kRunLength - 1;
    }
    GLM.nruns = GLM_input.nruns = 2;
    GLM.ntime = 2 * kRunLength;
    GLM.nevents = 4;
    for (int e = 0; e < 4; ++e) {
        GLM.event_number[e] = e + 1;
        GLM.event_shape[e] = SHAPE_SQUARE;
        GLM.nstims[e] = 50;
        for (int s = 0; s < 50; ++s) {
            // Stimuli of 4 s every 24 s, the four events interleaved.
            const float on = 24.0f * s + 6.0f * e;
            GLM.stim_on[e][s] = on;
            GLM.stim_off[e][s] = on + 4.0f;
            GLM.stim_magnitude[e][s] = 1.0f;
        }
    }
}

void BM_DesignRebuild(benchmark::State &state) {
    set_up_design(static_cast<int>(state.range(0)));
    // The AR matrices print a closing line per build: send it to /dev/null.
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    for (auto _ : state)
        if (GLM_define_basis_functions()) std::abort();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(null);
    close(saved);
    state.counters["nbasis"] = GLM.nbasis;
}
BENCHMARK(BM_DesignRebuild)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
