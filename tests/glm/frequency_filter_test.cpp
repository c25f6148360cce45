#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "glm/basis.h"
#include "glm/frequency_filter.h"
#include "glm/state.h"
#include "test_model.h"

namespace {

// The same gain formula evaluated independently with numpy's real FFT: float
// frequencies and edge quotients, double powers, float gains; the last bin is
// left alone.
std::vector<double> reference(const std::vector<float> &y, float tr, float low, float high) {
    char head[128];
    std::snprintf(head, sizeof head, "tr, low, high = np.float32(%.9g), np.float32(%.9g), np.float32(%.9g)\n",
                  static_cast<double>(tr), static_cast<double>(low), static_cast<double>(high));
    return python_values("import numpy as np\nnp.seterr(divide='ignore', over='ignore')\n" + std::string(head) +
                         "y = np.array(" + python_list(y.data(), static_cast<int>(y.size())) + R"(, dtype=np.float64)
n = len(y)
X = np.fft.rfft(y)
gain = lambda q: np.float32(1.0 / (np.power(np.float64(q), 12.0) + 1.0))
for k in range(n // 2):
    f = np.float32(((1.0 / float(tr)) * (k + 1)) / float(np.float32(n / 2.0)))
    X[k] *= float(np.float32(gain(low / f) * gain(f / high)))
print('\n'.join('%.9g' % np.float32(v) for v in np.fft.irfft(X, n)))
)");
}

// A drifting oscillation with irregular wiggles, fresh model and filter state.
std::vector<float> set_model(int n, float tr) {
    GLM_reset_model_state();
    GLM.nruns = 1, GLM.ntime = n, GLM.tr[0] = tr;
    GLMInternal_reset_frequency_filter();
    std::vector<float> y(n);
    for (int t = 0; t < n; ++t) y[t] = 100.0f + 5.0f * std::sin(0.3f * t) + 0.02f * t + std::sin(0.7f * t * t);
    return y;
}

std::string filter(int mode, std::vector<float> &y) {
    return stdout_of([&] { GLM_FrequencyFilter(mode, static_cast<int>(y.size()), y.data()); });
}

}  // namespace

TEST(FrequencyFilter, AgreesWithAnIndependentEvaluationForEvenAndOddLengths) {
    // Band pass, low pass, high pass, and a high edge of 0 that removes every filtered bin.
    const struct {
        int n, mode;
        float tr, low, high;
    } cases[] = {{64, 0, 2.0f, 0.02f, 0.15f}, {51, 1, 2.5f, 0.0f, 0.1f}, {51, 0, 1.7f, 0.05f, 1000.0f},
                 {40, 1, 2.0f, 0.01f, 0.0f}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.n);
        std::vector<float> y = set_model(c.n, c.tr);
        float *band = c.mode == 0 ? GLM_input.preGLM_frequency_band : GLM_input.residue_frequency_band;
        band[0] = c.low, band[1] = c.high;
        const std::vector<double> expected = reference(y, c.tr, c.low, c.high);
        ASSERT_EQ(expected.size(), y.size()) << "reference evaluation failed";
        filter(c.mode, y);
        for (int t = 0; t < c.n; ++t) EXPECT_NEAR(y[t], expected[t], 2e-5f * (1.0f + std::fabs(expected[t]))) << t;
    }
}

TEST(FrequencyFilter, EmptyBandMessageOnceAndTheLastBinUntouched) {
    std::vector<float> y = set_model(37, 2.0f);
    const std::vector<float> original = y;
    EXPECT_EQ(filter(0, y), "");
    EXPECT_EQ(filter(1, y), "");
    EXPECT_EQ(std::memcmp(y.data(), original.data(), y.size() * sizeof(float)), 0);

    // n = 4: bins 0 and 1 are filtered (a vanishing high edge removes them),
    // the Nyquist bin 2 stays, so only its alternating component is left.
    set_model(4, 2.0f);
    GLM_input.preGLM_frequency_band[1] = GLM_input.residue_frequency_band[1] = 1e-6f;
    y = {1.0f, 5.0f, -2.0f, 7.0f};
    EXPECT_EQ(filter(0, y), "Frequency band = 0 to 0.5, filter from 0 to 1e-06 before GLM\n");
    const float nyquist = (1.0f - 5.0f - 2.0f - 7.0f) / 4.0f;
    for (int t = 0; t < 4; ++t) EXPECT_NEAR(y[t], (t % 2 ? -nyquist : nyquist), 1e-6f);
    EXPECT_EQ(filter(1, y), "");
    EXPECT_EQ(filter(0, y), "");
    GLMInternal_reset_frequency_filter();  // the first filtered series names its own mode
    EXPECT_EQ(filter(1, y), "Frequency band = 0 to 0.5, filter from 0 to 1e-06 after GLM\n");
}

TEST(FrequencyFilter, PreFilterChecksTheModelFirst) {
    std::vector<float> y = set_model(10, 2.0f);
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(GLM_PreFilter(0, 10, y.data()), 1); }), "Error in GLM_PreFilter: first initialize the GLM and define stimuli\n");
    GLM.initialized = 2;
    EXPECT_EXIT_PRINTS(GLM_PreFilter(0, 9, y.data()), 1,
                       "Error: the number of data time points \\(9\\) does not match the number in the GLM \\(10\\)\\.");

    // Without an AR model the pre-fit filter is the band filter alone.
    GLM.initialized = 1, GLM.run_stop[0] = 9, GLM_input.nbaseline_terms = 1;
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    GLM_input.preGLM_frequency_band[1] = 0.1f;
    std::vector<float> z = y;
    filter(0, z);
    EXPECT_EQ(GLM_PreFilter(0, 10, y.data()), 0);
    EXPECT_EQ(y, z);
    // The design passes the filter too, and the degrees of freedom are those
    // the filter leaves to white noise minus those the fit takes:
    // trace(F F) - trace((Xf'Xf)^-1 Xf'F F Xf), with F from an independent evaluation.
    std::vector<double> F;
    for (int j = 0; j < 10; ++j) {
        std::vector<float> e(10, 0.0f);
        e[j] = 1.0f;
        const std::vector<double> column = reference(e, 2.0f, 0.0f, 0.1f);
        F.insert(F.end(), column.begin(), column.end());
    }
    ASSERT_EQ(F.size(), 100u);
    double trace_v = 0, xfx = 0, xfvx = 0, xf[10];
    for (int i = 0; i < 10; ++i) {
        xf[i] = 0;
        for (int j = 0; j < 10; ++j) trace_v += F[10 * i + j] * F[10 * i + j], xf[i] += F[10 * j + i];
        EXPECT_NEAR(fit_context.design_matrix[i][0], xf[i], 1e-5);
        xfx += xf[i] * xf[i];
    }
    for (int i = 0; i < 10; ++i) {
        double fxf = 0;
        for (int j = 0; j < 10; ++j) fxf += F[10 * j + i] * xf[j];
        xfvx += fxf * fxf;
    }
    EXPECT_NEAR(fit_context.DOF, trace_v - xfvx / xfx, 1e-4);
}
