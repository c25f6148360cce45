#include "glm/lane_kernels.h"

#include <cstring>

// Each kernel is compiled twice, for the baseline processor and for one with
// AVX2 and FMA; the loader picks the version once per process. The lanes are
// vectors of the compiler (eight floats, or eight doubles), so that every
// lane goes through the same instructions. The version choice runs before a
// sanitizer's run-time is ready, so sanitizer builds keep the baseline one;
// clang (the fuzzing build) refuses eight-float vectors between the helpers
// of a version without AVX, so it keeps the baseline one too.
#if defined(__x86_64__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define LANE_KERNEL __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define LANE_KERNEL
#endif

// The helpers below are inlined into the kernels: the warning about the
// calling convention of vector arguments concerns calls that never happen.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

typedef float Lanes __attribute__((vector_size(kLanes * sizeof(float))));
typedef float Half __attribute__((vector_size(kLanes / 2 * sizeof(float))));
typedef double HalfD __attribute__((vector_size(kLanes / 2 * sizeof(double))));
static_assert(sizeof(Lanes) == kLanes * sizeof(float));

typedef long long HalfMask __attribute__((vector_size(kLanes / 2 * sizeof(long long))));

// Eight doubles as two vectors of four (one register each with AVX).
struct LanesD {
    HalfD lo, hi;
};
[[gnu::always_inline]] inline LanesD operator+(LanesD a, LanesD b) { return {a.lo + b.lo, a.hi + b.hi}; }
[[gnu::always_inline]] inline LanesD operator-(LanesD a, LanesD b) { return {a.lo - b.lo, a.hi - b.hi}; }
[[gnu::always_inline]] inline LanesD operator*(LanesD a, LanesD b) { return {a.lo * b.lo, a.hi * b.hi}; }
[[gnu::always_inline]] inline LanesD operator*(double x, LanesD b) { return {x * b.lo, x * b.hi}; }
[[gnu::always_inline]] inline LanesD &operator+=(LanesD &a, LanesD b) { return a = a + b; }
[[gnu::always_inline]] inline LanesD operator/(LanesD a, LanesD b) { return {a.lo / b.lo, a.hi / b.hi}; }
[[gnu::always_inline]] inline LanesD operator-(double x, LanesD b) { return {x - b.lo, x - b.hi}; }
[[gnu::always_inline]] inline LanesD &operator-=(LanesD &a, LanesD b) { return a = a - b; }
[[gnu::always_inline]] inline LanesD splat(double x) { return {HalfD{} + x, HalfD{} + x}; }
struct MaskD {
    HalfMask lo, hi;
};
[[gnu::always_inline]] inline MaskD operator&(MaskD a, MaskD b) { return {a.lo & b.lo, a.hi & b.hi}; }
[[gnu::always_inline]] inline MaskD operator<(LanesD a, LanesD b) { return {a.lo < b.lo, a.hi < b.hi}; }
[[gnu::always_inline]] inline MaskD operator>(LanesD a, LanesD b) { return {a.lo > b.lo, a.hi > b.hi}; }
[[gnu::always_inline]] inline MaskD operator!=(LanesD a, LanesD b) { return {a.lo != b.lo, a.hi != b.hi}; }
[[gnu::always_inline]] inline LanesD select(MaskD m, LanesD a, LanesD b) { return {m.lo ? a.lo : b.lo, m.hi ? a.hi : b.hi}; }
[[gnu::always_inline]] inline LanesD magnitude(LanesD v) { return select(v < splat(0.0), splat(0.0) - v, v); }
[[gnu::always_inline]] inline LanesD root(LanesD v) {
    LanesD r;
    for (int l = 0; l < kLanes / 2; ++l) r.lo[l] = __builtin_sqrt(v.lo[l]), r.hi[l] = __builtin_sqrt(v.hi[l]);
    return r;
}
[[gnu::always_inline]] inline unsigned lanes_of(MaskD m) {
    unsigned bits = 0;
    for (int l = 0; l < kLanes / 2; ++l) bits |= (m.lo[l] ? 1u : 0u) << l | (m.hi[l] ? 1u : 0u) << (l + kLanes / 2);
    return bits;
}
[[gnu::always_inline]] inline LanesD widen(Lanes v) {
    Half lo, hi;
    std::memcpy(&lo, &v, sizeof lo);
    std::memcpy(&hi, reinterpret_cast<const char *>(&v) + sizeof lo, sizeof hi);
    return {__builtin_convertvector(lo, HalfD), __builtin_convertvector(hi, HalfD)};
}

