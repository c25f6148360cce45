#include "glm/voxel_fit.h"

#include <cfloat>
#include <algorithm>
#include <atomic>
#include <cmath>

#include "glm/ar_correction.h"
#include "glm/ar_model.h"
#include "glm/fit.h"
#include "glm/fit_context.h"
#include "glm/frequency_filter.h"
#include "glm/state.h"

namespace {

constexpr int kMaxReweightings = 10;

// The weighted products [pair][lane] (float) as lanes' symmetric double
// matrices [a][b][lane].
void widen_products(const float *S, const std::vector<int> &pair, int n, double *A) {
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) {
            const int k = pair[a * n + b];
            for (int l = 0; l < kLanes; ++l) A[(a * n + b) * kLanes + l] = k >= 0 ? S[k * kLanes + l] : 0.0;
        }
}

}  // namespace

void make_voxel_fit_plan(VoxelFitPlan &plan, bool whitened) {
    static std::atomic<unsigned> plans{0};
    plan = VoxelFitPlan{};
    plan.id = ++plans;
    FitContext &f = fit_context;
    GLM_prepare_fit_context();
    const int nt = GLM.ntime, nb = GLM.nbasis, ar = GLM_input.AR_order > 0 ? GLM_input.AR_order : 0;
    const int p = whitened ? ar : 0;
    const bool prefilter = GLM_prefilter_active();
    plan.nt = nt, plan.nb = nb, plan.p = p, plan.ninclude = GLM.ninclude, plan.include = GLM.include;
    plan.nconditions = GLM.nconditions;
    if (GLM_input.noise_model == NOISE_OLS && p == 0)
        plan.kind = VoxelFitKind::Shared;
    else if (GLM_input.noise_model == NOISE_OLS && !prefilter)
        plan.kind = VoxelFitKind::Whitened;
    else if (GLM_input.noise_model == NOISE_IWLS && p == 0)
        plan.kind = VoxelFitKind::Reweighted;
    else
        return;

    // The unit-weight set-up of the design in force without whitening: the
    // masked design, passed through the before-fit band when it is set.
    std::vector<float> series(static_cast<std::size_t>(nt), 0.0f), white(static_cast<std::size_t>(ar) + 1, 0.0f);
    white[0] = 1.0f;
    std::int16_t order;
    GLM_Update_Weights(nt, series.data());
    GLM_calculate_whitening_filter(ar + 1, white.data(), &order);
    GLMInternal_whiten_model(0);
    if (f.singular_fit) {
        plan.kind = VoxelFitKind::Single;
        return;
    }
    plan.dof = f.DOF;
    plan.X.resize(static_cast<std::size_t>(nt) * nb);
    plan.U.resize(plan.X.size());
    plan.P.resize(plan.X.size());
    plan.leverage.assign(f.leverage.get(), f.leverage.get() + nt);
    plan.dropped.assign(static_cast<std::size_t>(nb), 1);
    for (int t = 0; t < nt; ++t)
        for (int b = 0; b < nb; ++b) {
            plan.X[static_cast<std::size_t>(t) * nb + b] = f.design_matrix[t][b];
            plan.U[static_cast<std::size_t>(t) * nb + b] = GLM.design_unmasked[t][b];
            plan.P[static_cast<std::size_t>(b) * nt + t] = f.pseudo_inverse[b][t];
            if (f.design_matrix[t][b] != 0.0f) plan.dropped[b] = 0;
        }
    for (int t = 0; t < nt; ++t)
        if (GLM.include[t] && (t == 0 || !GLM.include[t - 1])) {
            int last = t;
            while (last + 1 < nt && GLM.include[last + 1]) ++last;
            plan.blocks.push_back(t);
            plan.blocks.push_back(last);
        }

    const std::size_t square = static_cast<std::size_t>(nb) * nb;
    if (plan.kind == VoxelFitKind::Whitened) {
        // Lagged cross-products over the rows that take the filter's taps
        // (the rows at position p or later of their block), for the lag pairs
        // i <= j, symmetrised: X[t-i] X[t-j]' + X[t-j] X[t-i]' (once for i = j).
        plan.lagged.assign(static_cast<std::size_t>(p + 1) * (p + 2) / 2 * square, 0.0);
        for (std::size_t k = 0; k < plan.blocks.size(); k += 2)
            for (int t = plan.blocks[k] + p; t <= plan.blocks[k + 1]; ++t) {
                double *C = plan.lagged.data();
                for (int i = 0; i <= p; ++i)
                    for (int j = i; j <= p; ++j, C += square) {
                        const float *xi = &plan.X[static_cast<std::size_t>(t - i) * nb];
                        const float *xj = &plan.X[static_cast<std::size_t>(t - j) * nb];
                        for (int a = 0; a < nb; ++a)
                            for (int b = 0; b < nb; ++b)
                                C[a * nb + b] += static_cast<double>(xi[a]) * xj[b] +
                                                 (i == j ? 0.0 : static_cast<double>(xj[a]) * xi[b]);
                    }
            }
    }
    if (plan.kind == VoxelFitKind::Reweighted) {
        // Products of columns that are never both non-zero (the baselines of
        // different runs) are left out: their sums are 0.
        const auto padded = [](int n) { return (n + kLanes - 1) / kLanes * kLanes; };
        plan.pair.assign(square, -1);
        int pairs = 0;
        for (int i = 0; i < nb; ++i)
            for (int j = i; j < nb; ++j) {
                bool used = false;
                for (int t = 0; t < nt && !used; ++t)
                    used = plan.X[static_cast<std::size_t>(t) * nb + i] * plan.X[static_cast<std::size_t>(t) * nb + j] != 0.0f;
                if (used) plan.pair[i * nb + j] = plan.pair[j * nb + i] = pairs++;
            }
        plan.segment = padded(pairs);
        plan.stride = plan.segment + padded(nb);
        plan.products.assign(static_cast<std::size_t>(nt) * plan.stride, 0.0f);
        for (int t = 0; t < nt; ++t) {
            const float *x = &plan.X[static_cast<std::size_t>(t) * nb];
            float *g = &plan.products[static_cast<std::size_t>(t) * plan.stride];
            for (int i = 0; i < nb; ++i)
                for (int j = i; j < nb; ++j)
                    if (plan.pair[i * nb + j] >= 0) g[plan.pair[i * nb + j]] = x[i] * x[j];
            for (int b = 0; b < nb; ++b) g[plan.segment + b] = x[b];
        }
        plan.normal.assign(square, 0.0);
        for (int t = 0; t < nt; ++t)
            for (int a = 0; a < nb; ++a)
                for (int b = 0; b < nb; ++b)
                    plan.normal[a * nb + b] += static_cast<double>(plan.X[static_cast<std::size_t>(t) * nb + a]) *
                                               plan.X[static_cast<std::size_t>(t) * nb + b];
    }

    for (int c = 0; c < plan.nconditions; ++c) {
        const int q = GLM.condition_nrows[c];
        plan.rows.push_back(q);
        std::vector<float> K(static_cast<std::size_t>(q) * nb), cov(static_cast<std::size_t>(q) * q), inv(cov.size());
        for (int r = 0; r < q; ++r)
            for (int b = 0; b < nb; ++b) K[static_cast<std::size_t>(r) * nb + b] = static_cast<float>(GLM.contrast[c][r][b]);
        for (int r = 0; r < q; ++r)
            for (int s = 0; s < q; ++s) {
                cov[static_cast<std::size_t>(r) * q + s] = f.contrast_covariance[c][r][s];
                inv[static_cast<std::size_t>(r) * q + s] = f.contrast_covariance_inverse[c][r][s];
            }
        plan.contrast.push_back(std::move(K));
        plan.covariance.push_back(std::move(cov));
        plan.inverse.push_back(std::move(inv));
        plan.singular.push_back(f.covariance_singular[c]);
    }
}

