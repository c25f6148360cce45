// Contrast covariances, F and t statistics and p-values.
#pragma once

void GLM_calc_covariance_matrix();
// Factors applied to every condition's contrast covariance from now on
// (nconditions values); nullptr removes them.
void GLM_set_condition_variance_scales(const float *scales);
// The factor of condition c's covariance in force (1 when not calibrated).
float GLM_condition_variance_scale(int c);
// Inverts a condition's q x q covariance into inv (zeros when it cannot be
// inverted); true when it cannot.
bool GLM_invert_condition_covariance(int q, float **cov, float **inv);
// The test of one condition from its contrast values v (q rows), their
// covariance in units of the residual variance and its inverse: F, the t of
// the row of largest absolute value (signed), p from the F distribution with
// (q, dof) degrees of freedom (at least exp(-100)), the random-field
// corrected p, the effect (that row's value) and its standard error.
// Neutral results: F and t 0, p 1, no effect, tail 1.
struct ConditionTest {
    float F, t, p, p_corrected, effect, standard_error;
    double tail;  // the upper tail probability of F (not floored)
};
// With a scale other than 1 (the AR correction of whitened fits), p and the
// corrected p come from scale F with (q, dof) degrees of freedom; F and t
// stay those of the fit.
void GLM_condition_test(const float *v, int q, float **cov, float **inv, float variance, float dof, int resels,
                        ConditionTest *result, float scale = 1.0f);
// The test of condition c of the last fit of this thread's fit context with
// the given variance (neutral results for a zero variance or a singular
// fit). Returns 1 after a message for a condition out of range or n other
// than ntime.
int GLM_calculate_condition(int n, float variance, int resels, int c, ConditionTest *result);
int GLM_calculate_F(int n, float variance, int resels, int c, float *F, float *t, float *p, float *p_corrected,
                    float *effect, float *standard_error);
double ibeta(double a, double b, double x);
double incbcf(double a, double b, double x);
double incbd(double a, double b, double x);
double pseries(double a, double b, double x);
