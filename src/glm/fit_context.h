// The state that fitting one series changes. The model state (GLM) holds the
// design as built and the conditions; everything a fit writes (the weights,
// the design in force after whitening and band filtering, its inverse normal
// matrix and pseudo-inverse, the coefficients, residue and variance of the
// last fit, the condition covariances) lives in a fit context. Every thread
// has its own (fit_context), so threads fit series at the same time while the
// model state is only read.
#pragma once

#include <cstdint>
#include <vector>

#include "glm/state.h"
#include "numerics/arrays.h"

struct FitContext {
    int ntime = 0, nbasis = 0;  // the sizes the arrays were made for
    std::uint64_t build = 0;    // the model build (GLM_model_build()) they belong to

    // The design in force: GLM.design_matrix as built, or `whitened` when the
    // AR filter or the before-fit band filter has been applied to it.
    float **design_matrix = nullptr;
    OwnedMatrix<float> whitened;        // ntime x nbasis
    OwnedMatrix<float> XtX_inverse;     // nbasis x nbasis
    OwnedMatrix<float> pseudo_inverse;  // nbasis x ntime
    OwnedVector<float> effect_size;     // nbasis
    OwnedVector<float> weight, noise_estimate, noise_fit, residue, leverage;  // ntime
    float DOF = 0.0f;
    float variance = 0.0f;
    int singular_fit = 0;  // the normal matrix in force could not be inverted

    // Whitening filter of the AR model: order in force and, per time point t,
    // the band W[t][t - AR_order .. t] of the whitening matrix.
    int whitening_order = 0;
    OwnedMatrix<float> whitening;  // ntime x (AR_order + 1)

    // Condition covariances (in units of the residual variance) and their
    // inverses, by condition.
    std::vector<OwnedMatrix<float>> contrast_covariance, contrast_covariance_inverse;
    std::vector<char> covariance_singular;
};

extern thread_local FitContext fit_context;

// Counts the builds of the model arrays; a context made for an earlier build
// is made again before its next use.
std::uint64_t GLM_model_build();
void GLMInternal_new_model_build();

// Makes this thread's context ready for the current build: arrays of the
// build's sizes, unit weights, the unwhitened design and its completed fit
// set-up. Does nothing when the context already belongs to this build.
void GLM_prepare_fit_context();
// Entry W[t][s] of the whitening matrix in force (0 outside the band).
float GLM_whitening_entry(int t, int s);
