// Weighted least-squares fit of one series: the fit set-up (inverse normal
// matrix, pseudo-inverse, leverages, degrees of freedom), one fit, the iWLS
// re-weighting, the weights of the noise models, residue and baseline.
#include "glm/fit.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "glm/ar_model.h"
#include "glm/fit_context.h"
#include "glm/frequency_filter.h"
#include "glm/polynomial.h"
#include "glm/state.h"
#include "glm/statistics.h"
#include "numerics/arrays.h"
#include "numerics/matrix_inverse.h"

thread_local FitContext fit_context;

namespace {

std::uint64_t model_build = 0;

// Which design and weights the set-up in the context was made from.
struct SetupRecord {
    bool current = false;
    float **design = nullptr;
    const float *weight = nullptr;
    int ntime = 0;
    int nbasis = 0;
    int noise_model = 0;  // decides whether DOF follows the leverages
};
thread_local SetupRecord setup;

// Working storage of this thread, grown when needed and reused for every series.
thread_local OwnedMatrix<double> inversion_work;  // nbasis x nbasis
thread_local OwnedMatrix<double> product_work, second_work;  // nbasis x nbasis
thread_local OwnedMatrix<float> inverse_transposed;  // nbasis x nbasis: XtX_inverse by columns
thread_local OwnedVector<float> column_buffer;    // nbasis: one column of the pseudo-inverse
thread_local OwnedVector<float> weighted_data;    // ntime: include * weight * y
thread_local OwnedVector<float> run_raw, run_smooth, run_mask;  // ntime: fPET noise profile of one run

// Set while the design in force is band-filtered (see
// GLMInternal_set_design_filter), with the trace of the filtered noise
// covariance.
thread_local bool design_filtered = false;
thread_local double filtered_noise_trace = 0.0;
thread_local OwnedMatrix<float> filtered_columns;  // ntime x nbasis: the filter applied once more to the design
// Covariance of the coefficients in units of the residual variance, when it
// differs from XtX_inverse; covariance_corrected says which one is in force.
thread_local OwnedMatrix<float> coefficient_covariance;  // nbasis x nbasis
thread_local bool covariance_corrected = false;

// Residuals of the unweighted first fit of an iWLS series, and the degrees
// of freedom of its tests (0: ninclude - nbasis, until calibrated; shared by
// all threads).
thread_local OwnedVector<float> first_residual;
float reweighted_dof = 0.0f;

constexpr int kMaxReweightings = 10;
thread_local float variance_history[kMaxReweightings + 1];
thread_local int history_count = 0;

void ensure(OwnedVector<float> &v, int n) {
    if (v.size() < n) v = OwnedVector<float>(n);
}

// A failed inversion leaves nothing usable: the derived members are cleared
// so that no partly inverted matrix is ever taken for an inverse.
void clear_setup() {
    FitContext &f = fit_context;
    for (int i = 0; i < GLM.nbasis; ++i) {
        for (int j = 0; j < GLM.nbasis; ++j) f.XtX_inverse[i][j] = 0.0f;
        for (int t = 0; t < GLM.ntime; ++t) f.pseudo_inverse[i][t] = 0.0f;
    }
    for (int t = 0; t < GLM.ntime; ++t) f.leverage[t] = 0.0f;
}

// fPET weights of one run: the noise scale follows the square root of the
// decay-corrected running sum of the run's signal, smoothed by a weighted
// polynomial over the included points.
bool fpet_run_weights(int r, const float *y, float tau) {
    FitContext &f = fit_context;
    const int first = GLM.run_start[r];
    const int nr = GLM.run_stop[r] - first + 1;
    const float tr = GLM.tr[r];
    double sum = 0.0;
    for (int t = 0; t < nr; ++t) {
        sum += y[first + t];  // S(t): the run's values at positions 0 ... t
        const float time = tr * static_cast<float>(t);
        const double scaled = (tau == 0.0f) ? sum : std::exp(static_cast<double>(time) / tau) * sum;
        run_raw[t] = static_cast<float>(std::sqrt(std::fabs(scaled)));
        run_mask[t] = static_cast<float>(GLM.include[first + t]);
    }
    if (PolynomialDefineGLM(tau == 0.0f ? 1 : 4, nr, run_mask.get()) ||
        PolynomialFitGLM(nr, run_raw.get(), run_smooth.get()))
        std::exit(1);
    float total = 0.0f;
    for (int t = 0; t < nr; ++t) total += run_smooth[t];
    const float mean = total / static_cast<float>(nr);
    bool changed = false;
    for (int t = 0; t < nr; ++t) {
        float estimate, smooth, w;
        if (mean != 0.0f && std::isfinite(mean)) {
            estimate = run_raw[t] / mean;
            smooth = run_smooth[t] / mean;
            w = smooth != 0.0f ? 1.0f / (smooth * smooth) : 0.0f;
        } else {
            // A run without signal has no noise scale to follow: unit weights
            // rather than the 0/0 of dividing by its mean.
            estimate = smooth = w = 1.0f;
        }
        f.noise_estimate[first + t] = estimate;
        f.noise_fit[first + t] = smooth;
        if (f.weight[first + t] != w) changed = true;
        f.weight[first + t] = w;
    }
    return changed;
}

// A band filter F applied to a series y = X b + e of white noise (variance
// s2) leaves F e, whose covariance s2 F F is no longer s2 I. The least-squares
// fit of F y on the filtered design Xf = F X then has
//   Cov(b) = s2 (Xf'Xf)^-1 Xf'F F Xf (Xf'Xf)^-1 and
//   E[RSS] = s2 (trace(F F) - trace((Xf'Xf)^-1 Xf'F F Xf)),
// so the covariance is the sandwich and the degrees of freedom are the second
// trace: the dimensions that the filter leaves to the noise, minus those the
// fit takes. With gains of 0 and 1 this is n minus the removed frequencies
// minus nbasis. Filtering Xf once more gives F Xf.
void apply_filter_correction() {
    FitContext &f = fit_context;
    const int nb = GLM.nbasis;
    const int nt = GLM.ntime;
    if (filtered_columns.rows() != nt || filtered_columns.cols() != nb) filtered_columns = OwnedMatrix<float>(nt, nb);
    ensure(weighted_data, nt);
    float *column = weighted_data.get();
    for (int b = 0; b < nb; ++b) {
        for (int t = 0; t < nt; ++t) column[t] = f.design_matrix[t][b];
        GLMInternal_filter_masked(column);
        for (int t = 0; t < nt; ++t) filtered_columns[t][b] = column[t];
    }
    // M = (F Xf)'(F Xf), AM = A M with A = XtX_inverse, C = AM A; double sums.
    if (product_work.rows() != nb) product_work = OwnedMatrix<double>(nb, nb);
    if (second_work.rows() != nb) second_work = OwnedMatrix<double>(nb, nb);
    OwnedMatrix<double> &M = product_work, &AM = second_work;
    for (int i = 0; i < nb; ++i)
        for (int j = 0; j < nb; ++j) {
            double sum = 0.0;
            for (int t = 0; t < nt; ++t) sum += static_cast<double>(filtered_columns[t][i]) * filtered_columns[t][j];
            M[i][j] = sum;
        }
    float **A = f.XtX_inverse.get();
    double trace = 0.0;
    for (int i = 0; i < nb; ++i) {
        for (int j = 0; j < nb; ++j) {
            double sum = 0.0;
            for (int k = 0; k < nb; ++k) sum += A[i][k] * M[k][j];
            AM[i][j] = sum;
        }
        trace += AM[i][i];
    }
    if (coefficient_covariance.rows() != nb) coefficient_covariance = OwnedMatrix<float>(nb, nb);
    for (int i = 0; i < nb; ++i)
        for (int j = 0; j < nb; ++j) {
            double sum = 0.0;
            for (int k = 0; k < nb; ++k) sum += AM[i][k] * A[k][j];
            coefficient_covariance[i][j] = static_cast<float>(sum);
        }
    covariance_corrected = true;
    f.DOF = static_cast<float>(filtered_noise_trace - trace);
}

// Inference for the re-weighted estimate b = A X'W y (A = XtX_inverse). Its
// covariance is taken as the sandwich of fixed weights and homogeneous noise,
// A X'W^2 X A tau^2, with a robust noise scale tau from the mean absolute
// residual of the first, unweighted fit (tau = sigma for Gaussian noise),
// held in units of the fit's variance. Because the weights favour the points
// that the fit itself comes close to, this understates the spread of b by a
// factor that depends on the noise (about 2 in standard deviation); the
// per-analysis calibration (iwls_calibration.h) scales every condition and
// sets the degrees of freedom.
void reweighted_inference() {
    FitContext &f = fit_context;
    const int nb = GLM.nbasis, nt = GLM.ntime;
    double absolute = 0.0;
    for (int t = 0; t < nt; ++t)
        if (GLM.include[t]) absolute += std::fabs(first_residual[t]);
    const int dof = GLM.ninclude - nb;
    if (dof <= 0 || !(absolute > 0.0)) return;
    const double tau2 = 1.5707963267948966 * absolute * absolute / (static_cast<double>(GLM.ninclude) * dof);
    const double factor = tau2 / f.variance;
    if (coefficient_covariance.rows() != nb) coefficient_covariance = OwnedMatrix<float>(nb, nb);
    for (int i = 0; i < nb; ++i)
        for (int j = 0; j <= i; ++j) {
            double sum = 0.0;
            const float *Pi = f.pseudo_inverse[i], *Pj = f.pseudo_inverse[j];
            for (int t = 0; t < nt; ++t) {
                const double w = f.weight[t];
                sum += static_cast<double>(Pi[t]) * Pj[t] * w * w;
            }
            coefficient_covariance[i][j] = coefficient_covariance[j][i] = static_cast<float>(sum * factor);
        }
    covariance_corrected = true;
    f.DOF = reweighted_dof > 0.0f ? reweighted_dof : static_cast<float>(dof);
    GLM_calc_covariance_matrix();
    // The set-up no longer matches its inputs (covariance and DOF replaced).
    setup.current = false;
}

}  // namespace

