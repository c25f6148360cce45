// Contrast covariances and the per-series test of a condition: effect,
// standard error, F, signed t, p from the F distribution and the
// random-field corrected p.
#include "glm/statistics.h"

#include <cmath>
#include <cstdio>

#include "glm/fit.h"
#include "glm/fit_context.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "numerics/matrix_inverse.h"

namespace {

// Factor of each condition's contrast covariance (the calibration of the
// re-weighted tests); 1 when not calibrated.
float variance_scale[MAX_CONDITIONS];
bool scaled = false;

// Contrast values of one test; grown once, reused for every series.
thread_local OwnedVector<float> contrast_values;

// Expected Euler characteristic of a three-dimensional t field with F in
// place of t^2, times the resels; 0.1169 stands for (4 ln 2)^(3/2) / (2 pi)^2.
// Evaluated in double so that a large F gives 0 rather than inf / inf.
double euler_density(double F, double nu, int resels) {
    return resels * static_cast<double>(0.1169f) * (F * (nu - 1.0) / nu - 1.0) / std::pow(F / nu + 1.0, (nu - 1.0) / 2.0);
}

// The Euler-characteristic term approximates the corrected p only in its
// upper tail: it crosses zero at F = nu / (nu - 1), rises to its maximum at
// F = 3 nu / (nu - 3) and falls from there on (for nu <= 3 it never falls).
// Below the maximum its smallest valid bound is the value at the maximum, so
// the corrected p is the non-increasing envelope of the term, capped at 1,
// and never below the uncorrected p.
float corrected_p(float F, float nu, int resels, float p) {
    double bound = resels > 0 ? 1.0 : 0.0;
    if (resels > 0 && nu > 3.0f) {
        const double peak = 3.0 * nu / (nu - 3.0);
        bound = euler_density(F > peak ? F : peak, nu, resels);
    }
    if (!(bound <= 1.0)) bound = 1.0;
    return static_cast<float>(bound) > p ? static_cast<float>(bound) : p;
}

}  // namespace

void GLM_set_condition_variance_scales(const float *scales) {
    scaled = scales != nullptr;
    for (int c = 0; c < MAX_CONDITIONS; ++c) variance_scale[c] = scaled && c < GLM.nconditions ? scales[c] : 1.0f;
}

float GLM_condition_variance_scale(int c) { return scaled && c >= 0 && c < MAX_CONDITIONS ? variance_scale[c] : 1.0f; }

void GLM_calc_covariance_matrix() {
    // Per condition, in this thread's context: the covariance of the contrast
    // values and its inverse. A condition whose covariance cannot be inverted
    // (its rows are linearly dependent, e.g. an empty row) has no defined F:
    // its tests give neutral results instead of using a partly inverted matrix.
    FitContext &f = fit_context;
    const int nc = GLM.nconditions < MAX_CONDITIONS ? GLM.nconditions : MAX_CONDITIONS;
    if (static_cast<int>(f.contrast_covariance.size()) < nc) {
        f.contrast_covariance.resize(nc);
        f.contrast_covariance_inverse.resize(nc);
        f.covariance_singular.resize(nc);
    }
    for (int c = 0; c < nc; ++c) {
        int **K = GLM.contrast[c];
        const int q = GLM.condition_nrows[c];
        if (!K) continue;
        if (f.contrast_covariance[c].rows() != q) {
            f.contrast_covariance[c] = OwnedMatrix<float>(q, q);
            f.contrast_covariance_inverse[c] = OwnedMatrix<float>(q, q);
        }
        float **cov = f.contrast_covariance[c].get();
        float **inv = f.contrast_covariance_inverse[c].get();
        if (f.singular_fit) {
            // No usable inverse normal matrix: nothing to derive from it.
            for (int r = 0; r < q; ++r)
                for (int s = 0; s < q; ++s) cov[r][s] = inv[r][s] = 0.0f;
            continue;
        }
        float **covariance = GLM_coefficient_covariance();
        for (int r = 0; r < q; ++r)
            for (int s = 0; s < q; ++s) {
                float sum = 0.0f;
                for (int b = 0; b < GLM.nbasis; ++b) {
                    if (K[r][b] == 0) continue;  // a zero coefficient adds nothing
                    for (int b2 = 0; b2 < GLM.nbasis; ++b2) sum += K[r][b] * covariance[b][b2] * K[s][b2];
                }
                cov[r][s] = scaled ? sum * variance_scale[c] : sum;
            }
        // With an invertible normal matrix the covariance is singular only when
        // the contrast rows are dependent, which GLM_define_conditions refuses
        // with its own message; such a condition is never tested.
        f.covariance_singular[c] = GLM_invert_condition_covariance(q, cov, inv);
    }
}

