#include "support/model_state.h"

#include <gtest/gtest.h>

#include "glm/basis.h"
#include "glm/state.h"
#include "numerics/arrays.h"

void release_model_state() {
    GLMInternal_release_model_arrays();
    for (int c = 0; c < MAX_CONDITIONS; ++c) {
        free_int_matrix(GLM.contrast[c], GLM.condition_nrows[c]);
        GLM.contrast[c] = nullptr;
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