TileFitter::TileFitter(const VoxelFitPlan &plan) : plan_(plan), plan_id_(plan.id) {
    const std::size_t nt = plan.nt, nb = plan.nb, p = plan.p;
    beta_.resize(nb * kLanes);
    r_.resize(nt * kLanes);
    w_.resize(nt * kLanes);
    work_.resize(3 * nt * kLanes);
    N_.resize(std::max<std::size_t>(nb * nb, plan.stride) * kLanes);
    rhs_.resize(nb * kLanes);
    betad_.resize(nb * kLanes);
    rhsd_.resize(nb * kLanes);
    normal_.resize(nb * nb * kLanes);
    factor_.resize(nb * nb * kLanes);
    std::size_t most_rows = 1;
    for (int q : plan.rows) most_rows = static_cast<std::size_t>(q) > most_rows ? q : most_rows;
    solve_.resize((most_rows + 1) * nb * kLanes);
    head_.resize((p * (p + 1) / 2 + 1) * kLanes);
    tap_.resize((p + 1) * kLanes);
    coefficient_factor_.resize((p + 1) * (p + 1));
    if (plan.kind == VoxelFitKind::Whitened) {
        const std::size_t head = p * (p + 1) / 2 * kLanes;
        dhead_.resize(p * head + 1);
        dtap_.resize(p * (p + 1) * kLanes);
        dfilter_.resize(p);
        for (std::size_t k = 0; k < p; ++k)
            dfilter_[k] = LaneFilter{static_cast<int>(p), plan.blocks.data(), static_cast<int>(plan.blocks.size() / 2),
                                     dhead_.data() + k * head, dtap_.data() + k * (p + 1) * kLanes};
        dfactor_.resize(p * (p + 1) * (p + 1));
        cross_.resize(p * kLanes);
        products_.resize(p * nb * nb * kLanes);
        rho_cov_.resize(p * p * kLanes);
        std::size_t most_rows = 1;
        for (int q : plan.rows) most_rows = static_cast<std::size_t>(q) > most_rows ? q : most_rows;
        std::size_t all_rows = 0;
        for (int q : plan.rows) all_rows += q;
        z_.resize(all_rows * nb * kLanes + 1);
        kak_.resize(most_rows * most_rows * kLanes);
        q_.resize(p * most_rows * most_rows * kLanes);
        kr_work_.resize((p + 2) * most_rows * most_rows + p);
        test_dof_.resize(static_cast<std::size_t>(plan.nconditions) * kLanes);
        test_scale_.resize(test_dof_.size());
        if (p > static_cast<std::size_t>(kMaxLaneOrder))
            zero_beta_.assign(nb * kLanes, 0.0f), scratch_u_.resize(nt * kLanes);
    }
    std::size_t values = 0, rows = 0, most = 1;
    for (int q : plan.rows) {
        value_offset_.push_back(values);
        row_offset_.push_back(rows);
        values += static_cast<std::size_t>(q) * q * kLanes;
        rows += static_cast<std::size_t>(q) * kLanes;
        most = q > static_cast<int>(most) ? q : most;
    }
    cov_.resize(values);
    inv_.resize(values);
    cov_rows_.resize(rows);
    inv_rows_.resize(rows);
    contrast_values_.resize(most);
    shared_rows_.resize(2 * most);
    own_singular_.resize(static_cast<std::size_t>(plan.nconditions) * kLanes);
    for (int l = 0; l < kLanes; ++l) order[l] = 0;
    if (plan.kind == VoxelFitKind::Reweighted) {
        series_.resize(kBatch);
        for (Series &s : series_) s.beta.resize(nb);
        batch_r_.resize(kBatch * nt);
        batch_y_.resize(kBatch * nt);
        batch_w_.resize(kBatch * nt);
    }
}

