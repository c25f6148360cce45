#include "support/model_state.h"

#include <gtest/gtest.h>

#include "glm/state.h"
#include "numerics/arrays.h"

void release_model_state() {
    const int nt = GLM.ntime, nb = GLM.nbasis;
    free_int_vector(GLM.include);
    for (float **m : {GLM.design_unmasked, GLM.design_matrix, GLM.whitening_matrix, GLM.residual_matrix})
        free_float_matrix(m, nt);
    for (float **m : {GLM.XtX_inverse, GLM.pseudo_inverse}) free_float_matrix(m, nb);
    free_float_matrix(GLM.AR_mixing_matrix, GLM_input.AR_order + 1);
    for (float *v : {GLM.effect_size, GLM.weight, GLM.noise_estimate, GLM.noise_fit, GLM.residue, GLM.leverage})
        free_float_vector(v);
    GLM.include = nullptr;
    GLM.design_unmasked = GLM.design_matrix = GLM.XtX_inverse = GLM.pseudo_inverse = nullptr;
    GLM.whitening_matrix = GLM.residual_matrix = GLM.AR_mixing_matrix = nullptr;
    GLM.effect_size = GLM.weight = GLM.noise_estimate = GLM.noise_fit = GLM.residue = GLM.leverage = nullptr;
    for (int c = 0; c < MAX_CONDITIONS; ++c) {
        free_int_matrix(GLM.contrast[c], GLM.condition_nrows[c]);
        free_float_matrix(GLM.contrast_covariance[c], GLM.condition_nrows[c]);
        free_float_matrix(GLM.contrast_covariance_inverse[c], GLM.condition_nrows[c]);
        GLM.contrast[c] = nullptr;
        GLM.contrast_covariance[c] = GLM.contrast_covariance_inverse[c] = nullptr;
        GLM.condition_nrows[c] = 0;
    }
    GLM.nconditions = 0;
    free_float_vector(HRF.exp_tau);
    free_float_vector(HRF.exp_amplitude);
    free_float_vector(HRF.irf);
    HRF = HRFModel{};
    GLM_input.notify = 0;
    GLM_reset_model_state();
}

namespace {

struct FreshModelState : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &) override { release_model_state(); }
};

[[maybe_unused]] const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FreshModelState);
    return true;
}();

}  // namespace
