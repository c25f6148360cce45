// Contrast covariances, F and t statistics and p-values.
#pragma once

void GLM_calc_covariance_matrix();
// Factors applied to every condition's contrast covariance from now on
// (nconditions values); nullptr removes them.
void GLM_set_condition_variance_scales(const float *scales);
int GLM_calculate_F(int n, float variance, int resels, int c, float *F, float *t, float *p, float *p_corrected,
                    float *effect, float *standard_error);
double ibeta(double a, double b, double x);
double incbcf(double a, double b, double x);
double incbd(double a, double b, double x);
double pseries(double a, double b, double x);
