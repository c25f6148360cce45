// AR noise model: the residual-forming matrix and the bias-reduction matrix
// of a design, the per-voxel autocorrelation estimate, the whitening filter
// built from it, and whitening of data and design.
#include "glm/ar_model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "glm/fit.h"
#include "glm/fit_context.h"
#include "glm/frequency_filter.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "numerics/matrix_inverse.h"
#include "numerics/warnings.h"

namespace {

// Rows of the residual and mixing matrices this module allocated, so that
// they can be released with the right count.
float **residual_allocated = nullptr;
int residual_rows = 0;
float **mixing_allocated = nullptr;
int mixing_rows = 0;

// Bias-reduction factors of the lags p+1 ... p+higher_lags: entry [l][m] is
// the factor of the lag-(p+1+m) autocovariance in the expected lag-l
// residual autocovariance.
constexpr int kHigherLags = 32;
int higher_lags = 0;
OwnedMatrix<float> higher_factors;

// Masked design of the build and its unit-weight pseudo-inverse, for the
// residuals of the AR estimate (shared by all threads, read only).
OwnedMatrix<float> build_design;  // ntime x nbasis
OwnedMatrix<float> build_pinv;    // nbasis x ntime
bool build_kept = false;

// The filter the design in force of this thread's context was made with:
// order 0 means unwhitened; otherwise the leading (order+1) x (order+1) block
// of the whitening matrix it was made with, which determines the whole band.
thread_local int applied_order = 0;
thread_local OwnedMatrix<float> applied_block;
// The inverse factor of the filter in force (leading (q+1) block), which
// together with the inclusion mask determines the whole whitening matrix.
thread_local OwnedMatrix<float> filter_block;

// The before-fit band filter a design was made with (inactive: none).
struct BandKey {
    bool active = false;
    float low = 0.0f, high = 0.0f, tr = 0.0f;
    int ntime = 0;
    bool operator==(const BandKey &) const = default;
};
thread_local BandKey applied_band;
// Trace of the filtered noise covariance of the current build, and its band.
thread_local BandKey noise_trace_band;
thread_local double noise_trace = 0.0;

// Per-voxel working storage of this thread, allocated once per size.
thread_local OwnedVector<float> series_copy;            // ntime
thread_local OwnedVector<double> residuals;             // ntime
thread_local OwnedVector<double> coefficients;          // nbasis
thread_local OwnedMatrix<float> toeplitz, cholesky;     // (p+1) x (p+1)
thread_local OwnedMatrix<double> inverse_work;          // (p+1) x (p+1)
thread_local OwnedVector<double> estimate_work, phi_work;  // autocovariances and AR coefficients of one estimate

void ensure(OwnedMatrix<float> &m, int rows, int cols) {
    if (m.rows() != rows || m.cols() != cols) m = OwnedMatrix<float>(rows, cols);
}

void copy_matrix(float **to, float **from, int rows, int cols) {
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) to[i][j] = from[i][j];
}

void use_unwhitened_design() {
    fit_context.design_matrix = GLM.design_matrix;
    applied_order = 0;
    applied_band = BandKey{};
    noise_trace_band = BandKey{};
    GLMInternal_set_design_filter(false, 0.0);
}

BandKey current_band() {
    BandKey key;
    if (!GLM_prefilter_active()) return key;
    key.active = true;
    key.low = GLM_input.preGLM_frequency_band[0];
    key.high = GLM_input.preGLM_frequency_band[1];
    key.tr = GLM.tr[0];
    key.ntime = GLM.ntime;
    return key;
}

bool filter_matches_applied(int q) {
    if (q != applied_order || applied_block.rows() < q + 1) return false;
    for (int i = 0; i <= q; ++i)
        for (int j = 0; j <= i; ++j)
            if (applied_block[i][j] != filter_block[i][j]) return false;
    return true;
}