std::uint64_t GLM_model_build() { return model_build; }

void GLMInternal_new_model_build() {
    ++model_build;
    GLMInternal_size_fit_context();
}

void GLMInternal_size_fit_context() {
    FitContext &f = fit_context;
    const int nt = GLM.ntime, nb = GLM.nbasis;
    const int p = GLM_input.AR_order > 0 ? GLM_input.AR_order : 0;
    if (f.ntime != nt || f.nbasis != nb || f.whitening.cols() != p + 1) {
        f.whitened = OwnedMatrix<float>(nt, nb);
        f.XtX_inverse = OwnedMatrix<float>(nb, nb);
        f.pseudo_inverse = OwnedMatrix<float>(nb, nt);
        f.effect_size = OwnedVector<float>(nb);
        for (OwnedVector<float> *v : {&f.weight, &f.noise_estimate, &f.noise_fit, &f.residue, &f.leverage})
            *v = OwnedVector<float>(nt);
        f.whitening = OwnedMatrix<float>(nt, p + 1);
        f.ntime = nt;
        f.nbasis = nb;
    }
    for (int b = 0; b < nb; ++b) {
        f.effect_size[b] = 0.0f;
        for (int c = 0; c < nb; ++c) f.XtX_inverse[b][c] = 0.0f;
        for (int t = 0; t < nt; ++t) f.pseudo_inverse[b][t] = 0.0f;
    }
    for (int t = 0; t < nt; ++t) {
        f.weight[t] = f.noise_estimate[t] = f.noise_fit[t] = 1.0f;
        f.residue[t] = f.leverage[t] = 0.0f;
        for (int i = 0; i <= p; ++i) f.whitening[t][i] = i == p ? 1.0f : 0.0f;
    }
    f.design_matrix = GLM.design_matrix;
    f.whitening_order = 0;
    f.DOF = GLM.DOF;
    f.variance = 0.0f;
    f.singular_fit = 0;
    f.build = model_build;
    setup.current = false;
}