[[gnu::always_inline]] inline Lanes load(const float *p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
[[gnu::always_inline]] inline void store(float *p, Lanes v) { std::memcpy(p, &v, sizeof v); }
[[gnu::always_inline]] inline LanesD load(const double *p) {
    LanesD v;
    std::memcpy(&v.lo, p, sizeof v.lo);
    std::memcpy(&v.hi, p + kLanes / 2, sizeof v.hi);
    return v;
}
[[gnu::always_inline]] inline void store(double *p, LanesD v) {
    std::memcpy(p, &v.lo, sizeof v.lo);
    std::memcpy(p + kLanes / 2, &v.hi, sizeof v.hi);
}
[[gnu::always_inline]] inline Lanes magnitude(Lanes v) { return v < 0.0f ? -v : v; }
[[gnu::always_inline]] inline LanesD widen(LanesD v) { return v; }

// a[k] = sum over t >= k of e[t] e[t - k], t increasing, for the lags first
// ... order, from the residuals stored in e (nt x kLanes): the lags beyond
// those an autocovariance kernel keeps in registers.
template <typename E>
[[gnu::always_inline]] inline void stored_lag_sums(int first, int order, int nt, const E *e, double *a) {
    for (int k = first; k <= order; ++k) {
        LanesD sum = splat(0.0);
        for (int t = k; t < nt; ++t) sum += widen(load(e + t * kLanes)) * widen(load(e + (t - k) * kLanes));
        store(a + k * kLanes, sum);
    }
}

}  // namespace

LANE_KERNEL void lanes_project(int nb, int nt, const float *P, const float *y, std::int64_t pitch, const int *include,
                               float *beta) {
    // Up to eight coefficients at a time, their sums carried in registers
    // over t (each in t order).
    for (int b0 = 0; b0 < nb; b0 += 8) {
        const int count = nb - b0 < 8 ? nb - b0 : 8;
        Lanes s[8];
        for (int k = 0; k < 8; ++k) s[k] = Lanes{};
        for (int t = 0; t < nt; ++t) {
            if (!include[t]) continue;  // adds include[t] y[t] = 0
            const Lanes v = load(y + t * pitch);
            const float *pt = P + static_cast<std::int64_t>(b0) * nt + t;
            for (int k = 0; k < 8; ++k)
                if (k < count) s[k] += pt[static_cast<std::int64_t>(k) * nt] * v;
        }
        for (int k = 0; k < count; ++k) store(beta + (b0 + k) * kLanes, s[k]);
    }
}

LANE_KERNEL void lanes_residual(int nb, int nt, const float *X, const float *y, std::int64_t pitch, const int *include,
                                const float *beta, float *r, float *squares, float *largest) {
    Lanes sq{}, big{};
    for (int t = 0; t < nt; ++t) {
        const float *xt = X + static_cast<std::int64_t>(t) * nb;
        Lanes s{};
        for (int b = 0; b < nb; ++b) s += xt[b] * load(beta + b * kLanes);
        const Lanes v = static_cast<float>(include[t]) * load(y + t * pitch);
        const Lanes e = v - s;
        sq += e * e;
        const Lanes a = magnitude(v);
        big = a > big ? a : big;
        if (r) store(r + t * kLanes, e);
    }
    store(squares, sq);
    store(largest, big);
}

LANE_KERNEL void lanes_combine(int nb, int nt, const float *U, const float *beta, float *out) {
    for (int t = 0; t < nt; ++t) {
        const float *ut = U + static_cast<std::int64_t>(t) * nb;
        Lanes s{};
        for (int b = 0; b < nb; ++b) s += ut[b] * load(beta + b * kLanes);
        store(out + t * kLanes, s);
    }
}