void TileFitter::finish_variance(const float *squares, const float *largest, float degrees) {
    // A series that the model fits exactly leaves only the rounding of the
    // float sums; such a variance is 0 (as in the single-series fit).
    const int n = plan_.nt;
    for (int l = 0; l < kLanes; ++l) {
        const float rounding = 4.0f * FLT_EPSILON * largest[l] * std::sqrt(static_cast<float>(n));
        variance[l] = squares[l] > static_cast<float>(n) * rounding * rounding ? squares[l] / degrees : 0.0f;
        dof[l] = degrees;
    }
}

void TileFitter::fit(const float *y, std::int64_t pitch, const float *const *coefficients, bool first_only) {
    for (int l = 0; l < kLanes; ++l) singular[l] = false;
    own_covariance_ = false;
    corrected_ = false;
    if (plan_.kind == VoxelFitKind::Whitened && !first_only)
        fit_whitened(y, pitch, coefficients);
    else
        fit_shared(y, pitch, first_only);
}

void TileFitter::fit_shared(const float *y, std::int64_t pitch, bool keep_residuals) {
    const int nb = plan_.nb, nt = plan_.nt;
    float squares[kLanes], largest[kLanes];
    lanes_project(nb, nt, plan_.P.data(), y, pitch, plan_.include, beta_.data());
    lanes_residual(nb, nt, plan_.X.data(), y, pitch, plan_.include, beta_.data(), keep_residuals ? r_.data() : nullptr,
                   squares, largest);
    finish_variance(squares, largest, plan_.dof);
}