void GLM_prepare_fit_context() {
    FitContext &f = fit_context;
    if (f.build == model_build && f.ntime == GLM.ntime && f.nbasis == GLM.nbasis) return;
    GLMInternal_size_fit_context();
    GLMInternal_whiten_model(1);
    GLMInternal_complete_model();
}

void GLMInternal_set_design_filter(bool filtered, double noise_trace) {
    design_filtered = filtered;
    filtered_noise_trace = noise_trace;
}

float **GLM_coefficient_covariance() {
    return covariance_corrected ? coefficient_covariance.get() : fit_context.XtX_inverse.get();
}

void GLMInternal_invalidate_fit_setup() { setup.current = false; }

bool GLMInternal_fit_setup_current() {
    FitContext &f = fit_context;
    return setup.current && setup.design == f.design_matrix && setup.weight == f.weight.get() &&
           setup.ntime == GLM.ntime && setup.nbasis == GLM.nbasis && setup.noise_model == GLM_input.noise_model;
}

int GLMInternal_complete_model() {
    FitContext &f = fit_context;
    const int nb = GLM.nbasis;
    const int nt = GLM.ntime;
    float **X = f.design_matrix;
    const float *w = f.weight.get();
    float **A = f.XtX_inverse.get();

    setup.current = true;
    setup.design = X;
    setup.weight = w;
    setup.ntime = nt;
    setup.nbasis = nb;
    setup.noise_model = GLM_input.noise_model;

    // Normal matrix X'WX, every element summed over t in increasing order in
    // single precision. Running t outermost keeps each element's order of
    // additions and lets the innermost loop run along a row of X.
    for (int i = 0; i < nb; ++i)
        for (int j = 0; j < nb; ++j) A[i][j] = 0.0f;
    for (int t = 0; t < nt; ++t) {
        const float *xt = X[t];
        for (int i = 0; i < nb; ++i) {
            const float xiw = xt[i] * w[t];
            if (xiw == 0.0f) continue;  // adds only zeros (excluded rows, zero weights)
            float *Ai = A[i];
            for (int j = 0; j < nb; ++j) Ai[j] += xiw * xt[j];
        }
    }

    // Inverted in double precision and rounded back, as rInvertSquareMatrix
    // does, in storage kept from one set-up to the next.
    if (inversion_work.rows() != nb)
        inversion_work = OwnedMatrix<double>(nb, nb, "Allocation failure 1 in double_matrix().",
                                             "Allocation failure 2 in double_matrix().");
    for (int i = 0; i < nb; ++i)
        for (int j = 0; j < nb; ++j) inversion_work[i][j] = A[i][j];
    // A band-filtered design may have columns that the filter removed (see
    // GLMInternal_whiten_model): their coefficients are 0, outside the inversion.
    const bool drop_zero = design_filtered;
    if (drop_zero)
        for (int j = 0; j < nb; ++j)
            if (A[j][j] == 0.0f) inversion_work[j][j] = 1.0;
    int ierr;
    if (dInvertSquareMatrix(nb, inversion_work.get(), &ierr) != 0) {
        f.singular_fit = 1;
        clear_setup();
        GLM_calc_covariance_matrix();
        return 1;
    }
    f.singular_fit = 0;
    for (int i = 0; i < nb; ++i)
        for (int j = 0; j < nb; ++j) A[i][j] = static_cast<float>(inversion_work[i][j]);
    if (drop_zero)
        for (int j = 0; j < nb; ++j)
            if (inversion_work[j][j] == 1.0 && A[j][j] == 1.0f) {
                bool zero = true;
                for (int t = 0; t < nt && zero; ++t) zero = X[t][j] == 0.0f;
                if (zero) A[j][j] = 0.0f;
            }

    // pseudo_inverse[b][t] = sum over k of A[b][k] X[t][k] (k increasing) and
    // leverage[t] = sum over b of X[t][b] pseudo_inverse[b][t] w[t]. The sums
    // of all b are carried together through k, each in its own order.
    ensure(column_buffer, nb);
    if (inverse_transposed.rows() != nb) inverse_transposed = OwnedMatrix<float>(nb, nb);
    for (int b = 0; b < nb; ++b)
        for (int k = 0; k < nb; ++k) inverse_transposed[k][b] = A[b][k];
    float *col = column_buffer.get();
    float leverage_total = 0.0f;
    for (int t = 0; t < nt; ++t) {
        const float *xt = X[t];
        for (int b = 0; b < nb; ++b) col[b] = 0.0f;
        for (int k = 0; k < nb; ++k) {
            const float xk = xt[k];
            const float *Ak = inverse_transposed[k];
            for (int b = 0; b < nb; ++b) col[b] += Ak[b] * xk;
        }
        float lev = 0.0f;
        for (int b = 0; b < nb; ++b) {
            f.pseudo_inverse[b][t] = col[b];
            lev += xt[b] * col[b] * w[t];
        }
        f.leverage[t] = lev;
        leverage_total += lev;
    }
    if (GLM_input.noise_model != NOISE_OLS) f.DOF = static_cast<float>(GLM.ninclude + 0.5 - 1.25 * leverage_total);
    else f.DOF = static_cast<float>(GLM.ninclude - nb);
    covariance_corrected = false;
    if (design_filtered && GLM_input.noise_model == NOISE_OLS) apply_filter_correction();

    GLM_calc_covariance_matrix();
    return 0;
}