LANE_KERNEL void lanes_project_wide(int nb, int nt, const float *P, const float *y, std::int64_t pitch,
                                    const int *include, double *beta) {
    int b = 0;
    for (; b + 4 <= nb; b += 4) {
        const float *p0 = P + static_cast<std::int64_t>(b) * nt, *p1 = p0 + nt, *p2 = p1 + nt, *p3 = p2 + nt;
        LanesD s0{}, s1{}, s2{}, s3{};
        for (int t = 0; t < nt; ++t) {
            if (!include[t]) continue;
            const LanesD v = widen(load(y + t * pitch));
            s0 += static_cast<double>(p0[t]) * v;
            s1 += static_cast<double>(p1[t]) * v;
            s2 += static_cast<double>(p2[t]) * v;
            s3 += static_cast<double>(p3[t]) * v;
        }
        store(beta + b * kLanes, s0);
        store(beta + (b + 1) * kLanes, s1);
        store(beta + (b + 2) * kLanes, s2);
        store(beta + (b + 3) * kLanes, s3);
    }
    for (; b < nb; ++b) {
        const float *pb = P + static_cast<std::int64_t>(b) * nt;
        LanesD s{};
        for (int t = 0; t < nt; ++t)
            if (include[t]) s += static_cast<double>(pb[t]) * widen(load(y + t * pitch));
        store(beta + b * kLanes, s);
    }
}

LANE_KERNEL void lanes_autocovariances(int nb, int nt, const float *X, const float *y, std::int64_t pitch,
                                       const int *include, const double *beta, int order, double *e, double *a) {
    // The sums of the first lags stay in registers, each over t increasing;
    // higher lags are summed afterwards from the stored residuals.
    const int held = order < kMaxLaneOrder ? order : kMaxLaneOrder;
    LanesD sums[kMaxLaneOrder + 1];
    for (int k = 0; k <= held; ++k) sums[k] = splat(0.0);
    for (int t = 0; t < nt; ++t) {
        LanesD r{};
        if (include[t]) {
            const float *xt = X + static_cast<std::int64_t>(t) * nb;
            LanesD s{};
            for (int b = 0; b < nb; ++b) s += static_cast<double>(xt[b]) * load(beta + b * kLanes);
            r = widen(load(y + t * pitch)) - s;
        }
        store(e + t * kLanes, r);
        for (int k = 0; k <= held && k <= t; ++k) sums[k] += r * load(e + (t - k) * kLanes);
    }
    for (int k = 0; k <= held; ++k) store(a + k * kLanes, sums[k]);
    stored_lag_sums(held + 1, order, nt, e, a);
}

LANE_KERNEL void lanes_centred_autocovariances(int nb, int nt, const float *P, const float *X, const float *y,
                                               std::int64_t pitch, const int *include, int order, float *e, double *a) {
    int first = 0;
    while (first < nt && !include[first]) ++first;
    if (first == nt) {
        for (int k = 0; k <= order; ++k) store(a + k * kLanes, splat(0.0));
        return;
    }
    const Lanes centre = load(y + first * pitch);
    // Coefficients of the differences, eight at a time.
    Lanes beta[kMaxLaneBasis];
    for (int b0 = 0; b0 < nb; b0 += 8) {
        const int count = nb - b0 < 8 ? nb - b0 : 8;
        Lanes s[8];
        for (int k = 0; k < 8; ++k) s[k] = Lanes{};
        for (int t = 0; t < nt; ++t) {
            if (!include[t]) continue;
            const Lanes v = load(y + t * pitch) - centre;
            const float *pt = P + t;
            for (int k = 0; k < 8; ++k)
                if (k < count) s[k] += pt[static_cast<std::int64_t>(b0 + k) * nt] * v;
        }
        for (int k = 0; k < count; ++k) beta[b0 + k] = s[k];
    }
    const int held = order < kMaxLaneOrder ? order : kMaxLaneOrder;  // as above
    LanesD sums[kMaxLaneOrder + 1];
    for (int k = 0; k <= held; ++k) sums[k] = splat(0.0);
    for (int t = 0; t < nt; ++t) {
        Lanes r{};
        if (include[t]) {
            const float *xt = X + static_cast<std::int64_t>(t) * nb;
            Lanes s{};
            for (int b = 0; b < nb; ++b) s += xt[b] * beta[b];
            r = (load(y + t * pitch) - centre) - s;
        }
        store(e + t * kLanes, r);
        const LanesD rd = widen(r);
        for (int k = 0; k <= held && k <= t; ++k) sums[k] += rd * widen(load(e + (t - k) * kLanes));
    }
    for (int k = 0; k <= held; ++k) store(a + k * kLanes, sums[k]);
    stored_lag_sums(held + 1, order, nt, e, a);
}

