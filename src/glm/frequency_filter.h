// Zero-phase band filter in the frequency domain, and the pre-fit filter.
#pragma once

int GLM_PreFilter(int mode, int n, float *y);
void GLM_FrequencyFilter(int mode, int n, float *y);

// Releases the transforms and forgets that the band message was printed, so
// that the next filtered series starts as the first one of a process did.
void GLMInternal_reset_frequency_filter();

// True when the before-fit band is set (the voxel loop filters data and design).
bool GLM_prefilter_active();
// The before-fit band filter of a series whose excluded points take no part:
// they are zeroed before and after filtering.
void GLMInternal_filter_masked(float *y);
// Trace of the covariance that the masked before-fit filter leaves to white
// noise of unit variance: the number of dimensions the filter keeps, in
// effective terms (ntime minus the removed frequencies for gains of 0 and 1).
double GLMInternal_filtered_noise_trace();