// Lower Cholesky factor of the leading (q+1) block of T. False when a
// diagonal remainder is not positive (also when it is exactly 0, which would
// leave a singular factor, or NaN).
bool cholesky_factor(int q) {
    for (int j = 0; j <= q; ++j)
        for (int i = j; i <= q; ++i) {
            float r = toeplitz[i][j];
            for (int k = 0; k < j; ++k) r -= cholesky[i][k] * cholesky[j][k];
            if (i == j) {
                if (!(r > 0.0f)) return false;
                cholesky[j][j] = std::sqrt(r);
            } else {
                cholesky[i][j] = r / cholesky[j][j];
            }
        }
    return true;
}

// Extends the autocorrelations rho[0 .. p] of an AR(p) process to the lags
// p+1 ... p+count by its recursion rho[m] = sum over i of phi[i] rho[m-i],
// with phi from the Levinson-Durbin recursion. False when rho[0 .. p] is not
// the autocorrelation of a stationary process (a reflection of 1 or more).
bool extend_autocorrelation(double *rho, int p, int count) {
    if (phi_work.size() < 2 * (p + 1)) phi_work = OwnedVector<double>(2 * (p + 1), "Allocation error in double_vector().");
    double *phi = phi_work.get(), *previous = phi + (p + 1);
    double v;
    if (!GLM_levinson_durbin(rho, p, phi, previous, v)) return false;
    for (int m = p + 1; m <= p + count; ++m) {
        double sum = 0.0;
        for (int i = 1; i <= p; ++i) sum += phi[i] * rho[m - i];
        rho[m] = sum;
    }
    return true;
}

}  // namespace

void GLMInternal_calculate_residual_matrix() {
    const int nt = GLM.ntime;
    const int nb = GLM.nbasis;
    if (GLM.residual_matrix)
        free_float_matrix(GLM.residual_matrix, GLM.residual_matrix == residual_allocated ? residual_rows : nt);
    GLM.residual_matrix = float_matrix(nt, nt);
    residual_allocated = GLM.residual_matrix;
    residual_rows = nt;

    ensure(build_design, nt, nb);
    ensure(build_pinv, nb, nt);
    copy_matrix(build_design.get(), GLM.design_matrix, nt, nb);
    copy_matrix(build_pinv.get(), fit_context.pseudo_inverse.get(), nb, nt);
    build_kept = true;

    // R[i][j] = (i == j ? include[i] : 0) - sum over b of P[b][j] X[i][b]
    // (b increasing) for included i and j. Row by row, the sums of all j are
    // carried together through b, each in its own order.
    const int *inc = GLM.include;
    for (int i = 0; i < nt; ++i) {
        float *Ri = GLM.residual_matrix[i];
        for (int j = 0; j < nt; ++j) Ri[j] = 0.0f;
        if (inc[i]) {
            const float *xi = GLM.design_matrix[i];
            for (int b = 0; b < nb; ++b) {
                const float xb = xi[b];
                const float *Pb = build_pinv[b];
                for (int j = 0; j < nt; ++j) Ri[j] += Pb[j] * xb;
            }
        }
        for (int j = 0; j < nt; ++j) {
            const float diagonal = (i == j) ? static_cast<float>(inc[i]) : 0.0f;
            Ri[j] = diagonal - ((inc[i] && inc[j]) ? Ri[j] : 0.0f);
        }
    }
}