namespace {

// Sums out[k][l] = sum over included t of G[t][k] v[t][l] for `Units` groups
// of eight columns from `first` and four lanes from `lane`: the columns are
// the vectors, the lanes' values are broadcast.
template <int Units>
[[gnu::always_inline]] inline void weighted_sums_block(int stride, int first, int lane, int nt, const int *include,
                                                       const float *G, const float *v, float *out) {
    Lanes acc[4][Units];
    for (int l = 0; l < 4; ++l)
        for (int u = 0; u < Units; ++u) acc[l][u] = Lanes{};
    for (int t = 0; t < nt; ++t) {
        if (!include[t]) continue;
        const float *g = G + static_cast<std::int64_t>(t) * stride + first;
        const float *vt = v + t * kLanes + lane;
        Lanes column[Units];
        for (int u = 0; u < Units; ++u) column[u] = load(g + u * kLanes);
        for (int l = 0; l < 4; ++l)
            for (int u = 0; u < Units; ++u) acc[l][u] += column[u] * vt[l];
    }
    for (int u = 0; u < Units; ++u)
        for (int k = 0; k < kLanes; ++k)
            for (int l = 0; l < 4; ++l) out[(first + u * kLanes + k) * kLanes + lane + l] = acc[l][u][k];
}

}  // namespace

LANE_KERNEL void lanes_weighted_sums(int columns, int stride, int segment, int nt, const int *include,
                                     const float *G, const float *v, const float *v2, float *out) {
    for (int first = 0; first < columns;) {
        const int end = first < segment ? (segment < columns ? segment : columns) : columns;
        const float *values = first < segment ? v : v2;
        const bool pair = end - first >= 2 * kLanes;
        for (int lane = 0; lane < kLanes; lane += 4) {
            if (pair)
                weighted_sums_block<2>(stride, first, lane, nt, include, G, values, out);
            else
                weighted_sums_block<1>(stride, first, lane, nt, include, G, values, out);
        }
        first += pair ? 2 * kLanes : kLanes;
    }
}

LANE_KERNEL void lanes_residual_total(int nt, const int *include, const float *r, const float *floor, float *total) {
    const Lanes f = load(floor);
    Lanes sum{};
    for (int t = 0; t < nt; ++t) sum += static_cast<float>(include[t]) * (magnitude(load(r + t * kLanes)) + f);
    store(total, sum);
}

LANE_KERNEL void lanes_reweight(int nt, const int *include, const float *r, const float *floor, const float *mean,
                                unsigned active, float *w) {
    const Lanes f = load(floor), m = load(mean);
    Lanes keep;
    for (int l = 0; l < kLanes; ++l) keep[l] = (active >> l) & 1u ? 0.0f : 1.0f;
    for (int t = 0; t < nt; ++t) {
        const Lanes e = static_cast<float>(include[t]) * (magnitude(load(r + t * kLanes)) + f) / m;
        const Lanes weight = e != 0.0f ? 1.0f / (e * e) : Lanes{};
        store(w + t * kLanes, keep != 0.0f ? load(w + t * kLanes) : weight);
    }
}

LANE_KERNEL void lanes_absolute_sum(int nt, const int *include, const float *r, double *absolute) {
    LanesD sum = splat(0.0);
    for (int t = 0; t < nt; ++t)
        if (include[t]) sum += widen(magnitude(load(r + t * kLanes)));
    store(absolute, sum);
}