bool GLM_invert_condition_covariance(int q, float **cov, float **inv) {
    for (int r = 0; r < q; ++r)
        for (int s = 0; s < q; ++s) inv[r][s] = cov[r][s];
    if (q == 1) {
        // The 1 x 1 case of the inversion below, without its set-up.
        const double d = cov[0][0];
        inv[0][0] = d != 0.0 ? static_cast<float>(1.0 / d) : 0.0f;
        return d == 0.0;
    }
    int ierr;
    const bool singular = rInvertSquareMatrix(q, inv, &ierr) != 0;
    if (singular)
        for (int r = 0; r < q; ++r)
            for (int s = 0; s < q; ++s) inv[r][s] = 0.0f;
    return singular;
}

void GLM_condition_test(const float *v, int q, float **cov, float **inv, float variance, float dof, int resels,
                        ConditionTest *result, float scale) {
    int k = 0;
    float largest = 0.0f;
    for (int r = 0; r < q; ++r)
        if (std::fabs(v[r]) > largest) {
            largest = std::fabs(v[r]);
            k = r;
        }
    result->effect = v[k];
    result->standard_error = static_cast<float>(std::sqrt(cov[k][k] * variance));

    float quadratic = 0.0f;
    for (int r = 0; r < q; ++r)
        for (int s = 0; s < q; ++s) quadratic += v[r] * inv[r][s] * v[s];
    float f = quadratic / variance / static_cast<float>(q);
    // The quadratic form of a positive definite matrix is never negative; a
    // negative value is rounding and would make t undefined.
    if (f < 0.0f) f = 0.0f;
    result->F = f;
    result->t = static_cast<float>(std::sqrt(f));
    if (result->effect < 0.0f) result->t = -result->t;

    // Upper tail of the F distribution with (q, dof) degrees of freedom, in
    // double from F itself; for one row this is the two-sided p of t. The
    // maps' p (float, at least exp(-100)) and z come from this one value.
    const double nu = dof;
    const float tested = f * scale;  // exact for a scale of 1
    double x = nu / (nu + static_cast<double>(q) * tested);
    if (!(x >= 0.0 && x <= 1.0)) x = 1.0;
    result->tail = ibeta(nu / 2.0, q / 2.0, x);
    float prob = static_cast<float>(result->tail);
    const float floor_value = static_cast<float>(std::exp(-100.0));
    if (prob < floor_value) prob = floor_value;
    result->p_corrected = corrected_p(tested, dof, resels, prob);
    result->p = prob;
}

int GLM_calculate_condition(int n, float variance, int resels, int c, ConditionTest *result) {
    const FitContext &fc = fit_context;
    *result = ConditionTest{0.0f, 0.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0};
    if (variance == 0.0f) return 0;
    if (c < 0 || c >= GLM.nconditions) {
        std::printf("Error: the specified condition (%d) is out of range (0-%d)\n", c, GLM.nconditions);
        return 1;
    }
    if (n != GLM.ntime) {
        std::printf("Error: # time points != # used in GLM fit.");
        return 1;
    }
    if (fc.singular_fit || c >= static_cast<int>(fc.covariance_singular.size()) || fc.covariance_singular[c]) return 0;

    const int q = GLM.condition_nrows[c];
    int **K = GLM.contrast[c];
    if (contrast_values.size() < q) contrast_values = OwnedVector<float>(q);
    float *v = contrast_values.get();
    for (int r = 0; r < q; ++r) {
        float sum = 0.0f;
        for (int b = 0; b < GLM.nbasis; ++b) sum += K[r][b] * fc.effect_size[b];
        v[r] = sum;
    }
    GLM_condition_test(v, q, fc.contrast_covariance[c].get(), fc.contrast_covariance_inverse[c].get(), variance, fc.DOF,
                       resels, result);
    return 0;
}

int GLM_calculate_F(int n, float variance, int resels, int c, float *F, float *t, float *p, float *p_corrected,
                    float *effect, float *standard_error) {
    ConditionTest result;
    const int status = GLM_calculate_condition(n, variance, resels, c, &result);
    // A zero variance leaves F as the caller had it (the other results neutral).
    if (status == 0 && variance != 0.0f) *F = result.F;
    if (status == 0) {
        *t = result.t;
        *p = result.p;
        *p_corrected = result.p_corrected;
        *effect = result.effect;
        *standard_error = result.standard_error;
    }
    return status;
}
