// Causal convolution of a fine-grid paradigm with the impulse response or
// with one of the two drug kernels of an event: by direct sums, or, for the
// repeated rebuilds of a parameter search, through transforms.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <fftw3.h>

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

// The kernel that mode applies to event e, at the grid step TR / S: false
// when the mode applies nothing (no active IRF, a zero time constant).
bool kernel_of(int mode, int S, int e, const float **kernel, int *length, OwnedVector<float> &resampled) {
    const float *h = nullptr;
    int m = 0;
    switch (mode) {
    case 0:
        if (!HRF.active) return false;
        h = HRF.irf;
        m = HRF.npoints;
        break;
    case 1:
        if (GLM.time_constant2[e] == 0.0f) return false;
        if (GLM.drug_irf_length[e] == 0 || !GLM.drug_irf_decay[e]) {
            std::printf("Programming error 1 in function GLMInternal_convolve_paradigm_IRF.");
            std::exit(1);
        }
        h = GLM.drug_irf_decay[e];
        m = GLM.drug_irf_length[e];
        break;
    case 2:
        if (GLM.time_constant[e] == 0.0f) return false;
        if (GLM.drug_irf_length[e] == 0 || !GLM.drug_irf_rise[e]) {
            std::printf("Programming error 2 in function GLMInternal_convolve_paradigm_IRF.");
            std::exit(1);
        }
        h = GLM.drug_irf_rise[e];
        m = GLM.drug_irf_length[e];
        break;
    default:
        return false;
    }
    if (!h || m <= 0) return false;
    *kernel = kernel_at_grid_step(h, &m, GLM.tr[0] / static_cast<float>(S), static_cast<std::int64_t>(GLM.ntime) * S,
                                  resampled);
    *length = m;
    return true;
}

// q[i] = sum over k of h[k] * p[i - k] for the n samples of p, added in
// increasing k in single precision. The sum is formed by scattering each input
// sample over its outputs, input samples taken from the last one down, so that
// every output still receives its terms in increasing k; terms of zero input
// samples add nothing and are skipped. The inner loop runs over the kernel, so
// it vectorises without changing any sum.
void convolve_direct(const float *h, std::int64_t m, std::int64_t n, float *p) {
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
}

// Below this summed kernel length the direct sums cost less than transforms.
constexpr std::int64_t MIN_TRANSFORM_KERNEL = 64;
// Kernel chains whose spectra are kept (the IRF alone, the IRF after each of
// a few drug kernels, ...), the least recently used one given up first.
constexpr std::size_t MAX_SPECTRA = 8;

// Real transforms of one length N in double precision, planned by estimation,
// which picks the same algorithm every time, so a convolution repeats exactly.
struct Transform {
    int N = 0;
    double *x = nullptr;
    fftw_complex *X = nullptr;
    fftw_plan forward = nullptr, inverse = nullptr;
    explicit Transform(int length) : N(length) {
        x = static_cast<double *>(fftw_malloc(sizeof(double) * static_cast<std::size_t>(N)));
        X = static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(N / 2 + 1)));
        if (x && X) {
            forward = fftw_plan_dft_r2c_1d(N, x, X, FFTW_ESTIMATE);
            inverse = fftw_plan_dft_c2r_1d(N, X, x, FFTW_ESTIMATE);
        }
        if (!forward || !inverse) {
            std::printf("Error: cannot set up a convolution transform of %d samples.\n", N);
            std::exit(1);
        }
    }
    Transform(const Transform &) = delete;
    Transform &operator=(const Transform &) = delete;
    ~Transform() {
        if (forward) fftw_destroy_plan(forward);
        if (inverse) fftw_destroy_plan(inverse);
        fftw_free(x);
        fftw_free(X);
    }
};

// Spectrum of a chain of kernels (their product, divided by N) at one length,
// with the kernel lengths and samples it was made from.
struct Spectrum {
    int N = 0;
    std::vector<std::int64_t> lengths;
    std::vector<float> samples;
    std::vector<double> values;  // re, im of bins 0 .. N/2
    std::uint64_t used = 0;
};

std::vector<std::unique_ptr<Transform>> transforms;
std::vector<Spectrum> spectra;
std::uint64_t spectrum_clock = 0;

// The transforms of length N, kept with the few lengths used last: a search
// meets a new length with each new drug kernel length, and then mostly keeps it.
Transform &transform_of(int N) {
    constexpr std::size_t MAX_TRANSFORMS = 4;
    for (std::size_t i = 0; i < transforms.size(); ++i)
        if (transforms[i]->N == N) {
            std::rotate(transforms.begin() + i, transforms.begin() + i + 1, transforms.end());
            return *transforms.back();
        }
    if (transforms.size() == MAX_TRANSFORMS) transforms.erase(transforms.begin());
    transforms.push_back(std::make_unique<Transform>(N));
    return *transforms.back();
}