LANE_KERNEL void lanes_order_statistic(int nt, const int *include, const float *r, int rank, float *out) {
    // Bisection on the bit patterns of |r|, which order non-negative floats as
    // integers: the smallest pattern u with more than rank values <= u.
    typedef int Ints __attribute__((vector_size(kLanes * sizeof(int))));
    Ints lo{}, hi = Ints{} + 0x7f800000;
    const Ints mask = Ints{} + 0x7fffffff;
    for (int step = 0; step < 31; ++step) {
        const Ints mid = lo + ((hi - lo) >> 1);
        Ints count{};
        for (int t = 0; t < nt; ++t) {
            if (!include[t]) continue;
            Ints bits;
            const Lanes v = load(r + t * kLanes);
            std::memcpy(&bits, &v, sizeof bits);
            count -= (bits & mask) <= mid;  // a true comparison is -1
        }
        const Ints enough = count > rank;
        hi = enough ? mid : hi;
        lo = enough ? lo : mid + 1;
    }
    std::memcpy(out, &hi, sizeof hi);
}

LANE_KERNEL void lanes_project_double(int nb, int nt, const float *X, const float *z, double *rhs) {
    int b = 0;
    for (; b + 4 <= nb; b += 4) {
        LanesD s0{}, s1{}, s2{}, s3{};
        for (int t = 0; t < nt; ++t) {
            const float *xt = X + static_cast<std::int64_t>(t) * nb + b;
            const LanesD zt = widen(load(z + t * kLanes));
            s0 += static_cast<double>(xt[0]) * zt;
            s1 += static_cast<double>(xt[1]) * zt;
            s2 += static_cast<double>(xt[2]) * zt;
            s3 += static_cast<double>(xt[3]) * zt;
        }
        store(rhs + b * kLanes, s0);
        store(rhs + (b + 1) * kLanes, s1);
        store(rhs + (b + 2) * kLanes, s2);
        store(rhs + (b + 3) * kLanes, s3);
    }
    for (; b < nb; ++b) {
        LanesD s{};
        for (int t = 0; t < nt; ++t) s += static_cast<double>(X[static_cast<std::int64_t>(t) * nb + b]) * widen(load(z + t * kLanes));
        store(rhs + b * kLanes, s);
    }
}

namespace {

// Row t (block position k, block start s0) of the whitening of lanes: the
// sum over the row's columns s, increasing, of W[t][s] in[s].
[[gnu::always_inline]] inline Lanes whitened_row(const LaneFilter &filter, int t, int s0, const float *in,
                                                std::int64_t pitch) {
    const int p = filter.p, k = t - s0;
    Lanes s{};
    if (k < p) {
        const float *h = filter.head + (k * (k + 1) / 2) * kLanes;
        for (int j = 0; j <= k; ++j) s += load(h + j * kLanes) * load(in + (s0 + j) * pitch);
    } else {
        for (int i = p; i >= 0; --i) s += load(filter.tap + i * kLanes) * load(in + (t - i) * pitch);
    }
    return s;
}

}  // namespace

LANE_KERNEL void lanes_whiten_gram(int nt, const LaneFilter &filter, const float *y, std::int64_t pitch, float *z,
                                   float *largest) {
    const int p = filter.p;
    Lanes big{};
    for (int t = 0; t < nt * kLanes; ++t) z[t] = 0.0f;
    for (int b = 0; b < filter.nblocks; ++b) {
        const int s0 = filter.blocks[2 * b], s1 = filter.blocks[2 * b + 1];
        for (int t = s0; t <= s1; ++t) {
            const Lanes v = whitened_row(filter, t, s0, y, pitch);
            const Lanes a = magnitude(v);
            big = a > big ? a : big;
            const int k = t - s0;
            if (k < p) {
                const float *h = filter.head + (k * (k + 1) / 2) * kLanes;
                for (int j = 0; j <= k; ++j) {
                    float *o = z + (s0 + j) * kLanes;
                    store(o, load(o) + load(h + j * kLanes) * v);
                }
            } else {
                for (int i = p; i >= 0; --i) {
                    float *o = z + (t - i) * kLanes;
                    store(o, load(o) + load(filter.tap + i * kLanes) * v);
                }
            }
        }
    }
    store(largest, big);
}

