// Causal convolution of a fine-grid paradigm with the impulse response or
// with one of the two drug kernels of an event.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "glm/paradigm.h"
#include "glm/state.h"
#include "numerics/arrays.h"

namespace {

// The IRF and the drug kernels are sampled every HRF.resolution seconds, the
// grid every TR / S. When the two steps differ by more than float rounding
// (a resolution that does not divide TR / S), the kernel h of m samples is
// interpolated linearly at the grid step over the span it covers, into
// resampled; otherwise it is used as it is. Samples beyond the n of the grid
// would never be applied and are not made. Returns the kernel to apply.
const float *kernel_at_grid_step(const float *h, int *m, float step, std::int64_t n, OwnedVector<float> &resampled) {
    const float r = HRF.resolution;
    if (!(r > 0.0f) || !(step > 0.0f) || std::fabs(step - r) <= 4.0f * FLT_EPSILON * r) return h;
    // Kernel samples per grid step: at least 1/2 with an active IRF, since S is
    // TR / resolution rounded; without one the drug kernels are sampled at TR.
    const double ratio = static_cast<double>(step) / r;
    const std::int64_t full = static_cast<std::int64_t>((*m - 1) / ratio + 1e-9) + 1;
    const int length = static_cast<int>(full < n ? full : n);
    resampled = OwnedVector<float>(length);
    for (int j = 0; j < length; ++j) {
        const double x = j * ratio;
        const int k = static_cast<int>(x);
        const double w = x - k;
        resampled[j] = k + 1 < *m ? static_cast<float>((1.0 - w) * h[k] + w * h[k + 1]) : h[*m - 1];
    }
    *m = length;
    return resampled.get();
}

}  // namespace

int GLMInternal_convolve_paradigm_IRF(int mode, int S, float *p, int e) {
    const float *h = nullptr;
    int m = 0;
    switch (mode) {
    case 0:
        if (!HRF.active) return 0;
        h = HRF.irf;
        m = HRF.npoints;
        break;
    case 1:
        if (GLM.time_constant2[e] == 0.0f) return 0;
        if (GLM.drug_irf_length[e] == 0 || !GLM.drug_irf_decay[e]) {
            std::printf("Programming error 1 in function GLMInternal_convolve_paradigm_IRF.");
            std::exit(1);
        }
        h = GLM.drug_irf_decay[e];
        m = GLM.drug_irf_length[e];
        break;
    case 2:
        if (GLM.time_constant[e] == 0.0f) return 0;
        if (GLM.drug_irf_length[e] == 0 || !GLM.drug_irf_rise[e]) {
            std::printf("Programming error 2 in function GLMInternal_convolve_paradigm_IRF.");
            std::exit(1);
        }
        h = GLM.drug_irf_rise[e];
        m = GLM.drug_irf_length[e];
        break;
    default:
        return 0;
    }
    if (!h || m <= 0) return 0;
    const std::int64_t n = static_cast<std::int64_t>(GLM.ntime) * S;
    OwnedVector<float> resampled;
    h = kernel_at_grid_step(h, &m, GLM.tr[0] / static_cast<float>(S), n, resampled);

    // q[i] = sum over k of h[k] * p[i - k], added in increasing k in single
    // precision. The sum is formed by scattering each input sample over its
    // outputs, input samples taken from the last one down, so that every
    // output still receives its terms in increasing k; terms of zero input
    // samples add nothing and are skipped. The inner loop runs over the
    // kernel, so it vectorises without changing any sum.
    OwnedVector<float> q(n);
    for (std::int64_t i = 0; i < n; ++i) q[i] = 0.0f;
    float *out = q.get();
    for (std::int64_t j = n - 1; j >= 0; --j) {
        const float x = p[j];
        if (x == 0.0f) continue;
        const std::int64_t kmax = (n - j < m) ? n - j : m;
        float *o = out + j;
        for (std::int64_t k = 0; k < kmax; ++k) o[k] += h[k] * x;
    }
    for (std::int64_t i = 0; i < n; ++i) p[i] = q[i];
    return 0;
}