void GLMInternal_calculate_AR_mixing_matrix() {
    const int p = GLM_input.AR_order;
    const int nt = GLM.ntime;
    if (p <= 0 || !GLM.residual_matrix) return;
    if (GLM.AR_mixing_matrix && GLM.AR_mixing_matrix == mixing_allocated && mixing_rows != p + 1) {
        free_float_matrix(GLM.AR_mixing_matrix, mixing_rows);
        GLM.AR_mixing_matrix = nullptr;
    }
    if (!GLM.AR_mixing_matrix) {
        GLM.AR_mixing_matrix = float_matrix(p + 1, p + 1);
        mixing_allocated = GLM.AR_mixing_matrix;
        mixing_rows = p + 1;
    }
    float **R = GLM.residual_matrix;
    float **M = GLM.AR_mixing_matrix;
    const int *inc = GLM.include;

    // The products read R down its columns; a transposed copy turns those
    // reads into row reads.
    OwnedMatrix<float> RT(nt, nt);
    for (int i = 0; i < nt; ++i)
        for (int j = 0; j < nt; ++j) RT[j][i] = R[i][j];

    // M[l][m] = trace(A_l B_m) = sum over i, k of A_l[i][k] B_m[k][i], with
    // A_l[i][k] = R[i][k-l], B_0 = diag(include) and
    // B_m[k][i] = R[k][i-m] + R[k][i+m]; only the diagonal of each product is
    // formed, summed in single precision, i outer and k inner. Terms that are
    // zero by construction are left out.
    auto trace_entry = [&](int l, int m) {
        float sum = 0.0f;
        if (m == 0) {
            for (int i = l; i < nt; ++i) sum += R[i][i - l] * static_cast<float>(inc[i]);
        } else {
            for (int i = 0; i < nt; ++i) {
                const float *Ri = R[i];
                const float *before = (i - m >= 0) ? RT[i - m] : nullptr;
                const float *after = (i + m < nt) ? RT[i + m] : nullptr;
                if (before && after) {
                    for (int k = l; k < nt; ++k) sum += Ri[k - l] * (before[k] + after[k]);
                } else if (before) {
                    for (int k = l; k < nt; ++k) sum += Ri[k - l] * before[k];
                } else if (after) {
                    for (int k = l; k < nt; ++k) sum += Ri[k - l] * after[k];
                }
            }
        }
        return sum;
    };
    // The same factors for the lags beyond p, through which the autocorrelation
    // that the AR model implies at those lags also enters the residuals.
    higher_lags = nt - 1 < p + kHigherLags ? nt - 1 - p : kHigherLags;
    if (higher_lags < 0) higher_lags = 0;
    higher_factors = OwnedMatrix<float>(p + 1, higher_lags > 0 ? higher_lags : 1);
    for (int l = 0; l <= p; ++l) {
        if (p > 1) {
            std::printf("\rCalculating AR bias reduction matrix for row %d ...", l);
            std::fflush(stdout);
        }
        for (int m = 0; m <= p; ++m) M[l][m] = trace_entry(l, m);
        for (int m = 0; m < higher_lags; ++m) higher_factors[l][m] = trace_entry(l, p + 1 + m);
    }
    std::printf("\n");

    int ierr;
    if (rInvertSquareMatrix(p + 1, M, &ierr) != 0) {
        print_warning("Warning: the AR bias reduction matrix is singular; AR coefficients are not bias-corrected.\n");
        for (int l = 0; l <= p; ++l)
            for (int m = 0; m <= p; ++m) M[l][m] = (l == m) ? 1.0f : 0.0f;
    }
}

int GLM_calculate_AR_coefficient(int n, const float *y, int order, float *coeff) {
    if (n != GLM.ntime) {
        std::printf("Error calculating AR coefficient: nt (%d,%d) is inconsistent.\n", n, GLM.ntime);
        return 1;
    }
    if (order != GLM_input.AR_order) {
        std::printf("Error calculating AR coefficient: order (%d,%d) is inconsistent.\n", order, GLM_input.AR_order);
        return 1;
    }
    if (order == 0) return 0;
    if (!build_kept || !GLM.AR_mixing_matrix || build_design.rows() != n) {
        std::printf("Error calculating AR coefficient: the AR model of the design is not defined.\n");
        return 1;
    }
    const int nb = static_cast<int>(build_design.cols());
    const int *inc = GLM.include;
    if (residuals.size() < n) residuals = OwnedVector<double>(n, "Allocation error in double_vector().");
    if (coefficients.size() < nb + 1)
        coefficients = OwnedVector<double>(nb + 1, "Allocation error in double_vector().");

    // Residuals of the unweighted fit of the build: include * (y - X b) with
    // b = P (include * y); the same as R (include * y) at nbasis x ntime cost.
    for (int b = 0; b < nb; ++b) {
        const float *Pb = build_pinv[b];
        double s = 0.0;
        for (int t = 0; t < n; ++t)
            if (inc[t]) s += static_cast<double>(Pb[t]) * y[t];
        coefficients[b] = s;
    }
    for (int t = 0; t < n; ++t) {
        if (!inc[t]) {
            residuals[t] = 0.0;
            continue;
        }
        const float *xt = build_design[t];
        double s = 0.0;
        for (int b = 0; b < nb; ++b) s += xt[b] * coefficients[b];
        residuals[t] = y[t] - s;
    }

    // Residual autocovariances, then the bias reduction.
    if (estimate_work.size() < order + 1)
        estimate_work = OwnedVector<double>(order + 1, "Allocation error in double_vector().");
    double *a = estimate_work.get();
    for (int l = 0; l <= order; ++l) {
        double sum = 0.0;
        for (int t = l; t < n; ++t) sum += residuals[t] * residuals[t - l];
        a[l] = sum;
    }
    GLM_autocorrelations_from_residuals(a, order, coeff);
    return 0;
}

