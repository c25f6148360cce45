// AR noise model: bias-reduced autocorrelations and pre-whitening.
#pragma once

#include <cstdint>

void GLMInternal_calculate_AR_mixing_matrix();
int GLM_calculate_AR_coefficient(int n, const float *y, int order, float *coeff);
int GLM_calculate_whitening_filter(int dimension, const float *coeff, std::int16_t *order_out);
void GLMInternal_whiten_data(float *y);
void GLMInternal_whiten_model(int save);
// Makes GLM.residual_matrix (releasing an earlier one): the residual-forming
// matrix of the unweighted, unwhitened, masked design of the current build.
void GLMInternal_calculate_residual_matrix();
