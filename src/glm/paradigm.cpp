// Stimulus paradigms on the fine time grid, their running integration and
// their normalisation to the event scale.
#include "glm/paradigm.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "glm/state.h"
#include "numerics/arrays.h"

namespace {

// Time of fine-grid sample i. The step TR / S is formed in single precision
// first, and the product is rounded to a float, so sample k*S lies at time
// point k up to float rounding (which the time slack absorbs).
inline float sample_time(std::int64_t i, float step) { return static_cast<float>(i) * step; }

// The samples whose time lies in [on, off] (both ends inclusive, within the
// slack of GLMInternal_time_slack) form one contiguous index range, because
// sample_time is non-decreasing in i. Returns [first, last) of that range; it
// is empty when no sample lies inside.
void samples_inside(float on, float off, float step, std::int64_t n, std::int64_t *first, std::int64_t *last) {
    *first = *last = 0;
    if (!(on <= off)) return;  // also catches NaN times
    const float low = on - GLMInternal_time_slack(on, step), high = off + GLMInternal_time_slack(off, step);
    std::int64_t lo = 0, hi = n;
    if (step > 0.0f) {
        // Estimates in double; the exact float comparisons below settle the ends.
        double e = std::floor(static_cast<double>(low) / step);
        lo = e > 0.0 ? (e < static_cast<double>(n) ? static_cast<std::int64_t>(e) : n) : 0;
        e = std::floor(static_cast<double>(high) / step) + 1.0;
        hi = e > 0.0 ? (e < static_cast<double>(n) ? static_cast<std::int64_t>(e) : n) : 0;
    }
    while (lo > 0 && sample_time(lo - 1, step) >= low) --lo;
    while (lo < n && sample_time(lo, step) < low) ++lo;
    while (hi < n && sample_time(hi, step) <= high) ++hi;
    while (hi > 0 && sample_time(hi - 1, step) > high) --hi;
    *first = lo;
    *last = hi > lo ? hi : lo;
}

}  // namespace

int GLMInternal_create_stimulus_paradigm(int e, int S, float *p) {
    const std::int64_t n = static_cast<std::int64_t>(GLM.ntime) * S;
    for (std::int64_t i = 0; i < n; ++i) p[i] = 0.0f;

    const float step = GLM.tr[0] / static_cast<float>(S);
    const int shape = GLM.event_shape[e];
    const bool may_overlap = shape == SHAPE_GAMMA || shape == SHAPE_SIGMOID;
    const float tau = GLM.time_constant[e];
    const float alpha = GLM.alpha[e];
    const float w = static_cast<float>(6.283185308 / tau);

    // Stimulus by stimulus over the samples each one covers. Every sample still
    // receives its stimuli in stimulus order, so the values and the overlap
    // test are those of a sample-by-sample pass over all stimuli; the cost is
    // the covered samples instead of samples x stimuli. The reported overlap is
    // the first one such a pass meets: lowest sample, then lowest stimulus.
    std::int64_t clash_sample = -1;
    int clash_stimulus = -1;
    for (int s = 0; s < GLM.nstims[e]; ++s) {
        const float on = GLM.stim_on[e][s];
        const float off = GLM.stim_off[e][s];
        const float m = GLM.stim_magnitude[e][s];
        std::int64_t first, last;
        samples_inside(on, off, step, n, &first, &last);
        for (std::int64_t i = first; i < last; ++i) {
            const float t = sample_time(i, step);
            if (!may_overlap && p[i] != 0.0f) {
                if (clash_sample < 0 || i < clash_sample) {
                    clash_sample = i;
                    clash_stimulus = s;
                }
                break;  // later samples of this stimulus cannot come first
            }
            // A sample within the slack outside [on, off] counts as lying on its end.
            const float u = t < on ? 0.0f : t > off ? off - on : t - on;
            switch (shape) {
            case SHAPE_SQUARE:
            case SHAPE_DRUG_IRF:
                p[i] += m;
                break;
            case SHAPE_RAMP_UP:
                p[i] += m * u / (off - on);
                break;
            case SHAPE_RAMP_DOWN:
                p[i] += m * (1.0f - u / (off - on));
                break;
            case SHAPE_EXP_DOWN: {
                const float x = u / tau;
                p[i] = static_cast<float>(p[i] + m * std::exp(-static_cast<double>(x)));
                break;
            }
            case SHAPE_SINE:
                p[i] = static_cast<float>(p[i] + m * std::sin(static_cast<double>(w) * u));
                break;
            case SHAPE_COSINE:
                p[i] = static_cast<float>(p[i] + m * std::cos(static_cast<double>(w) * u));
                break;
            case SHAPE_GAMMA: {
                const double x = u / tau;
                // x^1 is x itself (the power function returns it exactly), at a
                // fraction of the cost of the general power.
                const double power = alpha == 1.0f ? x : std::pow(x, static_cast<double>(alpha));
                p[i] = static_cast<float>(p[i] + m * power * std::exp(alpha * (1.0 - x)));
                break;
            }
            case SHAPE_SIGMOID: {
                const double x = u / tau;
                p[i] = static_cast<float>(p[i] + m * x / std::sqrt(1.0 + x * x));
                break;
            }
            default:
                break;  // shapes built elsewhere contribute nothing here
            }
        }
    }
    if (clash_sample >= 0) {
        char id = '?';
        GLM_EventCharIDFromInteger(GLM.event_number[e], &id);
        std::printf("Error: overlapping stimuli for event %c and stimulus %d\n", id, clash_stimulus);
        return 1;
    }
    return 0;
}

void GLMInternal_integrate_paradigm(int S, float *p) {
    // p[i] = p[0] + ... + p[i] for i >= 1 and p[0] = 0. One running sum, kept
    // in double, replaces re-adding every earlier sample for every i; the
    // results differ from that only by single-precision rounding.
    const std::int64_t n = static_cast<std::int64_t>(GLM.ntime) * S;
    if (n <= 0) return;
    double sum = p[0];
    p[0] = 0.0f;
    for (std::int64_t i = 1; i < n; ++i) {
        sum += p[i];
        p[i] = static_cast<float>(sum);
    }
}

float GLMInternal_normalize_paradigm(int n, float *p, float scale) {
    float peak = 0.0f;
    for (int i = 0; i < n; ++i)
        if (std::fabs(p[i]) > std::fabs(peak)) peak = p[i];
    if (peak == 0.0f) return 0.0f;
    const float factor = scale / std::fabs(peak);
    for (int i = 0; i < n; ++i) p[i] *= factor;
    return peak * scale;
}
