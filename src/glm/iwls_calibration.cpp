// Null calibration of the re-weighted (iWLS) tests: a reservoir of the
// analysis' standardised residuals, null series drawn from it and fitted like
// voxels, and the scale and degrees of freedom that make each condition's F
// statistics follow the F distribution.
#include "glm/iwls_calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "glm/ar_model.h"
#include "glm/fit.h"
#include "glm/fit_context.h"
#include "glm/frequency_filter.h"
#include "glm/state.h"
#include "glm/statistics.h"

std::uint64_t ResidualPool::next() {
    // splitmix64
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

void ResidualPool::add_fit() {
    // Each voxel's residuals are divided by a robust scale of their own (the
    // median absolute residual, 0.6745 sigma for Gaussian noise), so that the
    // pool mixes voxels of different noise levels without mixing scales, and
    // a voxel's outliers do not shrink its other residuals.
    const int nt = GLM.ntime;
    scratch_.clear();
    for (int t = 0; t < nt; ++t)
        if (GLM.include[t]) scratch_.push_back(std::fabs(fit_context.residue[t]));
    if (scratch_.empty()) return;
    const std::size_t middle = scratch_.size() / 2;
    std::nth_element(scratch_.begin(), scratch_.begin() + static_cast<std::ptrdiff_t>(middle), scratch_.end());
    const double scale = scratch_[middle] / 0.6745;
    if (!(scale > 0.0)) return;
    for (int t = 0; t < nt; ++t) {
        if (!GLM.include[t]) continue;
        const double room = 1.0 - fit_context.leverage[t];
        if (!(room > 1e-3)) continue;  // a point the fit passes through tells nothing of the noise
        const float value = static_cast<float>(fit_context.residue[t] / (scale * std::sqrt(room)));
        ++seen_;
        if (count_ < capacity_) {
            values_[count_++] = value;
        } else {
            const std::uint64_t j = next() % seen_;
            if (j < static_cast<std::uint64_t>(capacity_)) values_[static_cast<std::int64_t>(j)] = value;
        }
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

int GLM_calibrate_reweighted_tests(ResidualPool &pool, int nseries) {
    GLM_clear_reweighted_calibration();
    const int nt = GLM.ntime, nc = GLM.nconditions, p = GLM_input.AR_order;
    if (pool.size() == 0 || nc == 0) return 1;
    std::printf("Calibrating the iWLS tests on %d null series ...\n", nseries);
    std::vector<float> y(nt), fit(nt), coefficients(p + 1, 0.0f);
    coefficients[0] = 1.0f;  // no autocorrelation: the identity filter
    std::vector<std::vector<float>> F(nc);
    std::int16_t order;
    for (int s = 0; s < nseries; ++s) {
        for (int t = 0; t < nt; ++t)
            y[t] = GLM.include[t] ? pool.values()[pool.next() % static_cast<std::uint64_t>(pool.size())] : 0.0f;
        GLM_Update_Weights(nt, y.data());
        if (GLM_calculate_whitening_filter(p + 1, coefficients.data(), &order) || GLM_PreFilter(0, nt, y.data()))
            return 1;
        float variance;
        GLM_fit_data(nt, y.data(), fit.data(), &variance);
        if (variance == 0.0f || fit_context.singular_fit) continue;
        for (int c = 0; c < nc; ++c) {
            float v[6];
            if (GLM_calculate_F(nt, variance, 0, c, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5])) return 1;
            F[c].push_back(v[0]);
        }
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
