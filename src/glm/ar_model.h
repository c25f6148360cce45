// AR noise model: bias-reduced autocorrelations and pre-whitening.
#pragma once

#include <cstdint>

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
// The filter restarts on every contiguous block of included points;
// excluded points get zero rows, so whitened data and design are 0 there.
int GLM_calculate_whitening_filter(int dimension, const float *coeff, std::int16_t *order_out);
void GLMInternal_whiten_data(float *y);
// save != 0: keep a copy of the masked, unwhitened design_matrix (design
// builds). save == 0: make design_matrix the whitened copy for the filter in
// force, passed through the before-fit band filter when one is set, and
// complete the model, unless it already is (see fit.h).
void GLMInternal_whiten_model(int save);
// Makes GLM.residual_matrix (releasing an earlier one): the residual-forming
// matrix of the unweighted, unwhitened, masked design of the current build.
// Must be called after the build has completed the model with unit weights;
// it also keeps that design and its pseudo-inverse for the AR estimates.
void GLMInternal_calculate_residual_matrix();
