// Conditions (contrasts over events).
#pragma once

int GLM_define_conditions(int define, const char *text, int *count);

// 1 when the q x q contrast covariance can be inverted, 0 when a row is empty
// or (to single-precision accuracy) a combination of the others.
int GLMInternal_covariance_invertible(float **covariance, int q);
