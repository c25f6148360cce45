#include "glm/drug_kernels.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "glm/state.h"
#include "numerics/arrays.h"

int GLMInternal_drug_kernel_length(float tau1, float tau2) {
    const float r = HRF.resolution;
    if (!(r > 0.0f)) return -1;
    const float tmax = (tau1 > tau2) ? tau1 : tau2;
    const float ratio = tmax / r;
    if (ratio < 1.0f) return 10;
    if (!(ratio < MAX_KERNEL_SAMPLES / 10 + 1)) return -1;  // also refuses NaN
    return 10 * static_cast<int>(ratio);
}

void GLMInternal_make_drug_kernels(int e) {
    free_float_vector(GLM.drug_irf_rise[e]);
    free_float_vector(GLM.drug_irf_decay[e]);
    GLM.drug_irf_rise[e] = nullptr;
    GLM.drug_irf_decay[e] = nullptr;
    GLM.drug_irf_length[e] = 0;

    const float tau1 = GLM.time_constant[e];
    const float tau2 = GLM.time_constant2[e];
    const int length = GLMInternal_drug_kernel_length(tau1, tau2);
    if (length < 0) {
        std::printf("Error: no drug-IRF kernels of at most %d samples for time constants %g and %g at a resolution of "
                    "%g seconds.\n",
                    MAX_KERNEL_SAMPLES, static_cast<double>(tau1), static_cast<double>(tau2),
                    static_cast<double>(HRF.resolution));
        std::exit(1);
    }
    float *rise = float_vector(length);
    float *decay = float_vector(length);
    for (int k = 0; k < length; ++k) {
        const float t = static_cast<float>(k) * HRF.resolution;
        // A zero tau1 means no rise kernel is applied; its samples are zeros
        // instead of the 0/0 of the formula.
        if (tau1 != 0.0f) {
            const float x = t / tau1;
            rise[k] = static_cast<float>(x * std::exp(-static_cast<double>(x)));
        } else {
            rise[k] = 0.0f;
        }
        decay[k] = (tau2 != 0.0f) ? static_cast<float>(std::exp(-static_cast<double>(t / tau2))) : 0.0f;
    }
    GLM.drug_irf_rise[e] = rise;
    GLM.drug_irf_decay[e] = decay;
    GLM.drug_irf_length[e] = length;
}
