// Assembly of the design matrix (basis functions).
#pragma once

// Builds the design matrix, inclusion mask and fit set-up from the model
// state; 0, or 1 after an IRF-step, overlapping-stimuli or singular-design error.
int GLM_define_basis_functions();

// Table regressor of event e on the fine grid (ntime x S samples of p).
int GLMInternal_create_table(int e, int S, float *p);
// Per-event baseline regressor (order 0..3, or -1 for baseline-exp-sat with tau)
// written straight into column e of the design.
void GLMInternal_BaselineEvent(int e, int order, float tau);
// Product of the two interacting events' columns, one value per time point.
void GLMInternal_create_interaction(int e, float *p);

// Allocates the arrays of a model of ntime points and nbasis columns (releasing
// those in force): designs zeroed, include 1, with an AR model the
// bias-reduction matrix; this thread's fit context is sized for them (fit
// set-up zeroed, weights and noise vectors 1, an identity whitening filter).
void GLMInternal_allocate_model_arrays(int ntime, int nbasis);
// Releases the model's arrays, the AR matrices included, with the sizes they
// were made with.
void GLMInternal_release_model_arrays();