void GLM_autocorrelations_from_residuals(const double *a, int order, float *coeff) {
    thread_local OwnedVector<double> work;
    if (work.size() < 3 * (order + 1) + higher_lags)
        work = OwnedVector<double>(3 * (order + 1) + higher_lags, "Allocation error in double_vector().");
    double *c = work.get();              // order + 1 bias-reduced autocovariances
    double *rho = c + (order + 1);       // autocorrelations, lags 0 ... order + higher_lags
    auto reduce = [&](const double *from) {
        for (int l = 0; l <= order; ++l) {
            double sum = 0.0;
            for (int m = 0; m <= order; ++m) sum += GLM.AR_mixing_matrix[l][m] * from[m];
            c[l] = sum;
        }
    };
    reduce(a);
    if (c[0] == 0.0) {
        // No residual at all: the lag-0 value is not divided by.
        coeff[0] = 1.0f;
        for (int l = 1; l <= order; ++l) coeff[l] = static_cast<float>(c[l]);
        return;
    }
    rho[0] = 1.0;
    for (int l = 1; l <= order; ++l) rho[l] = c[l] / c[0];
    // The reduction above assumes no autocorrelation beyond lag p, but an AR(p)
    // process has it at every lag, and through the fit it biases the residual
    // autocovariances too (towards 0, by about 1.7 rho / n for AR(1) rho 0.4).
    // A few passes take out the part of the lags beyond p implied by the
    // current estimate, extended by the AR recursion.
    for (int pass = 0; pass < 5 && higher_lags > 0; ++pass) {
        if (!extend_autocorrelation(rho, order, higher_lags)) break;
        double *corrected = rho + order + 1 + higher_lags;  // scratch beyond rho: order + 1 values
        for (int l = 0; l <= order; ++l) {
            double implied = 0.0;
            for (int m = 0; m < higher_lags; ++m) implied += higher_factors[l][m] * rho[order + 1 + m];
            corrected[l] = a[l] - c[0] * implied;
        }
        reduce(corrected);
        if (!(c[0] > 0.0)) break;
        for (int l = 1; l <= order; ++l) rho[l] = c[l] / c[0];
    }
    coeff[0] = 1.0f;
    for (int l = 1; l <= order; ++l) coeff[l] = static_cast<float>(rho[l]);
}

int GLM_AR_bias_terms(std::vector<double> &mixing, std::vector<double> &factors) {
    const int p = GLM_input.AR_order;
    mixing.resize(static_cast<std::size_t>(p + 1) * (p + 1));
    factors.resize(static_cast<std::size_t>(p + 1) * (higher_lags > 0 ? higher_lags : 1));
    for (int l = 0; l <= p; ++l) {
        for (int m = 0; m <= p; ++m) mixing[static_cast<std::size_t>(l) * (p + 1) + m] = GLM.AR_mixing_matrix[l][m];
        for (int m = 0; m < higher_lags; ++m) factors[static_cast<std::size_t>(l) * higher_lags + m] = higher_factors[l][m];
    }
    return higher_lags;
}

const float *GLM_AR_estimate_design(const float **pseudo_inverse) {
    if (!build_kept || !GLM.AR_mixing_matrix || build_design.rows() != GLM.ntime) return nullptr;
    *pseudo_inverse = build_pinv[0];
    return build_design[0];
}


