// Drug-IRF kernels: their length rule and their two shapes.
#include <gtest/gtest.h>

#include <cmath>

#include "glm/description_fixture.h"
#include "glm/drug_kernels.h"

namespace {

using DrugKernels = DescriptionFiles;

TEST_F(DrugKernels, DrugKernelsSpanTenTimesTheLongerTimeConstant) {
    struct Case {
        float resolution, tau1, tau2;
        int length;
    };
    const Case cases[] = {{0.5f, 12, 0, 240}, {2, 20, 5, 100}, {2, 5, 20, 100}, {2, 1, 0, 10}, {2, 0, 0, 10}};
    for (const Case &c : cases) {
        HRF.resolution = c.resolution;
        GLM.time_constant[3] = c.tau1;
        GLM.time_constant2[3] = c.tau2;
        GLMInternal_make_drug_kernels(3);
        ASSERT_EQ(GLM.drug_irf_length[3], c.length) << c.tau1 << " " << c.tau2;
        for (int k = 0; k < c.length; ++k) {
            const double t = k * c.resolution;
            const double rise = c.tau1 ? t / c.tau1 * std::exp(-t / c.tau1) : 0.0;
            const double decay = c.tau2 ? std::exp(-t / c.tau2) : 0.0;
            ASSERT_NEAR(GLM.drug_irf_rise[3][k], rise, 1e-6) << k;
            ASSERT_NEAR(GLM.drug_irf_decay[3][k], decay, 1e-6) << k;
        }
    }
    HRF.resolution = 0.0f;
    EXPECT_EQ(GLMInternal_drug_kernel_length(5, 0), -1);
    HRF.resolution = 1e-6f;
    EXPECT_EQ(GLMInternal_drug_kernel_length(1e4f, 0), -1);
}

}  // namespace
