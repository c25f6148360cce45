// Stimulus paradigms on the fine time grid and their convolutions.
#pragma once

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