namespace {

// The sweep of lanes_whitened_squares; P > 0 fixes the filter's order at
// compile time (the lagged sums then stay in registers), P = 0 takes it from
// the filter.
template <int P>
[[gnu::always_inline]] inline void whitened_squares_sweep(int nb, int nt, const LaneFilter &filter, const float *X,
                                                          const float *y, std::int64_t pitch, const int *include,
                                                          const float *beta, float *u, float *squares, int count,
                                                          const LaneFilter *others, float *cross) {
    // The products with B_k u: on the rows that take the taps through the
    // lagged sums of (W u)[t] u[t - i], i = 0 ... p, which serve every B_k
    // (when p allows); on the others row by row.
    const int p = P > 0 ? P : filter.p;
    const bool lagged = count > 0 && p <= kMaxLaneOrder;
    Lanes sq{}, sums[kMaxLaneOrder], lag[P > 0 ? P + 1 : kMaxLaneOrder + 1];
    for (int k = 0; k < count; ++k) sums[k] = Lanes{};
    for (int i = 0; i <= p && i <= kMaxLaneOrder; ++i) lag[i] = Lanes{};
    int block = 0;
    for (int t = 0; t < nt; ++t) {
        const float *xt = X + static_cast<std::int64_t>(t) * nb;
        Lanes s{};
        for (int b = 0; b < nb; ++b) s += xt[b] * load(beta + b * kLanes);
        store(u + t * kLanes, static_cast<float>(include[t]) * load(y + t * pitch) - s);
        if (block < filter.nblocks && t >= filter.blocks[2 * block]) {
            const int s0 = filter.blocks[2 * block];
            const Lanes r = whitened_row(filter, t, s0, u, kLanes);
            sq += r * r;
            if (lagged && t - s0 >= p) {
                for (int i = 0; i <= p; ++i) lag[i] += r * load(u + (t - i) * kLanes);
            } else {
                for (int k = 0; k < count; ++k) sums[k] += r * whitened_row(others[k], t, s0, u, kLanes);
            }
            if (t == filter.blocks[2 * block + 1]) ++block;
        }
    }
    store(squares, sq);
    for (int k = 0; k < count; ++k) {
        for (int i = 0; i <= p && lagged; ++i) sums[k] += load(others[k].tap + i * kLanes) * lag[i];
        store(cross + k * kLanes, sums[k]);
    }
}

}  // namespace

LANE_KERNEL void lanes_whitened_squares(int nb, int nt, const LaneFilter &filter, const float *X, const float *y,
                                        std::int64_t pitch, const int *include, const float *beta, float *u,
                                        float *squares, int count, const LaneFilter *others, float *cross) {
    if (count > 0 && filter.p == 1)
        whitened_squares_sweep<1>(nb, nt, filter, X, y, pitch, include, beta, u, squares, count, others, cross);
    else if (count > 0 && filter.p == 2)
        whitened_squares_sweep<2>(nb, nt, filter, X, y, pitch, include, beta, u, squares, count, others, cross);
    else
        whitened_squares_sweep<0>(nb, nt, filter, X, y, pitch, include, beta, u, squares, count, others, cross);
}

