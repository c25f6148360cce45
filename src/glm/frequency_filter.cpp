// Zero-phase band filter of one time series in the frequency domain, and the
// pre-fit filter (whitening, then the band filter) of the voxel loop.
#include "glm/frequency_filter.h"

#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "glm/ar_model.h"
#include "glm/state.h"

namespace {

// Transforms of n points, planned once and shared by all threads: each thread
// executes them on buffers of its own. Planning (which the transform library
// allows on one thread at a time) happens under the lock; a process makes
// plans only when a series is actually filtered. The plans are chosen by the
// library's estimate, not by timing trial transforms, so that every run on a
// machine gets the same plans, hence the same rounding and the same maps.
std::mutex transform_lock;
int planned_n = 0;
fftw_plan plan_forward = nullptr;
fftw_plan plan_reverse = nullptr;
bool first_filter = true;  // band message not yet printed (shared by both modes)

// This thread's transform buffers.
struct Buffers {
    int n = 0;
    double *in = nullptr;
    fftw_complex *out = nullptr;
    ~Buffers() { release(); }
    void release() {
        if (in) fftw_free(in);
        if (out) fftw_free(out);
        in = nullptr;
        out = nullptr;
        n = 0;
    }
};
thread_local Buffers buffers;

// The gain of every bin depends only on the band, TR and n, so it is worked
// out once per mode and reused until one of them changes.
struct GainTable {
    bool valid = false;
    float low = 0.0f, high = 0.0f, tr = 0.0f;
    int n = 0;
    std::vector<float> gain;
};
GainTable gains[2];

void allocate(int n, double **in, fftw_complex **out) {
    *in = static_cast<double *>(fftw_malloc(sizeof(double) * static_cast<std::size_t>(n)));
    *out = static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(n / 2 + 1)));
    if (!*in || !*out) {
        std::printf("Error: cannot allocate the frequency filter buffers for %d time points.\n", n);
        std::exit(1);
    }
}

void release_plans() {
    if (plan_forward) fftw_destroy_plan(plan_forward);
    if (plan_reverse) fftw_destroy_plan(plan_reverse);
    plan_forward = plan_reverse = nullptr;
    planned_n = 0;
}

// Plans for n points (under the lock). The buffers they are planned on are
// allocated like every thread's, so that their alignment is the same.
void make_plans(int n) {
    release_plans();
    double *in;
    fftw_complex *out;
    allocate(n, &in, &out);
    plan_forward = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    plan_reverse = fftw_plan_dft_c2r_1d(n, out, in, FFTW_ESTIMATE);
    fftw_free(in);
    fftw_free(out);
    if (!plan_forward || !plan_reverse) {
        std::printf("Error: cannot plan the frequency filter for %d time points.\n", n);
        std::exit(1);
    }
    planned_n = n;
    for (GainTable &g : gains) g.valid = false;
}

// Squared sixth-order Butterworth edges, evaluated for bins 0 .. n/2 - 1 at the
// frequency (k + 1) / (h TR), h = n / 2: a frequency is a float, the edge
// quotient is a float, the power is double and each gain is rounded to float.
const std::vector<float> &gain_table(int mode, int n, float tr, float low, float high) {
    GainTable &g = gains[mode == 0 ? 0 : 1];
    if (g.valid && g.n == n && g.tr == tr && g.low == low && g.high == high) return g.gain;
    const int nbins = n / 2;
    const float h = static_cast<float>(n / 2.0);
    const double order = 6.0;
    g.gain.assign(static_cast<std::size_t>(nbins), 0.0f);
    for (int k = 0; k < nbins; ++k) {
        const float f = static_cast<float>(((1.0 / tr) * (k + 1)) / h);
        const float g1 = static_cast<float>(1.0 / (std::pow(static_cast<double>(low / f), 2.0 * order) + 1.0));
        const float g2 = static_cast<float>(1.0 / (std::pow(static_cast<double>(f / high), 2.0 * order) + 1.0));
        g.gain[k] = g1 * g2;
    }
    g.valid = true;
    g.n = n;
    g.tr = tr;
    g.low = low;
    g.high = high;
    return g.gain;
}

}  // namespace

void GLMInternal_reset_frequency_filter() {
    std::lock_guard<std::mutex> lock(transform_lock);
    release_plans();
    buffers.release();
    for (GainTable &g : gains) g = GainTable{};
    first_filter = true;
}

