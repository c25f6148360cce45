// Weighted least-squares fit of one series to the design in the model state.
#pragma once

// Everything below works on this thread's fit context (fit_context.h).
#include "glm/fit_context.h"

// Recomputes XtX_inverse, pseudo_inverse, leverage, DOF and the condition
// covariances from the design in force and the weights. Returns 0, or 1 when
// the normal matrix cannot be inverted (singular_fit is then set; fits then
// give the neutral results of a zero variance).
int GLMInternal_complete_model();
// Numerical rank test of an ntime x nbasis design, independent of the
// columns' scales: returns 1 when a column is (nearly) a linear combination of
// the columns before it, with *second that column and *first the earlier
// column that weighs most in the combination; else 0. With
// skip_zero_columns, columns of zeros count as already left out.
int GLMInternal_find_dependent_columns(float **design, int *first, int *second, bool skip_zero_columns = false);
// Sizes this thread's context for the model state's arrays and resets it to
// unit weights and the unwhitened design (the set-up is not completed).
void GLMInternal_size_fit_context();

// Reuse of the fit set-up (per context). Completing the model costs nbasis^2 x ntime, so
// the per-voxel operations redo it only when something it depends on changed:
//  - GLMInternal_complete_model() always recomputes, and marks the set-up as
//    current for the design_matrix and weight now in force.
//  - GLM_Update_Weights() writes the voxel's weights and completes the model
//    only when a weight actually changed or the set-up is not current. Under
//    OLS and iWLS the weights are reset to 1, so after a voxel whose fit did
//    not re-weight (and with no whitening) nothing is redone: the set-up made
//    when the design was built serves every such voxel.
//  - GLMInternal_whiten_model(0) rebuilds and completes the whitened design
//    only when the whitening filter differs from the one design_matrix was
//    made with (order 0 on an unwhitened design does nothing).
// Skipping gives exactly the results of redoing. Code that changes
// design_matrix or weight and does not complete the model at once must call
// GLMInternal_invalidate_fit_setup() so that the next update redoes it.
void GLMInternal_invalidate_fit_setup();
// True when the set-up matches the current design_matrix, weight and noise
// model (which decides whether DOF follows the leverages).
bool GLMInternal_fit_setup_current();

void GLM_Update_Weights(int n, const float *y);
// Degrees of freedom of the tests of re-weighted (iWLS) fits; 0 restores
// ninclude - nbasis. Set by the calibration of those tests.
void GLM_set_reweighted_dof(float nu);
float GLM_reweighted_dof();
int GLM_fit_data(int n, const float *y, float *fit, float *chi2);
void GLMInternal_fit_data(int n, const float *y, float *fit, float *chi2);
int GLM_create_residue(int n, float *y, float *fit);
float GLM_compute_baseline();
// Fills row (ntime values) so that sum over t of row[t] y[t] is the baseline
// of the unweighted least-squares fit of y on the unmasked design over the
// included points (zero weights at excluded points). Returns 1 when the
// design's normal matrix cannot be inverted.
int GLM_unweighted_baseline_weights(float *row);
// Covariance of the effect sizes in units of the residual variance: the
// sandwich of a band-filtered or re-weighted fit when one is in force, else
// XtX_inverse. The condition covariances are taken from it.
float **GLM_coefficient_covariance();
// Tells the fit set-up whether design_matrix now holds the band-filtered
// design, and the trace of the filtered noise covariance (in units of the
// noise variance). Completing the model then makes the sandwich covariance
// and the degrees of freedom of the filtered fit.
void GLMInternal_set_design_filter(bool filtered, double noise_trace);
float GLM_Trace_XTXm1();

// Residual variances of the last GLM_fit_data: entry 0 after the first fit,
// entry k after re-weighting pass k (iWLS only). Returns the number of
// entries (1 + passes, at most 11) and points *variances at them.
int GLM_reweighting_history(const float **variances);