void GLMInternal_fit_data(int n, const float *y, float *fit, float *chi2) {
    FitContext &f = fit_context;
    const int nb = GLM.nbasis;
    const int *include = GLM.include;
    if (f.singular_fit) {
        // No inverse: the neutral result of a series without variance.
        for (int b = 0; b < nb; ++b) f.effect_size[b] = 0.0f;
        for (int t = 0; t < n; ++t) {
            fit[t] = 0.0f;
            f.residue[t] = y[t] * static_cast<float>(include[t]);
        }
        f.variance = 0.0f;
        *chi2 = 0.0f;
        return;
    }

    ensure(weighted_data, n);
    float *z = weighted_data.get();
    for (int t = 0; t < n; ++t) z[t] = static_cast<float>(include[t]) * f.weight[t] * y[t];

    // effect_size[b] = sum over t of pseudo_inverse[b][t] z[t], t increasing;
    // four rows at a time, each with its own accumulator.
    int b = 0;
    for (; b + 4 <= nb; b += 4) {
        const float *p0 = f.pseudo_inverse[b], *p1 = f.pseudo_inverse[b + 1];
        const float *p2 = f.pseudo_inverse[b + 2], *p3 = f.pseudo_inverse[b + 3];
        float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
        for (int t = 0; t < n; ++t) {
            s0 += p0[t] * z[t];
            s1 += p1[t] * z[t];
            s2 += p2[t] * z[t];
            s3 += p3[t] * z[t];
        }
        f.effect_size[b] = s0;
        f.effect_size[b + 1] = s1;
        f.effect_size[b + 2] = s2;
        f.effect_size[b + 3] = s3;
    }
    for (; b < nb; ++b) {
        const float *pb = f.pseudo_inverse[b];
        float s = 0.0f;
        for (int t = 0; t < n; ++t) s += pb[t] * z[t];
        f.effect_size[b] = s;
    }

    // Residual sum of squares against the fitted design (whitened when the AR
    // model is on); fit and residue against the unmasked, unwhitened design.
    const float *beta = f.effect_size.get();
    float squares = 0.0f, largest = 0.0f;
    for (int t = 0; t < n; ++t) {
        const float *xt = f.design_matrix[t];
        const float *ut = GLM.design_unmasked[t];
        float s = 0.0f, u = 0.0f;
        for (int k = 0; k < nb; ++k) {
            s += xt[k] * beta[k];
            u += ut[k] * beta[k];
        }
        fit[t] = u;
        const float r = static_cast<float>(include[t]) * y[t] - s;
        squares += r * r;
        f.residue[t] = r;
        const float magnitude = std::fabs(static_cast<float>(include[t]) * y[t]);
        if (magnitude > largest) largest = magnitude;
    }
    // A series that the model fits exactly leaves only the rounding of the
    // float sums: residuals up to a few float epsilons of the series' largest
    // value, growing like the square root of the number of terms summed. Such
    // a variance is 0.
    const float rounding = 4.0f * FLT_EPSILON * largest * std::sqrt(static_cast<float>(n));
    f.variance = squares > static_cast<float>(n) * rounding * rounding ? squares / f.DOF : 0.0f;
    *chi2 = f.variance;
}

