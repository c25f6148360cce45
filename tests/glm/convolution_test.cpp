#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "glm/paradigm.h"
#include "test_model.h"

namespace {

std::vector<float> rise = {0.0f, 0.5f, 0.25f}, decay = {1.0f, 0.5f, 0.25f, 0.125f}, irf = {0.1f, 0.7f, 0.2f};

// Event 0 with the two drug time constants and copies of the kernels above,
// of which the first length samples count; the IRF above is active.
void drug_event(float tau1, float tau2, int length) {
    GLM_reset_model_state();
    GLM.ntime = 6, GLM.time_constant[0] = tau1, GLM.time_constant2[0] = tau2, GLM.drug_irf_length[0] = length;
    GLM.drug_irf_rise[0] = float_vector(4), GLM.drug_irf_decay[0] = float_vector(4);
    for (int k = 0; k < 4; ++k) GLM.drug_irf_decay[0][k] = decay[k], GLM.drug_irf_rise[0][k] = k < 3 ? rise[k] : 0;
    free_float_vector(HRF.irf);  // the IRF is owned by the model state like one read from a file
    HRF.active = 1, HRF.npoints = 3, HRF.irf = float_vector(3);
    for (int k = 0; k < 3; ++k) HRF.irf[k] = irf[k];
}

std::vector<float> convolved(int mode, std::vector<float> p, int S = 1) {
    EXPECT_EQ(GLMInternal_convolve_paradigm_IRF(mode, S, p.data(), 0), 0);
    return p;
}

}  // namespace

TEST(Convolution, KernelsAreAppliedCausallyAndCutAtTheEnd) {
    drug_event(20.0f, 5.0f, 3);
    EXPECT_EQ(convolved(2, {0, 0, 0, 0, 1, 0}), (std::vector<float>{0, 0, 0, 0, 0, 0.5f}));
    // The length field, not the vector, bounds the kernel.
    EXPECT_EQ(convolved(1, {0, 1, 0, 0, 0, 2}), (std::vector<float>{0, 1, 0.5f, 0.25f, 0, 2}));
    EXPECT_EQ(convolved(0, {1, 1, 0, 0, 0, 0}), (std::vector<float>{0.1f, 0.1f + 0.7f, 0.7f + 0.2f, 0.2f, 0, 0}));
    drug_event(0.0f, 0.0f, 0);  // nothing to apply: no kernels are needed
    HRF.active = 0;
    for (int mode : {0, 1, 2}) EXPECT_EQ(convolved(mode, {0, 3, 0, 1, 0, 0}), (std::vector<float>{0, 3, 0, 1, 0, 0}));
}

TEST(Convolution, EqualsTheDirectSumInIncreasingLagOnTheKernelsStep) {
    // A sparse random paradigm and a long kernel on the grid step 2/3 s: each
    // output must be exactly the single-precision sum over k = 0, 1, ... of
    // h[k] p[i-k]. Sampled every 0.75 s, the IRF and a drug kernel alike are
    // interpolated to the grid step, as numpy does here.
    Lcg rng(3);
    std::vector<float> h(37), p(600);
    for (float &v : h) v = rng.next();
    for (float &v : p) v = rng.next() > 0.3f ? rng.next() : 0.0f;
    const std::vector<double> want = python_values(
        "import numpy as np\nh = np.array(" + python_list(h.data(), 37) + ")\np = np.array(" +
        python_list(p.data(), 600) + ")\nk = np.interp(np.arange(0, 27 + 1e-9, 2 / 3), np.arange(37) * 0.75, h)\n" +
        "print(*np.convolve(p, k)[:600])\n");
    GLM.ntime = 200, GLM.tr[0] = 2.0f, GLM.time_constant[0] = 1.0f;
    HRF.active = 1, HRF.irf = GLM.drug_irf_rise[0] = h.data(), HRF.npoints = GLM.drug_irf_length[0] = 37;
    HRF.resolution = 2.0f / 3;
    const std::vector<float> q = convolved(0, p, 3);
    HRF.resolution = 0.75f;
    const std::vector<float> irf = convolved(0, p, 3), rise = convolved(2, p, 3);
    // Both kernels at once through transforms, after a run of zeros that must stay exact.
    std::vector<float> chain = p;
    std::fill(chain.begin(), chain.begin() + 9, 0.0f);
    const std::vector<float> direct = convolved(0, convolved(2, chain, 3), 3);
    const int modes[2] = {2, 0};
    EXPECT_EQ(GLMInternal_convolve_paradigm_kernels(modes, 2, 3, chain.data(), 0, true), 0);
    HRF.irf = GLM.drug_irf_rise[0] = nullptr;  // borrowed, not owned by the model state
    ASSERT_EQ(want.size(), 600u);
    for (int i = 0; i < 600; ++i) {
        float s = 0.0f;
        for (int k = 0; k < 37 && i - k >= 0; ++k) s += h[k] * p[i - k];
        ASSERT_EQ(q[i], s) << i;
        ASSERT_NEAR(irf[i], want[i], 1e-5 * (1 + std::fabs(want[i]))) << i;
        ASSERT_EQ(rise[i], irf[i]) << i;
        ASSERT_NEAR(chain[i], direct[i], i < 9 ? 0.0 : 1e-5) << i;
    }
}