LANE_KERNEL void lanes_autocorrelations(int p, int higher, const double *mixing, const double *factors, const double *a,
                                        float *coeff) {
    // Scratch: c (p+1), rho (p+1+higher), corrected (p+1), phi and previous (p+1 each).
    LanesD c[kMaxLaneOrder + 1], corrected[kMaxLaneOrder + 1], phi[kMaxLaneOrder + 1], previous[kMaxLaneOrder + 1];
    LanesD rho[kMaxLaneOrder + 1 + kMaxLaneHigher];
    LanesD A[kMaxLaneOrder + 1];
    for (int k = 0; k <= p; ++k) A[k] = load(a + k * kLanes);
    const auto reduce = [&](const LanesD *from) {
        for (int l = 0; l <= p; ++l) {
            LanesD sum = splat(0.0);
            for (int m = 0; m <= p; ++m) sum += mixing[l * (p + 1) + m] * from[m];
            c[l] = sum;
        }
    };
    reduce(A);
    // A voxel without residual keeps c undivided; the others go on.
    const MaskD residual = c[0] != splat(0.0);
    rho[0] = splat(1.0);
    for (int l = 1; l <= p; ++l) rho[l] = select(residual, c[l] / c[0], c[l]);
    MaskD active = residual;
    for (int pass = 0; pass < 5 && higher > 0; ++pass) {
        // Levinson-Durbin; a reflection of 1 or more ends the lane's passes.
        LanesD v = splat(1.0);
        for (int k = 1; k <= p; ++k) {
            LanesD num = rho[k];
            for (int j = 1; j < k; ++j) num -= phi[j] * rho[k - j];
            const LanesD kappa = num / v;
            active = active & (magnitude(kappa) < splat(1.0));
            for (int j = 1; j < k; ++j) previous[j] = phi[j];
            for (int j = 1; j < k; ++j) phi[j] = previous[j] - kappa * previous[k - j];
            phi[k] = kappa;
            v = v * (1.0 - kappa * kappa);
        }
        if (lanes_of(active) == 0) break;
        for (int m = p + 1; m <= p + higher; ++m) {
            LanesD sum = splat(0.0);
            for (int i = 1; i <= p; ++i) sum += phi[i] * rho[m - i];
            rho[m] = sum;
        }
        for (int l = 0; l <= p; ++l) {
            LanesD implied = splat(0.0);
            for (int m = 0; m < higher; ++m) implied += factors[l * higher + m] * rho[p + 1 + m];
            corrected[l] = A[l] - c[0] * implied;
        }
        LanesD kept[kMaxLaneOrder + 1];
        for (int l = 0; l <= p; ++l) kept[l] = c[l];
        reduce(corrected);
        for (int l = 0; l <= p; ++l) c[l] = select(active, c[l], kept[l]);
        active = active & (c[0] > splat(0.0));
        for (int l = 1; l <= p; ++l) rho[l] = select(active, c[l] / c[0], rho[l]);
    }
    for (int l = 0; l <= p; ++l) {
        const LanesD r = l == 0 ? splat(1.0) : rho[l];
        for (int k = 0; k < kLanes / 2; ++k) {
            coeff[l * kLanes + k] = static_cast<float>(r.lo[k]);
            coeff[l * kLanes + k + kLanes / 2] = static_cast<float>(r.hi[k]);
        }
    }
}

LANE_KERNEL unsigned lanes_cholesky(int n, double *A, const char *skip) {
    if (skip)
        for (int j = 0; j < n; ++j)
            if (skip[j])
                for (int k = 0; k < n; ++k) {
                    store(A + (j * n + k) * kLanes, splat(k == j ? 1.0 : 0.0));
                    store(A + (k * n + j) * kLanes, splat(k == j ? 1.0 : 0.0));
                }
    MaskD good = splat(0.0) < splat(1.0);
    for (int j = 0; j < n; ++j) {
        double *aj = A + j * n * kLanes;
        LanesD d = load(aj + j * kLanes);
        for (int k = 0; k < j; ++k) d -= load(aj + k * kLanes) * load(aj + k * kLanes);
        good = good & (d > splat(0.0));
        const LanesD pivot = root(d);
        store(aj + j * kLanes, pivot);
        for (int i = j + 1; i < n; ++i) {
            double *ai = A + i * n * kLanes;
            LanesD s = load(ai + j * kLanes);
            for (int k = 0; k < j; ++k) s -= load(ai + k * kLanes) * load(aj + k * kLanes);
            store(ai + j * kLanes, s / pivot);
        }
    }
    return ~lanes_of(good) & ((1u << kLanes) - 1u);
}

