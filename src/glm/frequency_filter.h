// Zero-phase band filter in the frequency domain, and the pre-fit filter.
#pragma once

int GLM_PreFilter(int mode, int n, float *y);
void GLM_FrequencyFilter(int mode, int n, float *y);