int GLM_fit_data(int n, const float *y, float *fit, float *chi2) {
    FitContext &f = fit_context;
    if (n != GLM.ntime) {
        std::printf("Error: the number of data time points (%d) does not match the number in the GLM (%d).\n", n,
                    GLM.ntime);
        std::exit(1);
    }
    GLMInternal_fit_data(n, y, fit, chi2);
    history_count = 0;
    variance_history[history_count++] = f.variance;
    if (GLM_input.noise_model != NOISE_IWLS || f.variance == 0.0f) return 0;
    ensure(first_residual, GLM.ntime);
    for (int t = 0; t < GLM.ntime; ++t) first_residual[t] = f.residue[t];

    // Iteratively re-weighted least squares: each point is weighted by the
    // inverse square of its (floored, mean-normalised) absolute residual,
    // until the variance changes by at most 0.1 percent, at most 10 times.
    const int nt = GLM.ntime;
    double change = 0.2;
    int pass = 0;
    while (change > 0.1 && pass < kMaxReweightings) {
        const float previous = f.variance;
        const float noise_floor = std::sqrt(previous) / 10.0f;
        float total = 0.0f;
        for (int t = 0; t < nt; ++t) {
            // The residual against the design actually fitted (whitened and
            // filtered like the data), zero at excluded points.
            const float e = static_cast<float>(GLM.include[t]) * (std::fabs(f.residue[t]) + noise_floor);
            f.noise_estimate[t] = e;
            total += e;
        }
        if (!(total > 0.0f)) break;
        const float mean = total / static_cast<float>(GLM.ninclude);
        for (int t = 0; t < nt; ++t) {
            const float e = f.noise_estimate[t] / mean;
            f.noise_estimate[t] = e;
            f.weight[t] = (e != 0.0f) ? 1.0f / (e * e) : 0.0f;
        }
        GLMInternal_complete_model();
        GLMInternal_fit_data(n, y, fit, chi2);
        ++pass;
        variance_history[history_count++] = f.variance;
        if (f.singular_fit || f.variance == 0.0f) break;
        change = std::fabs(static_cast<double>(f.variance - previous)) * 100.0 / previous;
    }
    if (!f.singular_fit && f.variance != 0.0f) reweighted_inference();
    *chi2 = f.variance;
    return 0;
}

