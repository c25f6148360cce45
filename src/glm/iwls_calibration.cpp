// Null calibration of the re-weighted (iWLS) tests: a reservoir of the
// analysis' standardised residuals, null series drawn from it and fitted like
// voxels, and the scale and degrees of freedom that make each condition's F
// statistics follow the F distribution.
#include "glm/iwls_calibration.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <cstdio>
#include <vector>

#include "glm/ar_model.h"
#include "glm/fit.h"
#include "glm/fit_context.h"
#include "glm/frequency_filter.h"
#include "glm/state.h"
#include "glm/statistics.h"
#include "glm/lane_kernels.h"
#include "glm/voxel_fit.h"
#include "numerics/worker_pool.h"

std::uint64_t ResidualPool::next() {
    // splitmix64
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

int ResidualPool::standardised_residuals(const float *residue, std::int64_t stride, const float *leverage, float *out) {
    // Each voxel's residuals are divided by a robust scale of their own (the
    // median absolute residual, 0.6745 sigma for Gaussian noise), so that the
    // pool mixes voxels of different noise levels without mixing scales, and
    // a voxel's outliers do not shrink its other residuals.
    const int nt = GLM.ntime;
    thread_local std::vector<float> scratch;
    scratch.clear();
    for (int t = 0; t < nt; ++t)
        if (GLM.include[t]) scratch.push_back(std::fabs(residue[t * stride]));
    if (scratch.empty()) return 0;
    const std::size_t middle = scratch.size() / 2;
    std::nth_element(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(middle), scratch.end());
    const double scale = scratch[middle] / 0.6745;
    if (!(scale > 0.0)) return 0;
    int count = 0;
    for (int t = 0; t < nt; ++t) {
        if (!GLM.include[t]) continue;
        const double room = 1.0 - leverage[t];
        if (!(room > 1e-3)) continue;  // a point the fit passes through tells nothing of the noise
        out[count++] = static_cast<float>(residue[t * stride] / (scale * std::sqrt(room)));
    }
    return count;
}

void ResidualPool::standardised_tile(const float *r, const float *leverage, float *out, int *counts) {
    const int nt = GLM.ntime;
    float median[kLanes];
    lanes_order_statistic(nt, GLM.include, r, GLM.ninclude / 2, median);
    double scale[kLanes];
    for (int l = 0; l < kLanes; ++l) {
        scale[l] = median[l] / 0.6745;
        counts[l] = 0;
    }
    int k = 0;
    for (int t = 0; t < nt; ++t) {
        if (!GLM.include[t]) continue;
        const double room = 1.0 - leverage[t];
        if (!(room > 1e-3)) continue;
        const double root = std::sqrt(room);
        for (int l = 0; l < kLanes; ++l) out[k * kLanes + l] = static_cast<float>(r[t * kLanes + l] / (scale[l] * root));
        ++k;
    }
    for (int l = 0; l < kLanes; ++l) counts[l] = scale[l] > 0.0 ? k : 0;
}

void ResidualPool::add(float value) {
    ++seen_;
    if (count_ < capacity_) {
        values_[count_++] = value;
    } else {
        const std::uint64_t j = next() % seen_;
        if (j < static_cast<std::uint64_t>(capacity_)) values_[static_cast<std::int64_t>(j)] = value;
    }
}

double f_quantile(double alpha, int q, double nu) {
    auto tail = [&](double F) { return ibeta(nu / 2.0, q / 2.0, nu / (nu + q * F)); };
    double lo = 0.0, hi = 1.0;
    while (tail(hi) > alpha && hi < 1e12) hi *= 2.0;
    for (int i = 0; i < 200 && hi - lo > 1e-12 * hi; ++i) {
        const double mid = 0.5 * (lo + hi);
        (tail(mid) > alpha ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

namespace {

// Upper quantile (probability alpha above it) of sorted values.
double upper_quantile(const std::vector<float> &sorted, double alpha) {
    const double position = (1.0 - alpha) * static_cast<double>(sorted.size() - 1);
    const std::size_t i = static_cast<std::size_t>(position);
    const double f = position - static_cast<double>(i);
    const double next = i + 1 < sorted.size() ? sorted[i + 1] : sorted[i];
    return sorted[i] * (1.0 - f) + next * f;
}

// Degrees of freedom nu (between 3 and nu_max) whose F(q, nu) distribution has
// the ratio of the sample's 1 % and 10 % upper quantiles (a ratio that falls
// as nu grows), then the scale that puts the 10 % quantile in place: a fit of
// the upper tail, where the tests are read.
void fit_f_distribution(std::vector<float> &F, int q, double nu_max, double *scale, double *nu) {
    std::sort(F.begin(), F.end());
    const double q90 = upper_quantile(F, 0.1), q99 = upper_quantile(F, 0.01);
    const double ratio = q90 > 0.0 ? q99 / q90 : 1.0;
    auto model_ratio = [&](double v) { return f_quantile(0.01, q, v) / f_quantile(0.1, q, v); };
    double lo = 3.0, hi = nu_max;
    if (hi <= lo) {
        *nu = hi;
    } else if (ratio >= model_ratio(lo)) {
        *nu = lo;
    } else if (ratio <= model_ratio(hi)) {
        *nu = hi;
    } else {
        for (int i = 0; i < 60; ++i) {
            const double mid = 0.5 * (lo + hi);
            (model_ratio(mid) > ratio ? lo : hi) = mid;
        }
        *nu = 0.5 * (lo + hi);
    }
    *scale = q90 > 0.0 ? q90 / f_quantile(0.1, q, *nu) : 1.0;
}

}  // namespace

void GLM_clear_reweighted_calibration() {
    GLM_set_condition_variance_scales(nullptr);
    GLM_set_reweighted_dof(0.0f);
}

int GLM_calibrate_reweighted_tests(ResidualPool &pool, int nseries, WorkerPool &workers) {
    GLM_clear_reweighted_calibration();
    const int nt = GLM.ntime, nc = GLM.nconditions, p = GLM_input.AR_order;
    if (pool.size() == 0 || nc == 0) return 1;
    std::printf("Calibrating the iWLS tests on %d null series ...\n", nseries);
    // Series are drawn a batch at a time, in one sequence, side by side (the
    // value of series s at time point t at series[t * kBatch + s]), and
    // fitted on all threads, eight at a time; each keeps its statistics in
    // its own slot.
    constexpr int kBatch = 512;
    VoxelFitPlan plan;
    make_voxel_fit_plan(plan, false);
    const bool prefilter = GLM_prefilter_active();
    std::vector<float> series(static_cast<std::size_t>(kBatch) * nt, 0.0f);
    std::vector<float> statistics(static_cast<std::size_t>(kBatch) * nc);
    std::vector<char> usable(kBatch);
    struct Work {
        std::vector<float> y, fit, coefficients;
        std::unique_ptr<TileFitter> fitter;
    };
    std::vector<Work> work(static_cast<std::size_t>(workers.threads()));
    std::atomic<bool> failed{false};
    // One series in the thread's fit context.
    const auto fit_single = [&](Work &w, int s) {
        GLM_prepare_fit_context();
        for (int t = 0; t < nt; ++t) w.y[t] = series[static_cast<std::size_t>(t) * kBatch + s];
        GLM_Update_Weights(nt, w.y.data());
        std::int16_t order;
        if (GLM_calculate_whitening_filter(p + 1, w.coefficients.data(), &order) || GLM_PreFilter(0, nt, w.y.data())) {
            failed = true;
            return;
        }
        float variance;
        GLM_fit_data(nt, w.y.data(), w.fit.data(), &variance);
        if (variance == 0.0f || fit_context.singular_fit) return;
        for (int c = 0; c < nc; ++c) {
            float v[6];
            if (GLM_calculate_F(nt, variance, 0, c, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5])) {
                failed = true;
                return;
            }
            statistics[static_cast<std::size_t>(s) * nc + c] = v[0];
        }
        usable[s] = 1;
    };
    std::vector<std::vector<float>> F(nc);
    for (int start = 0; start < nseries; start += kBatch) {
        const int count = nseries - start < kBatch ? nseries - start : kBatch;
        for (int s = 0; s < count; ++s)
            for (int t = 0; t < nt; ++t)
                series[static_cast<std::size_t>(t) * kBatch + s] =
                    GLM.include[t] ? pool.values()[pool.next() % static_cast<std::uint64_t>(pool.size())] : 0.0f;
        constexpr int kGroup = TileFitter::kBatch;
        workers.run((count + kGroup - 1) / kGroup, [&](int thread, std::int64_t group) {
            Work &w = work[static_cast<std::size_t>(thread)];
            if (w.y.empty()) {
                w.y.resize(nt), w.fit.resize(nt), w.coefficients.assign(p + 1, 0.0f);
                w.coefficients[0] = 1.0f;  // no autocorrelation: the identity filter
            }
            const int first = static_cast<int>(group) * kGroup;
            const int n = count - first < kGroup ? count - first : kGroup;
            for (int i = 0; i < n; ++i) usable[first + i] = 0;
            if (plan.kind != VoxelFitKind::Reweighted) {
                for (int i = 0; i < n; ++i) fit_single(w, first + i);
                return;
            }
            if (prefilter)
                for (int i = 0; i < n; ++i) {
                    for (int t = 0; t < nt; ++t) w.y[t] = series[static_cast<std::size_t>(t) * kBatch + first + i];
                    GLMInternal_filter_masked(w.y.data());
                    for (int t = 0; t < nt; ++t) series[static_cast<std::size_t>(t) * kBatch + first + i] = w.y[t];
                }
            if (!w.fitter) w.fitter = std::make_unique<TileFitter>(plan);
            TileFitter &fitter = *w.fitter;
            int columns[kGroup];
            for (int i = 0; i < n; ++i) columns[i] = first + i;
            fitter.fit_batch(series.data(), kBatch, columns, n, [&](int lead, int lanes) {
                for (int l = 0; l < lanes; ++l) {
                    const int s = first + lead + l;
                    if (fitter.variance[l] == 0.0f || fitter.singular[l]) continue;
                    for (int c = 0; c < nc; ++c) {
                        ConditionTest test;
                        fitter.test(c, l, 0, &test);
                        statistics[static_cast<std::size_t>(s) * nc + c] = test.F;
                    }
                    usable[s] = 1;
                }
            });
        });
        if (failed) return 1;
        for (int s = 0; s < count; ++s)
            if (usable[s])
                for (int c = 0; c < nc; ++c) F[c].push_back(statistics[static_cast<std::size_t>(s) * nc + c]);
    }
    if (F[0].size() < 100) return 1;
    std::vector<float> scales(nc, 1.0f);
    double nu_all = GLM.ninclude - GLM.nbasis;
    for (int c = 0; c < nc; ++c) {
        double scale, nu;
        fit_f_distribution(F[c], GLM.condition_nrows[c], GLM.ninclude - GLM.nbasis, &scale, &nu);
        scales[c] = static_cast<float>(scale);
        nu_all = std::min(nu_all, nu);
    }
    GLM_set_condition_variance_scales(scales.data());
    GLM_set_reweighted_dof(static_cast<float>(nu_all));
    std::printf("iWLS tests calibrated: %.1f degrees of freedom\n", nu_all);
    return 0;
}
