// Drug-IRF kernels of an event, sampled at the IRF resolution.
#pragma once

// The most samples a kernel may hold.
constexpr int MAX_KERNEL_SAMPLES = 10000000;

// Number of kernel samples for the two time constants at HRF.resolution:
// ten times the longer constant in samples (10 when it is under one sample),
// or -1 when the resolution is not positive or the length exceeds
// MAX_KERNEL_SAMPLES.
int GLMInternal_drug_kernel_length(float tau1, float tau2);

// Releases any kernels of event index e and builds them from its two time
// constants and HRF.resolution. Ends the program when no kernel length exists
// (callers that read user input check GLMInternal_drug_kernel_length first).
void GLMInternal_make_drug_kernels(int e);