void TileFitter::fit_whitened(const float *y, std::int64_t pitch, const float *const *coefficients) {
    const int nb = plan_.nb, nt = plan_.nt, p = plan_.p;
    // Each lane's filter: rows at block position k < p from the inverse
    // factor (k <= q) or the taps, later rows the taps (zero beyond q).
    float *L = coefficient_factor_.data();
    for (int l = 0; l < kLanes; ++l) {
        const int q = GLM_whitening_factor(p, coefficients[l], L);
        order[l] = static_cast<std::int16_t>(q);
        const auto tap = [&](int i) { return i <= q ? L[q * (p + 1) + q - i] : 0.0f; };
        for (int i = 0; i <= p; ++i) tap_[i * kLanes + l] = tap(i);
        for (int k = 0; k < p; ++k)
            for (int j = 0; j <= k; ++j)
                head_[(k * (k + 1) / 2 + j) * kLanes + l] = k <= q ? L[k * (p + 1) + j] : tap(k - j);
        // The derivative filters with respect to the coefficients 1 ... q
        // (zero for those beyond the order in force) and the covariance of
        // the coefficients' estimates.
        double *dL = dfactor_.data();
        GLM_whitening_factor_derivatives(p, q, L, dL);
        for (int m = 0; m < p; ++m) {
            const double *D = dL + static_cast<std::size_t>(m) * (p + 1) * (p + 1);
            const auto dtap = [&](int i) { return i <= q ? static_cast<float>(D[q * (p + 1) + q - i]) : 0.0f; };
            float *dt = &dtap_[static_cast<std::size_t>(m) * (p + 1) * kLanes];
            float *dh = &dhead_[static_cast<std::size_t>(m) * p * (p + 1) / 2 * kLanes];
            for (int i = 0; i <= p; ++i) dt[i * kLanes + l] = dtap(i);
            for (int k = 0; k < p; ++k)
                for (int j = 0; j <= k; ++j)
                    dh[(k * (k + 1) / 2 + j) * kLanes + l] =
                        k <= q ? static_cast<float>(D[k * (p + 1) + j]) : dtap(k - j);
        }
        rho_known_[l] = q > 0 && GLM_autocorrelation_covariance(q, coefficients[l], plan_.ninclude,
                                                                &rho_cov_[static_cast<std::size_t>(l) * p * p]);
    }
    const LaneFilter filter{p, plan_.blocks.data(), static_cast<int>(plan_.blocks.size() / 2), head_.data(),
                            tap_.data()};
    float *z = work_.data(), *u = z + nt * kLanes;
    float largest[kLanes], squares[kLanes];
    // Right-hand side X'W'(Wy) and normal matrix (WX)'(WX) in double; the
    // coefficients from its Cholesky factor.
    lanes_whiten_gram(nt, filter, y, pitch, z, largest);
    lanes_project_double(nb, nt, plan_.X.data(), z, rhsd_.data());
    lanes_lagged_products(nb, filter, filter, plan_.lagged.data(), plan_.X.data(), factor_.data());
    const unsigned failed = lanes_cholesky(nb, factor_.data(), nullptr);
    lanes_solve(nb, factor_.data(), rhsd_.data(), true);
    for (int l = 0; l < kLanes; ++l) {
        singular[l] = (failed >> l) & 1u;
        for (int b = 0; b < nb; ++b) beta_[b * kLanes + l] = singular[l] ? 0.0f : static_cast<float>(rhsd_[b * kLanes + l]);
    }
    // Residual sum of squares of the whitened fit, W (y - X beta), and the
    // products with the derivative whitenings of the residual.
    const int count = p < kMaxLaneOrder ? p : kMaxLaneOrder;
    lanes_whitened_squares(nb, nt, filter, plan_.X.data(), y, pitch, plan_.include, beta_.data(), u, squares, count,
                           dfilter_.data(), cross_.data());
    finish_variance(squares, largest, plan_.dof);
    for (int l = 0; l < kLanes; ++l)
        if (singular[l]) variance[l] = 0.0f;
    double factor[kLanes];
    for (int l = 0; l < kLanes; ++l) factor[l] = 1.0;
    condition_covariances(factor_.data(), nullptr, factor, nullptr, z_.data());
    correct_tests(filter, u, squares);
}

