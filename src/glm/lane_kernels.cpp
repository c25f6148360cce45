#include "glm/lane_kernels.h"

#include <cmath>

// Each kernel is compiled twice, for the baseline processor and for one with
// AVX2 and FMA; the loader picks the version once per process.
#if defined(__x86_64__)
#define LANE_KERNEL __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define LANE_KERNEL
#endif

LANE_KERNEL void lanes_project(int nb, int nt, const float *P, const float *y, std::int64_t pitch, const int *include,
                               float *beta) {
    for (int i = 0; i < nb * kLanes; ++i) beta[i] = 0.0f;
    for (int t = 0; t < nt; ++t) {
        if (!include[t]) continue;  // adds include[t] y[t] = 0
        const float *yt = y + t * pitch;
        for (int b = 0; b < nb; ++b) {
            const float p = P[static_cast<std::int64_t>(b) * nt + t];
            float *acc = beta + b * kLanes;
            for (int l = 0; l < kLanes; ++l) acc[l] += p * yt[l];
        }
    }
}

LANE_KERNEL void lanes_residual(int nb, int nt, const float *X, const float *y, std::int64_t pitch, const int *include,
                                const float *beta, float *r, float *squares, float *largest) {
    float sq[kLanes], big[kLanes];
    for (int l = 0; l < kLanes; ++l) sq[l] = big[l] = 0.0f;
    for (int t = 0; t < nt; ++t) {
        const float *xt = X + static_cast<std::int64_t>(t) * nb;
        const float *yt = y + t * pitch;
        const float m = static_cast<float>(include[t]);
        float s[kLanes];
        for (int l = 0; l < kLanes; ++l) s[l] = 0.0f;
        for (int b = 0; b < nb; ++b) {
            const float x = xt[b];
            const float *bb = beta + b * kLanes;
            for (int l = 0; l < kLanes; ++l) s[l] += x * bb[l];
        }
        for (int l = 0; l < kLanes; ++l) {
            const float v = m * yt[l];
            const float e = v - s[l];
            sq[l] += e * e;
            const float a = std::fabs(v);
            big[l] = a > big[l] ? a : big[l];
            if (r) r[t * kLanes + l] = e;
        }
    }
    for (int l = 0; l < kLanes; ++l) squares[l] = sq[l], largest[l] = big[l];
}

LANE_KERNEL void lanes_combine(int nb, int nt, const float *U, const float *beta, float *out) {
    for (int t = 0; t < nt; ++t) {
        const float *ut = U + static_cast<std::int64_t>(t) * nb;
        float s[kLanes];
        for (int l = 0; l < kLanes; ++l) s[l] = 0.0f;
        for (int b = 0; b < nb; ++b) {
            const float u = ut[b];
            const float *bb = beta + b * kLanes;
            for (int l = 0; l < kLanes; ++l) s[l] += u * bb[l];
        }
        for (int l = 0; l < kLanes; ++l) out[t * kLanes + l] = s[l];
    }
}

LANE_KERNEL void lanes_weighted_products(int nb, int nt, const float *X, const float *w, const float *r, float *N,
                                         float *rhs) {
    for (int i = 0; i < nb * nb * kLanes; ++i) N[i] = 0.0f;
    if (r)
        for (int i = 0; i < nb * kLanes; ++i) rhs[i] = 0.0f;
    for (int t = 0; t < nt; ++t) {
        const float *xt = X + static_cast<std::int64_t>(t) * nb;
        const float *wt = w + t * kLanes;
        for (int i = 0; i < nb; ++i) {
            const float xi = xt[i];
            if (xi == 0.0f) continue;  // adds only zeros
            float xw[kLanes];
            for (int l = 0; l < kLanes; ++l) xw[l] = xi * wt[l];
            float *row = N + (i * nb) * kLanes;
            for (int j = i; j < nb; ++j) {
                const float xj = xt[j];
                float *acc = row + j * kLanes;
                for (int l = 0; l < kLanes; ++l) acc[l] += xw[l] * xj;
            }
            if (r) {
                const float *rt = r + t * kLanes;
                float *acc = rhs + i * kLanes;
                for (int l = 0; l < kLanes; ++l) acc[l] += xw[l] * rt[l];
            }
        }
    }
}

LANE_KERNEL void lanes_project_double(int nb, int nt, const float *X, const float *z, double *rhs) {
    for (int i = 0; i < nb * kLanes; ++i) rhs[i] = 0.0;
    for (int t = 0; t < nt; ++t) {
        const float *xt = X + static_cast<std::int64_t>(t) * nb;
        double zt[kLanes];
        for (int l = 0; l < kLanes; ++l) zt[l] = z[t * kLanes + l];
        for (int b = 0; b < nb; ++b) {
            const double x = xt[b];
            if (x == 0.0) continue;
            double *acc = rhs + b * kLanes;
            for (int l = 0; l < kLanes; ++l) acc[l] += x * zt[l];
        }
    }
}

LANE_KERNEL void lanes_whiten(int nt, const LaneFilter &filter, const float *in, std::int64_t pitch, float *out) {
    const int p = filter.p;
    for (int t = 0; t < nt; ++t)
        for (int l = 0; l < kLanes; ++l) out[t * kLanes + l] = 0.0f;
    for (int b = 0; b < filter.nblocks; ++b) {
        const int s0 = filter.blocks[2 * b], s1 = filter.blocks[2 * b + 1];
        for (int t = s0; t <= s1; ++t) {
            const int k = t - s0;
            float s[kLanes];
            for (int l = 0; l < kLanes; ++l) s[l] = 0.0f;
            if (k < p) {
                const float *h = filter.head + (k * (k + 1) / 2) * kLanes;
                for (int j = 0; j <= k; ++j) {
                    const float *x = in + (s0 + j) * pitch;
                    for (int l = 0; l < kLanes; ++l) s[l] += h[j * kLanes + l] * x[l];
                }
            } else {
                for (int i = p; i >= 0; --i) {
                    const float *x = in + (t - i) * pitch;
                    const float *f = filter.tap + i * kLanes;
                    for (int l = 0; l < kLanes; ++l) s[l] += f[l] * x[l];
                }
            }
            for (int l = 0; l < kLanes; ++l) out[t * kLanes + l] = s[l];
        }
    }
}

LANE_KERNEL void lanes_whiten_transposed(int nt, const LaneFilter &filter, const float *in, float *out) {
    const int p = filter.p;
    for (int t = 0; t < nt; ++t)
        for (int l = 0; l < kLanes; ++l) out[t * kLanes + l] = 0.0f;
    for (int b = 0; b < filter.nblocks; ++b) {
        const int s0 = filter.blocks[2 * b], s1 = filter.blocks[2 * b + 1];
        for (int t = s0; t <= s1; ++t) {
            const int k = t - s0;
            const float *v = in + t * kLanes;
            if (k < p) {
                const float *h = filter.head + (k * (k + 1) / 2) * kLanes;
                for (int j = 0; j <= k; ++j) {
                    float *o = out + (s0 + j) * kLanes;
                    for (int l = 0; l < kLanes; ++l) o[l] += h[j * kLanes + l] * v[l];
                }
            } else {
                for (int i = p; i >= 0; --i) {
                    float *o = out + (t - i) * kLanes;
                    const float *f = filter.tap + i * kLanes;
                    for (int l = 0; l < kLanes; ++l) o[l] += f[l] * v[l];
                }
            }
        }
    }
}