void GLM_set_reweighted_dof(float nu) { reweighted_dof = nu; }
float GLM_reweighted_dof() { return reweighted_dof; }

void GLM_Update_Weights(int /*n*/, const float *y) {
    FitContext &f = fit_context;
    bool changed = false;
    if (GLM_input.noise_model == NOISE_FPET) {
        ensure(run_raw, GLM.ntime);
        ensure(run_smooth, GLM.ntime);
        ensure(run_mask, GLM.ntime);
        const float tau = GLM_input.noise_model_parameter * 1.442695f;
        for (int r = 0; r < GLM.nruns; ++r)
            if (fpet_run_weights(r, y, tau)) changed = true;
    } else {
        for (int t = 0; t < GLM.ntime; ++t) {
            if (f.weight[t] != 1.0f) changed = true;
            f.weight[t] = 1.0f;
            f.noise_estimate[t] = 1.0f;
            f.noise_fit[t] = 1.0f;
        }
    }
    if (changed || !GLMInternal_fit_setup_current()) GLMInternal_complete_model();
}

int GLM_create_residue(int n, float *y, float *fit) {
    FitContext &f = fit_context;
    if (n != GLM.ntime) {
        std::printf("Error: # time points (%d) does not match GLM (%d) in GLM_adjust_event()\n", n, GLM.ntime);
        return 1;
    }
    if (GLM.nbasis <= 0) {
        std::printf("Error: no coefficients assigned yet in GLM_adjust.");
        return 1;
    }
    for (int t = 0; t < n; ++t) {
        const float *ut = GLM.design_unmasked[t];
        float s = 0.0f;
        for (int b = 0; b < GLM.nbasis; ++b) s += ut[b] * f.effect_size[b];
        y[t] -= s;
        fit[t] -= s;
    }
    return 0;
}

