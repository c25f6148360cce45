#include <gtest/gtest.h>

#include <vector>

#include "glm/paradigm.h"
#include "glm/state.h"
#include "test_model.h"

namespace {

std::vector<float> rise = {0.0f, 0.5f, 0.25f}, decay = {1.0f, 0.5f, 0.25f, 0.125f}, irf = {0.1f, 0.7f, 0.2f};

void forget_kernels() { GLM.drug_irf_rise[0] = GLM.drug_irf_decay[0] = nullptr; }

void drug_event(float tau1, float tau2, int length) {
    forget_kernels();  // they are not the reset's to release
    GLM_reset_model_state();
    GLM.ntime = 6;
    GLM.time_constant[0] = tau1;
    GLM.time_constant2[0] = tau2;
    GLM.drug_irf_length[0] = length;
    GLM.drug_irf_rise[0] = rise.data();
    GLM.drug_irf_decay[0] = decay.data();
    HRF.active = 1;
    HRF.irf = irf.data();
    HRF.npoints = 3;
}

}  // namespace

TEST(Convolution, KernelsAreAppliedCausallyAndCutAtTheEnd) {
    drug_event(20.0f, 5.0f, 3);
    std::vector<float> p = {0, 0, 0, 0, 1, 0};
    GLMInternal_convolve_paradigm_IRF(2, 1, p.data(), 0);
    EXPECT_EQ(p, (std::vector<float>{0, 0, 0, 0, 0, 0.5f}));
    p = {0, 1, 0, 0, 0, 2};
    GLMInternal_convolve_paradigm_IRF(1, 1, p.data(), 0);  // the length field, not the vector, bounds the kernel
    EXPECT_EQ(p, (std::vector<float>{0, 1, 0.5f, 0.25f, 0, 2}));
    p = {1, 1, 0, 0, 0, 0};
    GLMInternal_convolve_paradigm_IRF(0, 1, p.data(), 7);
    EXPECT_EQ(p, (std::vector<float>{0.1f, 0.1f + 0.7f, 0.7f + 0.2f, 0.2f, 0, 0}));
    // On a fine grid the kernel steps sample by sample.
    p.assign(12, 0.0f);
    p[10] = 1.0f;
    GLMInternal_convolve_paradigm_IRF(0, 2, p.data(), 0);
    EXPECT_EQ(p[10], 0.1f);
    EXPECT_EQ(p[11], 0.7f);
    forget_kernels();
}

TEST(Convolution, InactiveKernelsLeaveTheParadigmAlone) {
    drug_event(0.0f, 0.0f, 0);  // no kernels needed when both time constants are 0
    HRF.active = 0;
    std::vector<float> p = {0, 3, 0, 1, 0, 0}, before = p;
    for (int mode : {0, 1, 2}) EXPECT_EQ(GLMInternal_convolve_paradigm_IRF(mode, 1, p.data(), 0), 0);
    EXPECT_EQ(p, before);
    forget_kernels();
}

TEST(Convolution, MissingDrugKernelsEndTheProgram) {
    drug_event(0.0f, 5.0f, 0);
    std::vector<float> p(6, 1.0f);
    EXPECT_EXIT_PRINTS(GLMInternal_convolve_paradigm_IRF(1, 1, p.data(), 0),
                "Programming error 1 in function GLMInternal_convolve_paradigm_IRF\\.");
    drug_event(5.0f, 0.0f, 0);
    EXPECT_EXIT_PRINTS(GLMInternal_convolve_paradigm_IRF(2, 1, p.data(), 0),
                "Programming error 2 in function GLMInternal_convolve_paradigm_IRF\\.");
    forget_kernels();
}

TEST(Convolution, EqualsTheDirectSumInIncreasingLag) {
    // A sparse random paradigm and a long kernel: each output must be exactly
    // the single-precision sum over k = 0, 1, ... of h[k] p[i-k].
    Lcg rng(3);
    std::vector<float> h(37), p(200 * 3);
    for (float &v : h) v = rng.next();
    for (float &v : p) v = rng.next() > 0.3f ? rng.next() : 0.0f;
    GLM_reset_model_state();
    GLM.ntime = 200;
    HRF.active = 1;
    HRF.irf = h.data();
    HRF.npoints = 37;
    std::vector<float> q = p;
    GLMInternal_convolve_paradigm_IRF(0, 3, q.data(), 0);
    for (int i = 0; i < 600; ++i) {
        float s = 0.0f;
        for (int k = 0; k < 37 && i - k >= 0; ++k) s += h[k] * p[i - k];
        ASSERT_EQ(q[i], s) << i;
    }
}