LANE_KERNEL void lanes_solve(int n, const double *L, double *x, bool upper, bool lower) {
    for (int i = 0; i < n && lower; ++i) {
        LanesD s = load(x + i * kLanes);
        for (int k = 0; k < i; ++k) s -= load(L + (i * n + k) * kLanes) * load(x + k * kLanes);
        store(x + i * kLanes, s / load(L + (i * n + i) * kLanes));
    }
    if (!upper) return;
    for (int i = n - 1; i >= 0; --i) {
        LanesD s = load(x + i * kLanes);
        for (int k = i + 1; k < n; ++k) s -= load(L + (k * n + i) * kLanes) * load(x + k * kLanes);
        store(x + i * kLanes, s / load(L + (i * n + i) * kLanes));
    }
}

LANE_KERNEL void lanes_quadratic(int n, const double *x, const double *M, const double *y, double *out) {
    LanesD sum = splat(0.0);
    for (int a = 0; a < n; ++a) {
        LanesD m = splat(0.0);
        if (M) {
            for (int b = 0; b < n; ++b) m += load(M + (a * n + b) * kLanes) * load(y + b * kLanes);
        } else {
            m = load(y + a * kLanes);
        }
        sum += load(x + a * kLanes) * m;
    }
    store(out, sum);
}

LANE_KERNEL void lanes_lagged_products(int n, const LaneFilter &a, const LaneFilter &b, const double *symmetric,
                                       const float *X, double *N) {
    const int p = a.p;
    const std::size_t square = static_cast<std::size_t>(n) * n;
    const auto coefficient = [&](int i, int j) {
        const LanesD ai = widen(load(a.tap + i * kLanes)), bj = widen(load(b.tap + j * kLanes));
        return i == j ? ai * bj : 0.5 * (ai * bj + widen(load(b.tap + i * kLanes)) * widen(load(a.tap + j * kLanes)));
    };
    constexpr int kMostPairs = (kMaxLaneOrder + 1) * (kMaxLaneOrder + 2) / 2;
    if (p <= kMaxLaneOrder) {
        // Every element once, its pairs' terms summed in registers.
        LanesD c[kMostPairs];
        const int pairs = (p + 1) * (p + 2) / 2;
        for (int i = 0, k = 0; i <= p; ++i)
            for (int j = i; j <= p; ++j) c[k++] = coefficient(i, j);
        for (int r = 0; r < n; ++r)
            for (int s = 0; s <= r; ++s) {
                LanesD sum = splat(0.0);
                const double *S = symmetric + r * n + s;
                for (int k = 0; k < pairs; ++k) sum += S[k * square] * c[k];
                store(N + (r * n + s) * kLanes, sum);
            }
    } else {
        for (std::size_t e = 0; e < square; ++e) store(N + e * kLanes, splat(0.0));
        const double *S = symmetric;
        for (int i = 0; i <= p; ++i)
            for (int j = i; j <= p; ++j, S += square) {
                const LanesD c = coefficient(i, j);
                for (int r = 0; r < n; ++r)
                    for (int s = 0; s <= r; ++s)
                        store(N + (r * n + s) * kLanes, load(N + (r * n + s) * kLanes) + S[r * n + s] * c);
            }
    }
    LanesD h[kMaxLaneBasis], g[kMaxLaneBasis];
    const bool same = &a == &b;
    for (int k = 0; k < a.nblocks; ++k) {
        const int s0 = a.blocks[2 * k], length = a.blocks[2 * k + 1] - s0 + 1;
        for (int row = 0; row < p && row < length; ++row) {
            for (int c = 0; c < n; ++c) h[c] = g[c] = splat(0.0);
            for (int j = 0; j <= row; ++j) {
                const LanesD ca = widen(load(a.head + (row * (row + 1) / 2 + j) * kLanes));
                const LanesD cb = widen(load(b.head + (row * (row + 1) / 2 + j) * kLanes));
                const float *x = X + static_cast<std::size_t>(s0 + j) * n;
                for (int c = 0; c < n; ++c) h[c] += static_cast<double>(x[c]) * ca, g[c] += static_cast<double>(x[c]) * cb;
            }
            for (int r = 0; r < n; ++r)
                for (int s = 0; s <= r; ++s) {
                    const LanesD v = same ? h[r] * h[s] : 0.5 * (h[r] * g[s] + g[r] * h[s]);
                    store(N + (r * n + s) * kLanes, load(N + (r * n + s) * kLanes) + v);
                }
        }
    }
}