void TileFitter::correct_tests(const LaneFilter &filter, const float *u, const float *squares) {
    const int nb = plan_.nb, p = plan_.p;
    const std::size_t square = static_cast<std::size_t>(nb) * nb;
    corrected_ = true;
    // e'(W_k r) of derivatives beyond those the squares' sweep took, and the
    // products P_k / 2 of every derivative filter (both triangles).
    float ignored[kLanes];
    for (int k = kMaxLaneOrder; k < p; k += kMaxLaneOrder)
        lanes_whitened_squares(nb, plan_.nt, filter, plan_.X.data(), u, kLanes, plan_.include, zero_beta_.data(),
                               scratch_u_.data(), ignored, p - k < kMaxLaneOrder ? p - k : kMaxLaneOrder, &dfilter_[k],
                               &cross_[static_cast<std::size_t>(k) * kLanes]);
    for (int k = 0; k < p; ++k) {
        double *H = &products_[k * square * kLanes];
        lanes_lagged_products(nb, filter, dfilter_[k], plan_.lagged.data(), plan_.X.data(), H);
        for (int a = 0; a < nb; ++a)
            for (int b = a + 1; b < nb; ++b)
                for (int l = 0; l < kLanes; ++l) H[(a * nb + b) * kLanes + l] = H[(b * nb + a) * kLanes + l];
    }
    std::size_t first_row = 0;
    for (int c = 0; c < plan_.nconditions; ++c) {
        const int rows = plan_.rows[c];
        const std::size_t rr = static_cast<std::size_t>(rows) * rows;
        // Z_r = A K_r' (from the covariances' L^-1 K_r'), K A K' and
        // K A P_k A K' = 2 Z_r' (P_k / 2) Z_s.
        double *Z = z_.data() + first_row * nb * kLanes;
        first_row += rows;
        const float *K = plan_.contrast[c].data();
        const std::size_t row = static_cast<std::size_t>(nb) * kLanes;
        for (int r = 0; r < rows; ++r) lanes_solve(nb, factor_.data(), Z + r * row, true, false);
        for (int r = 0; r < rows; ++r)
            for (int s = r; s < rows; ++s) {
                const double *zr = Z + r * row, *zs = Z + s * row;
                for (int l = 0; l < kLanes; ++l) {
                    double sum = 0.0;
                    for (int b = 0; b < nb; ++b) sum += K[static_cast<std::size_t>(r) * nb + b] * zs[b * kLanes + l];
                    kak_[l * rr + r * rows + s] = kak_[l * rr + s * rows + r] = sum;
                }
                for (int k = 0; k < p; ++k) {
                    double out[kLanes];
                    lanes_quadratic(nb, zr, &products_[k * square * kLanes], zs, out);
                    for (int l = 0; l < kLanes; ++l)
                        q_[(l * p + k) * rr + r * rows + s] = q_[(l * p + k) * rr + s * rows + r] = 2.0 * out[l];
                }
            }
        for (int l = 0; l < kLanes; ++l) {
            float &m = test_dof_[static_cast<std::size_t>(c) * kLanes + l];
            float &lambda = test_scale_[static_cast<std::size_t>(c) * kLanes + l];
            m = dof[l], lambda = 1.0f;
            if (singular[l] || variance[l] == 0.0f || !rho_known_[l]) continue;
            const int q = order[l];
            double *d = kr_work_.data() + (p + 2) * rr;
            for (int k = 0; k < q; ++k) d[k] = 2.0 * cross_[static_cast<std::size_t>(k) * kLanes + l] / squares[l];
            GLM_corrected_test_dof(rows, q, &kak_[l * rr], &q_[l * p * rr], d,
                                   &rho_cov_[static_cast<std::size_t>(l) * p * p], dof[l], kr_work_.data(), &m, &lambda);
        }
    }
}

void TileFitter::gather(const float *base, std::int64_t pitch, const int *columns, const int *lanes, int count,
                        float *out) const {
    // Lane l of out gets series lanes[l] (the first one again for l >= count).
    const int nt = plan_.nt;
    const float *in[kLanes];
    for (int l = 0; l < kLanes; ++l) in[l] = base + columns[lanes[l < count ? l : 0]];
    for (int t = 0; t < nt; ++t)
        for (int l = 0; l < kLanes; ++l) out[t * kLanes + l] = in[l][t * pitch];
}

