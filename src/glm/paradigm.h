// Stimulus paradigms on the fine time grid and their convolutions.
#pragma once

#include <cfloat>
#include <cmath>

// Slack of a comparison between a stimulus time and a sample time. Both may
// stand for the same instant yet be rounded to float along different paths
// (a run's last point as its start plus a duration, a fine sample as
// i x (TR / S), a run's start as its first point times TR), so they can differ
// by a few units in the last place: eight float epsilons of the time's
// magnitude, never more than an eighth of the grid step.
inline float GLMInternal_time_slack(float t, float step) {
    const float slack = 8.0f * FLT_EPSILON * std::fabs(t);
    return slack < 0.125f * step ? slack : 0.125f * step;
}
// Whether time t lies in [on, off], both ends inclusive, within that slack.
inline bool GLMInternal_time_within(float t, float on, float off, float step) {
    return on - GLMInternal_time_slack(on, step) <= t && t <= off + GLMInternal_time_slack(off, step);
}

// Fills p (ntime x S samples) with event e's paradigm; 0, or 1 after the
// overlapping-stimuli message.
int GLMInternal_create_stimulus_paradigm(int e, int S, float *p);
// Replaces p by its running sum (p[0] = 0).
void GLMInternal_integrate_paradigm(int S, float *p);
// Scales p so that its largest magnitude becomes |scale|; returns peak x scale.
float GLMInternal_normalize_paradigm(int n, float *p, float scale);
// Causal convolution of p with the IRF (mode 0), the decay kernel (1) or the
// rise kernel (2) of event e; returns 0.
int GLMInternal_convolve_paradigm_IRF(int mode, int S, float *p, int e);
// Applies the kernels of modes[0], ..., modes[count - 1] (count <= 3) to p in
// turn, as that many calls of GLMInternal_convolve_paradigm_IRF do. With fast
// set and kernels long enough to pay, the chain is applied at once through
// transforms in double precision instead, which agrees with the direct sums to
// float rounding; their kernel spectra and plans are kept until
// GLMInternal_release_convolution_transforms. Returns 0.
int GLMInternal_convolve_paradigm_kernels(const int *modes, int count, int S, float *p, int e, bool fast);
void GLMInternal_release_convolution_transforms();
