// AR noise model: bias-reduced autocorrelations and pre-whitening.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

// Fills GLM.AR_mixing_matrix with the inverse of the bias-reduction matrix of
// the current residual_matrix. Allocates AR_mixing_matrix ((AR_order+1)
// square) when it is absent; the caller need not allocate it.
void GLMInternal_calculate_AR_mixing_matrix();
// Bias-reduced autocorrelations (coeff[0] = 1, coeff[1..order]) of the noise
// of the raw series y. The residuals are formed as include*(y - X*b), with X
// the masked design and b = P*(include*y) from the unit-weight pseudo-inverse
// P of the build, both kept by GLMInternal_calculate_residual_matrix: this
// equals residual_matrix*(include*y) at the cost of nbasis x ntime.
int GLM_calculate_AR_coefficient(int n, const float *y, int order, float *coeff);
// The bias-reduced autocorrelations coeff[0 .. order] from the residual
// autocovariances a[0 .. order] (the second half of the estimate above).
void GLM_autocorrelations_from_residuals(const double *a, int order, float *coeff);
// The masked design of the build (ntime x nbasis) and, in *pseudo_inverse,
// its unit-weight pseudo-inverse (nbasis x ntime), both row by row, of the
// AR estimate; nullptr when the AR model of the design is not defined.
const float *GLM_AR_estimate_design(const float **pseudo_inverse);
// The inverse bias-reduction matrix ((p+1) x (p+1)) and the factors of the
// lags beyond p ((p+1) x the returned number of lags) of the estimate, row
// by row, in double.
int GLM_AR_bias_terms(std::vector<double> &mixing, std::vector<double> &factors);
// Inverse of the lower Cholesky factor of the Toeplitz matrix of the
// autocorrelations coeff[0 .. p], the order lowered until that matrix is
// positive definite. Writes the factor into factor ((p+1) x (p+1), row by
// row; zero beyond the leading (q+1) block) and returns the order q in force.
int GLM_whitening_factor(int p, const float *coeff, float *factor);
// Sets the whitening filter of this thread's fit context. The filter restarts
// on every contiguous block of included points; excluded points get zero
// rows, so whitened data and design are 0 there.
int GLM_calculate_whitening_filter(int dimension, const float *coeff, std::int16_t *order_out);
void GLMInternal_whiten_data(float *y);
// save != 0 (design builds): the context uses the masked, unwhitened
// GLM.design_matrix. save == 0: the design in force becomes the whitened
// design for the filter in force, passed through the before-fit band filter
// when one is set, and the model is completed, unless it already is (see
// fit.h).
void GLMInternal_whiten_model(int save);
// Makes GLM.residual_matrix (releasing an earlier one): the residual-forming
// matrix of the unweighted, unwhitened, masked design of the current build.
// Must be called after the build has completed the model with unit weights;
// it also keeps that design and its pseudo-inverse for the AR estimates.
void GLMInternal_calculate_residual_matrix();

// Levinson-Durbin: the AR coefficients phi[1 .. p] and the innovation variance
// v (relative to rho[0] = 1) of the autocorrelations rho[1 .. p]; previous
// holds p + 1 values of work. False when a reflection reaches 1 (rho is not
// the autocorrelation of a stationary process).
template <typename T>
bool GLM_levinson_durbin(const T *rho, int p, double *phi, double *previous, double &v) {
    v = 1.0;
    for (int k = 1; k <= p; ++k) {
        double num = rho[k];
        for (int j = 1; j < k; ++j) num -= phi[j] * rho[k - j];
        const double kappa = num / v;
        if (!(std::fabs(kappa) < 1.0)) return false;
        for (int j = 1; j < k; ++j) previous[j] = phi[j];
        for (int j = 1; j < k; ++j) phi[j] = previous[j] - kappa * previous[k - j];
        phi[k] = kappa;
        v *= 1.0 - kappa * kappa;
    }
    return true;
}