void GLM_FrequencyFilter(int mode, int n, float *y) {
    if (n < 1) return;
    float low, high;
    if (mode == 0) {
        low = GLM_input.preGLM_frequency_band[0];
        high = GLM_input.preGLM_frequency_band[1];
        if (low == 0.0f && high == 0.0f && GLM_input.preGLM_phase_shift == 0.0f) return;
    } else {
        low = GLM_input.residue_frequency_band[0];
        high = GLM_input.residue_frequency_band[1];
        if (low == 0.0f && high == 0.0f) return;
    }
    const float tr = GLM.tr[0];

    // Plans, gains and the band message are shared; every caller passes the
    // model's series length, and a different length gets transforms of its
    // own size rather than overrunning the buffers.
    fftw_plan forward, reverse;
    const float *gain;
    {
        std::lock_guard<std::mutex> lock(transform_lock);
        if (planned_n != n) make_plans(n);
        forward = plan_forward;
        reverse = plan_reverse;
        if (first_filter) {
            if (mode == 0)
                std::printf("Frequency band = 0 to %g, filter from %g to %g before GLM\n", 1.0 / tr,
                            static_cast<double>(low), static_cast<double>(high));
            else
                std::printf("Frequency band = 0 to %g, filter from %g to %g after GLM\n", 1.0 / tr,
                            static_cast<double>(low), static_cast<double>(high));
            first_filter = false;
        }
        gain = gain_table(mode, n, tr, low, high).data();
    }
    if (buffers.n != n) {
        buffers.release();
        allocate(n, &buffers.in, &buffers.out);
        buffers.n = n;
    }
    double *in = buffers.in;
    fftw_complex *out = buffers.out;

    for (int t = 0; t < n; ++t) in[t] = y[t];
    fftw_execute_dft_r2c(forward, in, out);
    const int nbins = n / 2;  // the last bin (n/2 for even n, (n-1)/2 for odd n) stays as it is
    for (int k = 0; k < nbins; ++k) {
        out[k][0] *= gain[k];
        out[k][1] *= gain[k];
    }
    fftw_execute_dft_c2r(reverse, out, in);
    for (int t = 0; t < n; ++t) y[t] = static_cast<float>(in[t] / n);
}

int GLM_PreFilter(int mode, int n, float *y) {
    if (GLM.initialized != 2) {
        std::printf("Error in GLM_PreFilter: first initialize the GLM and define stimuli\n");
        return 1;
    }
    if (n != GLM.ntime) {
        std::printf("Error: the number of data time points (%d) does not match the number in the GLM (%d).\n", n,
                    GLM.ntime);
        std::exit(1);
    }
    GLMInternal_whiten_data(y);
    GLMInternal_whiten_model(0);  // whitens and, with the before-fit band, filters the design
    if (mode == 0 && GLM_prefilter_active())
        GLMInternal_filter_masked(y);
    else
        GLM_FrequencyFilter(mode, n, y);
    return 0;
}

bool GLM_prefilter_active() {
    return GLM_input.preGLM_frequency_band[0] != 0.0f || GLM_input.preGLM_frequency_band[1] != 0.0f ||
           GLM_input.preGLM_phase_shift != 0.0f;
}

void GLMInternal_filter_masked(float *y) {
    const int n = GLM.ntime;
    for (int t = 0; t < n; ++t)
        if (!GLM.include[t]) y[t] = 0.0f;
    GLM_FrequencyFilter(0, n, y);
    for (int t = 0; t < n; ++t)
        if (!GLM.include[t]) y[t] = 0.0f;
}

double GLMInternal_filtered_noise_trace() {
    // The filter is circular: F[i][j] = f((i - j) mod n) with f its response to
    // an impulse at 0, and F is symmetric (real gains). With M the inclusion
    // mask, the noise M F M e has covariance (M F M)^2, whose trace is the sum
    // over included i, j of f(i - j)^2.
    const int n = GLM.ntime;
    std::vector<float> f(static_cast<std::size_t>(n), 0.0f);
    if (n > 0) f[0] = 1.0f;
    GLM_FrequencyFilter(0, n, f.data());
    std::vector<int> included;
    for (int t = 0; t < n; ++t)
        if (GLM.include[t]) included.push_back(t);
    double trace = 0.0;
    for (int i : included)
        for (int j : included) {
            const double v = f[static_cast<std::size_t>((i - j + n) % n)];
            trace += v * v;
        }
    return trace;
}
