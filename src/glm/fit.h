// Weighted least-squares fit of one series to the design in the model state.
#pragma once

// Recomputes XtX_inverse, pseudo_inverse, leverage, (weighted models) DOF and
// the condition covariances from design_matrix and weight. Returns 0, or 1
// when the normal matrix cannot be inverted (GLM_singular_fit is then set).
int GLMInternal_complete_model();
// Set while the normal matrix in force could not be inverted; fits then give
// the neutral results of a zero variance.
extern int GLM_singular_fit;

void GLM_Update_Weights(int n, const float *y);
int GLM_fit_data(int n, const float *y, float *fit, float *chi2);
void GLMInternal_fit_data(int n, const float *y, float *fit, float *chi2);
int GLM_create_residue(int n, float *y, float *fit);
float GLM_compute_baseline();
float GLM_Trace_XTXm1();