void TileFitter::fit_batch(const float *base, std::int64_t pitch, const int *columns, int count,
                           const std::function<void(int, int)> &done) {
    const int nb = plan_.nb, nt = plan_.nt;
    const int *include = plan_.include;
    const std::size_t stride = static_cast<std::size_t>(nt);  // per-series storage of residuals and weights
    float *y = work_.data();
    int lanes[kLanes];

    // The unit-weight fits, eight series at a time.
    for (int first = 0; first < count; first += kLanes) {
        const int n = count - first < kLanes ? count - first : kLanes;
        for (int l = 0; l < kLanes; ++l) lanes[l] = first + (l < n ? l : 0);
        gather(base, pitch, columns, lanes, kLanes, y);
        fit_shared(y, kLanes, true);
        double absolute[kLanes];
        lanes_absolute_sum(nt, include, r_.data(), absolute);
        for (int l = 0; l < n; ++l) {
            const int i = first + l;
            Series &s = series_[i];
            s.variance = variance[l];
            s.absolute = absolute[l];
            s.singular = false;
            for (int b = 0; b < nb; ++b) s.beta[b] = beta_[b * kLanes + l];
            for (int t = 0; t < nt; ++t) {
                batch_r_[i * stride + t] = r_[t * kLanes + l];
                batch_w_[i * stride + t] = 1.0f;
                batch_y_[i * stride + t] = y[t * kLanes + l];
            }
        }
    }

    // Re-weighting: each point is weighted by the inverse square of its
    // (floored, mean-normalised) absolute residual, until the variance changes
    // by at most 0.1 percent, at most 10 times. Every lane carries one series
    // through its passes and takes the next one when it is done, so that
    // lanes do not idle while others go on.
    int slot[kLanes], passes[kLanes], next = 0;
    const auto load_series = [&](int l) {
        while (next < count && series_[next].variance == 0.0f) ++next;  // no residual: nothing to re-weight
        slot[l] = next < count ? next++ : -1;
        passes[l] = 0;
        if (slot[l] < 0) return;
        const Series &s = series_[slot[l]];
        const float *in = &batch_y_[slot[l] * stride];
        for (int t = 0; t < nt; ++t) {
            y[t * kLanes + l] = in[t];
            r_[t * kLanes + l] = batch_r_[slot[l] * stride + t];
            w_[t * kLanes + l] = 1.0f;
        }
        variance[l] = s.variance;
        for (int b = 0; b < nb; ++b) betad_[b * kLanes + l] = beta_[b * kLanes + l] = s.beta[b];
    };
    const auto finish_series = [&](int l, bool singular) {
        Series &s = series_[slot[l]];
        s.singular = singular;
        s.variance = singular ? 0.0f : variance[l];
        for (int b = 0; b < nb; ++b) s.beta[b] = singular ? 0.0f : beta_[b * kLanes + l];
        for (int t = 0; t < nt; ++t) batch_w_[slot[l] * stride + t] = w_[t * kLanes + l];
        load_series(l);
    };
    for (int l = 0; l < kLanes; ++l) load_series(l);
    for (;;) {
        unsigned active = 0;
        float floor[kLanes], mean[kLanes], previous[kLanes], total[kLanes];
        for (int l = 0; l < kLanes; ++l) {
            previous[l] = variance[l];
            floor[l] = slot[l] >= 0 ? std::sqrt(previous[l]) / 10.0f : 0.0f;
        }
        lanes_residual_total(nt, include, r_.data(), floor, total);
        bool occupied = false;
        for (int l = 0; l < kLanes; ++l) {
            mean[l] = 1.0f;
            if (slot[l] < 0) continue;
            occupied = true;
            if (!(total[l] > 0.0f)) {  // no weights to form: the series keeps its last fit
                finish_series(l, false);  // the lane's next series starts with the next pass
                continue;
            }
            mean[l] = total[l] / static_cast<float>(plan_.ninclude);
            active |= 1u << l;
        }
        if (!occupied) break;
        lanes_reweight(nt, include, r_.data(), floor, mean, active, w_.data());
        // Weighted cross-products and X'W r in one sweep; the coefficients
        // change by (X'WX)^-1 X'W r.
        float *wr = work_.data() + static_cast<std::size_t>(nt) * kLanes;
        for (int i = 0; i < nt * kLanes; ++i) wr[i] = w_[i] * r_[i];
        lanes_weighted_sums(plan_.stride, plan_.stride, plan_.segment, nt, include, plan_.products.data(), w_.data(), wr,
                            N_.data());
        double *A = normal_.data(), *h = solve_.data();
        widen_products(N_.data(), plan_.pair, nb, A);
        const unsigned failed = lanes_cholesky(nb, A, plan_.dropped.data());
        for (int b = 0; b < nb; ++b)
            for (int l = 0; l < kLanes; ++l)
                h[b * kLanes + l] = plan_.dropped[b] ? 0.0 : N_[(plan_.segment + b) * kLanes + l];
        lanes_solve(nb, A, h, true);
        for (int l = 0; l < kLanes; ++l) {
            if (!((active >> l) & 1u) || ((failed >> l) & 1u)) continue;
            for (int b = 0; b < nb; ++b) {
                betad_[b * kLanes + l] += h[b * kLanes + l];
                beta_[b * kLanes + l] = static_cast<float>(betad_[b * kLanes + l]);
            }
        }
        float squares[kLanes], largest[kLanes];
        lanes_residual(nb, nt, plan_.X.data(), y, kLanes, include, beta_.data(), r_.data(), squares, largest);
        for (int l = 0; l < kLanes; ++l) {
            if (!((active >> l) & 1u)) continue;
            if ((failed >> l) & 1u) {
                finish_series(l, true);
                continue;
            }
            ++passes[l];
            const float rounding = 4.0f * FLT_EPSILON * largest[l] * std::sqrt(static_cast<float>(nt));
            variance[l] = squares[l] > static_cast<float>(nt) * rounding * rounding ? squares[l] / plan_.dof : 0.0f;
            const double change = variance[l] == 0.0f ? 0.0
                                  : std::fabs(static_cast<double>(variance[l] - previous[l])) * 100.0 / previous[l];
            if (variance[l] == 0.0f || !(change > 0.1) || passes[l] == kMaxReweightings) finish_series(l, false);
        }
    }

    // Inference for the re-weighted estimate b = A X'W y (A = (X'WX)^-1): the
    // sandwich A X'W^2 X A tau^2 with the robust scale tau of the first
    // fit's residuals, in units of the variance; the degrees of freedom and
    // the conditions' scales come from the calibration. Eight series at a
    // time, from their final weights.
    const int dof0 = plan_.ninclude - nb;
    const float calibrated = GLM_reweighted_dof();
    for (int first = 0; first < count; first += kLanes) {
        const int n = count - first < kLanes ? count - first : kLanes;
        for (int l = 0; l < kLanes; ++l) {
            const Series &s = series_[first + (l < n ? l : 0)];
            const float *w = &batch_w_[(first + (l < n ? l : 0)) * stride];
            for (int t = 0; t < nt; ++t) w_[t * kLanes + l] = w[t];
            for (int b = 0; b < nb; ++b) beta_[b * kLanes + l] = s.beta[b];
            variance[l] = s.variance;
            singular[l] = s.singular;
            dof[l] = plan_.dof;
            order[l] = 0;
        }
        lanes_weighted_sums(plan_.segment, plan_.stride, plan_.segment, nt, include, plan_.products.data(), w_.data(),
                            nullptr, N_.data());
        widen_products(N_.data(), plan_.pair, nb, factor_.data());
        lanes_cholesky(nb, factor_.data(), plan_.dropped.data());
        for (std::size_t i = 0; i < w_.size(); ++i) w_[i] *= w_[i];
        lanes_weighted_sums(plan_.segment, plan_.stride, plan_.segment, nt, include, plan_.products.data(), w_.data(),
                            nullptr, N_.data());
        double *M = normal_.data();
        widen_products(N_.data(), plan_.pair, nb, M);
        double factor[kLanes];
        bool sandwich = false, model = false;
        for (int l = 0; l < kLanes; ++l) {
            factor[l] = 0.0;
            const double absolute = series_[first + (l < n ? l : 0)].absolute;
            if (singular[l] || variance[l] == 0.0f) continue;
            if (dof0 <= 0 || !(absolute > 0.0)) {
                model = true;
                continue;
            }
            const double tau2 = 1.5707963267948966 * absolute * absolute / (static_cast<double>(plan_.ninclude) * dof0);
            factor[l] = tau2 / variance[l];
            dof[l] = calibrated > 0.0f ? calibrated : static_cast<float>(dof0);
            sandwich = true;
        }
        own_covariance_ = true;
        if (sandwich) condition_covariances(factor_.data(), M, factor);
        // Lanes without a sandwich keep the model covariance of their last
        // weights (only a series whose first residuals are all 0 could).
        double ones[kLanes];
        for (int l = 0; l < kLanes; ++l) ones[l] = 1.0;
        if (model) condition_covariances(factor_.data(), nullptr, ones, factor);
        done(first, n);
    }
}

