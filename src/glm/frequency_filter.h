// Zero-phase band filter in the frequency domain, and the pre-fit filter.
#pragma once

int GLM_PreFilter(int mode, int n, float *y);
void GLM_FrequencyFilter(int mode, int n, float *y);

// Releases the transforms and forgets that the band message was printed, so
// that the next filtered series starts as the first one of a process did.
void GLMInternal_reset_frequency_filter();