// Smallest length >= L whose only prime factors are 2, 3, 5 and 7, or 0 when
// none fits an int.
int transform_length(std::int64_t L) {
    for (std::int64_t N = L < 1 ? 1 : L; N <= INT_MAX; ++N) {
        std::int64_t r = N;
        for (int f : {2, 3, 5, 7})
            while (r % f == 0) r /= f;
        if (r == 1) return static_cast<int>(N);
    }
    return 0;
}

// The spectrum of the count kernels h[c] (m[c] samples each) at t's length,
// from the store or worked out with t's transform.
const double *spectrum_of(Transform &t, const float *const *h, const std::int64_t *m, int count) {
    Spectrum key;
    key.N = t.N;
    key.lengths.assign(m, m + count);
    for (int c = 0; c < count; ++c) key.samples.insert(key.samples.end(), h[c], h[c] + m[c]);
    for (Spectrum &s : spectra)
        if (s.N == key.N && s.lengths == key.lengths &&
            std::memcmp(s.samples.data(), key.samples.data(), sizeof(float) * key.samples.size()) == 0) {
            s.used = ++spectrum_clock;
            return s.values.data();
        }
    const int bins = t.N / 2 + 1;
    key.values.assign(2 * static_cast<std::size_t>(bins), 0.0);
    for (int b = 0; b < bins; ++b) key.values[2 * b] = 1.0 / t.N;
    for (int c = 0; c < count; ++c) {
        for (int i = 0; i < t.N; ++i) t.x[i] = i < m[c] ? h[c][i] : 0.0;
        fftw_execute(t.forward);
        for (int b = 0; b < bins; ++b) {
            const double re = key.values[2 * b], im = key.values[2 * b + 1];
            key.values[2 * b] = re * t.X[b][0] - im * t.X[b][1];
            key.values[2 * b + 1] = re * t.X[b][1] + im * t.X[b][0];
        }
    }
    key.used = ++spectrum_clock;
    if (spectra.size() < MAX_SPECTRA) {
        spectra.push_back(std::move(key));
        return spectra.back().values.data();
    }
    Spectrum *oldest = &spectra[0];
    for (Spectrum &s : spectra)
        if (s.used < oldest->used) oldest = &s;
    *oldest = std::move(key);
    return oldest->values.data();
}

}  // namespace

int GLMInternal_convolve_paradigm_IRF(int mode, int S, float *p, int e) {
    const float *h = nullptr;
    int m = 0;
    OwnedVector<float> resampled;
    if (kernel_of(mode, S, e, &h, &m, resampled)) convolve_direct(h, m, static_cast<std::int64_t>(GLM.ntime) * S, p);
    return 0;
}

int GLMInternal_convolve_paradigm_kernels(const int *modes, int count, int S, float *p, int e, bool fast) {
    if (count > 3) {
        std::printf("Programming error: %d kernels in a convolution chain.\n", count);
        std::exit(1);
    }
    const std::int64_t n = static_cast<std::int64_t>(GLM.ntime) * S;
    const float *h[3];
    std::int64_t m[3];
    OwnedVector<float> resampled[3];
    int k = 0;
    std::int64_t total = 0;
    for (int c = 0; c < count; ++c) {
        int length = 0;
        if (!kernel_of(modes[c], S, e, &h[k], &length, resampled[k])) continue;
        // Samples beyond the n-th never reach an output.
        m[k] = length < n ? length : n;
        total += m[k++];
    }
    const int N = fast && total >= MIN_TRANSFORM_KERNEL ? transform_length(n + total - k) : 0;
    if (N == 0) {
        for (int c = 0; c < k; ++c) convolve_direct(h[c], m[c], n, p);
        return 0;
    }

    // The chain at once: with N at least the length of the whole linear
    // convolution (n + total - k samples), the circular one of the transforms
    // equals it on the first n samples. Every output before the first non-zero
    // input sample is exactly 0, as in the direct sums.
    std::int64_t first = 0;
    while (first < n && p[first] == 0.0f) ++first;
    if (first == n) {
        for (std::int64_t i = 0; i < n; ++i) p[i] = 0.0f;
        return 0;
    }
    Transform &t = transform_of(N);
    const double *H = spectrum_of(t, h, m, k);
    for (std::int64_t i = 0; i < N; ++i) t.x[i] = i < n ? p[i] : 0.0;
    fftw_execute(t.forward);
    for (int b = 0; b <= N / 2; ++b) {
        const double re = t.X[b][0], im = t.X[b][1];
        t.X[b][0] = re * H[2 * b] - im * H[2 * b + 1];
        t.X[b][1] = re * H[2 * b + 1] + im * H[2 * b];
    }
    fftw_execute(t.inverse);
    for (std::int64_t i = 0; i < n; ++i) p[i] = i < first ? 0.0f : static_cast<float>(t.x[i]);
    return 0;
}

void GLMInternal_release_convolution_transforms() {
    spectra.clear();
    transforms.clear();
}