void TileFitter::condition_covariances(const double *L, const double *middle, const double *factor,
                                       const double *only_where_zero, double *keep) {
    // Covariance K A K' (A = (L L')^-1) of every condition, or with a middle
    // matrix M the sandwich factor K A M A K', for every lane (lanes whose
    // only_where_zero entry is not 0 are left as they are).
    const int nb = plan_.nb;
    own_covariance_ = true;
    for (int c = 0; c < plan_.nconditions; ++c) {
        const int q = plan_.rows[c];
        double *Z = solve_.data(), *out = Z + static_cast<std::size_t>(q) * nb * kLanes;
        for (int r = 0; r < q; ++r) {
            double *z = Z + static_cast<std::size_t>(r) * nb * kLanes;
            for (int b = 0; b < nb; ++b)
                for (int l = 0; l < kLanes; ++l) z[b * kLanes + l] = plan_.contrast[c][static_cast<std::size_t>(r) * nb + b];
            lanes_solve(nb, L, z, middle != nullptr);
        }
        if (keep) {  // L^-1 K' of every condition, one after the other
            std::copy(Z, Z + static_cast<std::size_t>(q) * nb * kLanes, keep);
            keep += static_cast<std::size_t>(q) * nb * kLanes;
        }
        const float scale = GLM_condition_variance_scale(c);
        for (int r = 0; r < q; ++r)
            for (int s2 = r; s2 < q; ++s2) {
                lanes_quadratic(nb, Z + static_cast<std::size_t>(r) * nb * kLanes, middle,
                                Z + static_cast<std::size_t>(s2) * nb * kLanes, out);
                for (int l = 0; l < kLanes; ++l) {
                    if (only_where_zero && only_where_zero[l] != 0.0) continue;
                    const float value = static_cast<float>(middle ? out[l] * factor[l] : out[l]) * scale;
                    cov_[value_offset_[c] + static_cast<std::size_t>(l) * q * q + r * q + s2] = value;
                    cov_[value_offset_[c] + static_cast<std::size_t>(l) * q * q + s2 * q + r] = value;
                }
            }
        for (int l = 0; l < kLanes; ++l) {
            if (only_where_zero && only_where_zero[l] != 0.0) continue;
            float *cov = &cov_[value_offset_[c] + static_cast<std::size_t>(l) * q * q];
            float *inv = &inv_[value_offset_[c] + static_cast<std::size_t>(l) * q * q];
            float **cr = &cov_rows_[row_offset_[c] + static_cast<std::size_t>(l) * q];
            float **ir = &inv_rows_[row_offset_[c] + static_cast<std::size_t>(l) * q];
            for (int r = 0; r < q; ++r) cr[r] = cov + r * q, ir[r] = inv + r * q;
            own_singular_[static_cast<std::size_t>(c) * kLanes + l] = GLM_invert_condition_covariance(q, cr, ir);
        }
    }
}