int GLM_whitening_factor(int p, const float *coeff, float *factor) {
    ensure(toeplitz, p + 1, p + 1);
    ensure(cholesky, p + 1, p + 1);
    for (int i = 0; i <= p; ++i)
        for (int j = 0; j <= p; ++j) {
            toeplitz[i][j] = coeff[std::abs(j - i)];
            cholesky[i][j] = 0.0f;
        }

    // Lower the order until the autocorrelations of the leading block are
    // positive definite. Order 0 fails only for a lag-0 value that is not
    // positive; the filter is then the identity.
    int q = p;
    while (q >= 0 && !cholesky_factor(q)) {
        for (int i = 0; i <= p; ++i)
            for (int j = 0; j <= p; ++j) cholesky[i][j] = 0.0f;
        --q;
    }
    if (q < 0) {
        q = 0;
        cholesky[0][0] = 1.0f;
    }

    // Inverse of the factor (through the double-precision inversion, rounded
    // back to float), in storage kept between voxels.
    if (inverse_work.rows() != p + 1)
        inverse_work = OwnedMatrix<double>(p + 1, p + 1, "Allocation failure 1 in double_matrix().",
                                           "Allocation failure 2 in double_matrix().");
    for (int i = 0; i <= q; ++i)
        for (int j = 0; j <= q; ++j) inverse_work[i][j] = (j <= i) ? cholesky[i][j] : 0.0;
    int ierr;
    dInvertSquareMatrix(q + 1, inverse_work.get(), &ierr);  // a positive diagonal cannot give a zero pivot
    for (int i = 0; i <= p; ++i)
        for (int j = 0; j <= p; ++j)
            factor[i * (p + 1) + j] = i <= q && j <= q ? static_cast<float>(inverse_work[i][j]) : 0.0f;
    return q;
}

int GLM_calculate_whitening_filter(int dimension, const float *coeff, std::int16_t *order_out) {
    FitContext &f = fit_context;
    const int p = GLM_input.AR_order;
    *order_out = static_cast<std::int16_t>(p);
    if (dimension != p + 1) {
        std::printf("Error calculating whitening filter: AR dimension (%d)\n", dimension);
        std::printf("is inconsistent with AR order (%d)\n", p);
        return 1;
    }
    if (p <= 0) {
        f.whitening_order = 0;
        return 0;
    }
    if (f.whitening.cols() != p + 1 || f.whitening.rows() != GLM.ntime) f.whitening = OwnedMatrix<float>(GLM.ntime, p + 1);
    ensure(filter_block, p + 1, p + 1);
    const int q = GLM_whitening_factor(p, coeff, filter_block[0]);
    float **Linv = filter_block.get();

    // The filter restarts on every contiguous block of included points, as on
    // a series of its own: the first q+1 points of a block take the rows of
    // the inverse factor, later ones the taps (the last row of the inverse
    // factor, read from the diagonal leftwards). Excluded points get a zero
    // row, so they neither enter the fit nor leak into their neighbours.
    // Without excluded points this is the usual banded filter of the series.
    // Row t of the band holds W[t][t - p + i] at i = 0 ... p.
    const int nt = GLM.ntime;
    const int *inc = GLM.include;
    int block_start = 0;
    for (int t = 0; t < nt; ++t) {
        float *Wt = f.whitening[t] + p - t;  // Wt[s] = W[t][s]
        for (int i = 0; i <= p; ++i) f.whitening[t][i] = 0.0f;
        if (!inc[t]) {
            block_start = t + 1;
            continue;
        }
        const int k = t - block_start;
        if (k <= q) {
            for (int j = 0; j <= k; ++j) Wt[block_start + j] = Linv[k][j];
        } else {
            for (int i = 0; i <= q; ++i) Wt[t - i] = Linv[q][q - i];
        }
    }
    f.whitening_order = q;
    *order_out = static_cast<std::int16_t>(q);
    return 0;
}