float GLM_compute_baseline() {
    FitContext &f = fit_context;
    // Without baseline terms there is no offset column to take a level from.
    if (GLM_input.nbaseline_terms <= 0 || GLM.nbaseline_basis < GLM.nruns || GLM.ntime <= 0) return 0.0f;
    const int first = GLM.nbasis - GLM.nbaseline_basis;
    float baseline = 0.0f;
    for (int r = 0; r < GLM.nruns; ++r) {
        const int length = GLM.run_stop[r] - GLM.run_start[r] + 1;
        baseline += f.effect_size[first + r] * static_cast<float>(length) / static_cast<float>(GLM.ntime);
    }
    return baseline;
}

float GLM_Trace_XTXm1() {
    FitContext &f = fit_context;
    // The measure needs two basis functions; 0 marks it as unusable.
    if (GLM.nbasis < 2) return 0.0f;
    return f.XtX_inverse[0][0] - f.XtX_inverse[1][1];
}

int GLM_reweighting_history(const float **variances) {
    *variances = variance_history;
    return history_count;
}

int GLM_unweighted_baseline_weights(float *row) {
    const int nt = GLM.ntime, nb = GLM.nbasis;
    for (int t = 0; t < nt; ++t) row[t] = 0.0f;
    if (GLM_input.nbaseline_terms <= 0 || GLM.nbaseline_basis < GLM.nruns || nt <= 0) return 0;
    // Ordinary least squares of the included points on the unmasked design:
    // the baseline is sum over runs of (run length / ntime) times the run's
    // offset coefficient, a fixed linear combination of the data.
    OwnedMatrix<double> normal(nb, nb, "Allocation failure 1 in double_matrix().",
                               "Allocation failure 2 in double_matrix().");
    for (int i = 0; i < nb; ++i)
        for (int j = 0; j < nb; ++j) {
            double sum = 0.0;
            for (int t = 0; t < nt; ++t)
                if (GLM.include[t]) sum += static_cast<double>(GLM.design_unmasked[t][i]) * GLM.design_unmasked[t][j];
            normal[i][j] = sum;
        }
    int ierr;
    if (dInvertSquareMatrix(nb, normal.get(), &ierr) != 0) return 1;
    const int first = nb - GLM.nbaseline_basis;
    std::vector<double> combination(nb, 0.0);
    for (int r = 0; r < GLM.nruns; ++r) {
        const double share = static_cast<double>(GLM.run_stop[r] - GLM.run_start[r] + 1) / nt;
        for (int k = 0; k < nb; ++k) combination[k] += share * normal[first + r][k];
    }
    for (int t = 0; t < nt; ++t) {
        if (!GLM.include[t]) continue;
        double sum = 0.0;
        for (int k = 0; k < nb; ++k) sum += combination[k] * GLM.design_unmasked[t][k];
        row[t] = static_cast<float>(sum);
    }
    return 0;
}