void TileFitter::fitted(float *out) const { lanes_combine(plan_.nb, plan_.nt, plan_.U.data(), beta_.data(), out); }

void TileFitter::test(int c, int l, int resels, ConditionTest *out) const {
    const int q = plan_.rows[c], nb = plan_.nb;
    const bool bad = own_covariance_ ? own_singular_[static_cast<std::size_t>(c) * kLanes + l] != 0 : plan_.singular[c] != 0;
    if (variance[l] == 0.0f || singular[l] || bad) {
        *out = ConditionTest{0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0};
        return;
    }
    float *v = contrast_values_.data();
    const float *K = plan_.contrast[c].data();
    for (int r = 0; r < q; ++r) {
        float sum = 0.0f;
        for (int b = 0; b < nb; ++b) sum += K[r * nb + b] * beta_[b * kLanes + l];
        v[r] = sum;
    }
    float *const *cr, *const *ir;
    if (own_covariance_) {
        cr = &cov_rows_[row_offset_[c] + static_cast<std::size_t>(l) * q];
        ir = &inv_rows_[row_offset_[c] + static_cast<std::size_t>(l) * q];
    } else {
        for (int r = 0; r < q; ++r) {
            shared_rows_[r] = const_cast<float *>(&plan_.covariance[c][static_cast<std::size_t>(r) * q]);
            shared_rows_[q + r] = const_cast<float *>(&plan_.inverse[c][static_cast<std::size_t>(r) * q]);
        }
        cr = shared_rows_.data();
        ir = shared_rows_.data() + q;
    }
    const std::size_t at = static_cast<std::size_t>(c) * kLanes + l;
    GLM_condition_test(v, q, const_cast<float **>(cr), const_cast<float **>(ir), variance[l],
                       corrected_ ? test_dof_[at] : dof[l], resels, out, corrected_ ? test_scale_[at] : 1.0f);
}