float GLM_whitening_entry(int t, int s) {
    const FitContext &f = fit_context;
    const int p = static_cast<int>(f.whitening.cols()) - 1;
    if (s > t || s < t - p || f.whitening_order <= 0) return s == t ? 1.0f : 0.0f;
    return f.whitening[t][s - t + p];
}

void GLMInternal_whiten_data(float *y) {
    const FitContext &f = fit_context;
    const int q = f.whitening_order;
    if (q <= 0) return;
    const int nt = GLM.ntime;
    const int p = static_cast<int>(f.whitening.cols()) - 1;
    if (series_copy.size() < nt) series_copy = OwnedVector<float>(nt);
    float *copy = series_copy.get();
    for (int t = 0; t < nt; ++t) copy[t] = y[t];
    for (int t = 0; t < nt; ++t) {
        const int first = t - q > 0 ? t - q : 0;
        const float *Wt = f.whitening[t] + p - t;
        float s = 0.0f;
        for (int k = first; k <= t; ++k) s += Wt[k] * copy[k];
        y[t] = s;
    }
}

void GLMInternal_whiten_model(int save) {
    FitContext &f = fit_context;
    const int nt = GLM.ntime;
    const int nb = GLM.nbasis;
    if (save) {
        use_unwhitened_design();
        return;
    }

    const int q = f.whitening_order;
    const BandKey band = current_band();
    const bool same_filter = q <= 0 ? applied_order == 0 : filter_matches_applied(q);
    if (same_filter && band == applied_band) {
        if (!GLMInternal_fit_setup_current()) GLMInternal_complete_model();
        return;
    }

    if (q <= 0 && !band.active) {
        // The unwhitened design: no voxel is fitted with another voxel's
        // whitened design.
        f.design_matrix = GLM.design_matrix;
    } else if (q <= 0) {
        copy_matrix(f.whitened.get(), GLM.design_matrix, nt, nb);
        f.design_matrix = f.whitened.get();
    } else {
        // design[t][b] = sum over s = max(0, t-q) ... t of W[t][s] X[s][b],
        // s increasing; the sums of all b are carried together through s.
        const int p = static_cast<int>(f.whitening.cols()) - 1;
        for (int t = 0; t < nt; ++t) {
            float *out = f.whitened[t];
            for (int b = 0; b < nb; ++b) out[b] = 0.0f;
            const int first = t - q > 0 ? t - q : 0;
            const float *Wt = f.whitening[t] + p - t;
            for (int s = first; s <= t; ++s) {
                const float w = Wt[s];
                const float *xs = GLM.design_matrix[s];
                for (int b = 0; b < nb; ++b) out[b] += w * xs[b];
            }
        }
        f.design_matrix = f.whitened.get();
        if (applied_block.rows() < q + 1) {
            const int size = (q > GLM_input.AR_order ? q : GLM_input.AR_order) + 1;
            applied_block = OwnedMatrix<float>(size, size);
        }
        for (int i = 0; i <= q; ++i)
            for (int j = 0; j <= q; ++j) applied_block[i][j] = filter_block[i][j];
    }
    if (band.active) {
        // The fit models what the data become: the design columns pass the
        // same band filter as the data.
        if (!(noise_trace_band == band)) {
            noise_trace = GLMInternal_filtered_noise_trace();
            noise_trace_band = band;
        }
        if (series_copy.size() < nt) series_copy = OwnedVector<float>(nt);
        float *column = series_copy.get();
        float **design = f.design_matrix;
        for (int b = 0; b < nb; ++b) {
            for (int t = 0; t < nt; ++t) column[t] = design[t][b];
            GLMInternal_filter_masked(column);
            for (int t = 0; t < nt; ++t) design[t][b] = column[t];
        }
        // A high-pass can remove a combination of columns (the sum of the
        // run offsets is a constant): the data then have no component there
        // either, and the column that completes it is left out of the fit.
        int first, second;
        while (GLMInternal_find_dependent_columns(design, &first, &second, true))
            for (int t = 0; t < nt; ++t) design[t][second] = 0.0f;
    }
    GLMInternal_set_design_filter(band.active, noise_trace);
    applied_band = band;
    applied_order = q;
    GLMInternal_complete_model();
}
