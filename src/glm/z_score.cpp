// Normal quantiles from log tail probabilities, and the z of a condition's
// test. The quantile is the rational approximation of Wichura (Algorithm
// AS 241, PPND16, relative accuracy about 1e-16), whose tails are a function
// of sqrt(-log p) and so take the logarithm directly.
#include "glm/z_score.h"

#include <cmath>
#include <limits>

#include "glm/statistics.h"

namespace {

double polynomial(const double (&c)[8], double r) {
    double sum = c[7];
    for (int i = 6; i >= 0; --i) sum = sum * r + c[i];
    return sum;
}

constexpr double kCentralA[8] = {3.3871328727963666080e0, 1.3314166789178437745e+2, 1.9715909503065514427e+3,
                                 1.3731693765509461125e+4, 4.5921953931549871457e+4, 6.7265770927008700853e+4,
                                 3.3430575583588128105e+4, 2.5090809287301226727e+3};
constexpr double kCentralB[8] = {1.0, 4.2313330701600911252e+1, 6.8718700749205790830e+2, 5.3941960214247511077e+3,
                                 2.1213794301586595867e+4, 3.9307895800092710610e+4, 2.8729085735721942674e+4,
                                 5.2264952788528545610e+3};
constexpr double kNearC[8] = {1.42343711074968357734e0, 4.63033784615654529590e0, 5.76949722146069140550e0,
                              3.64784832476320460504e0, 1.27045825245236838258e0, 2.41780725177450611770e-1,
                              2.27238449892691845833e-2, 7.74545014278341407640e-4};
constexpr double kNearD[8] = {1.0, 2.05319162663775882187e0, 1.67638483018380384940e0, 6.89767334985100004550e-1,
                              1.48103976427480074590e-1, 1.51986665636164571966e-2, 5.47593808499534494600e-4,
                              1.05075007164441684324e-9};
constexpr double kFarE[8] = {6.65790464350110377720e0, 5.46378491116411436990e0, 1.78482653991729133580e0,
                             2.96560571828504891230e-1, 2.65321895265761230930e-2, 1.24266094738807843860e-3,
                             2.71155556874348757815e-5, 2.01033439929228813265e-7};
constexpr double kFarF[8] = {1.0, 5.99832206555887937690e-1, 1.36929880922735805310e-1, 1.48753612908506148525e-2,
                             7.86869131145613259100e-4, 1.84631831751005468180e-5, 1.42151175831644588870e-7,
                             2.04426310338993978564e-15};

// The lowest probability the maps report, as in the p-values.
constexpr double kLogFloor = -100.0;

}  // namespace

double z_from_log_upper_tail(double log_p) {
    if (!(log_p < 0.0)) return log_p == 0.0 ? -std::numeric_limits<double>::infinity() : std::nan("");
    const double p = std::exp(log_p);
    const double q = 0.5 - p;  // lower tail minus one half
    if (std::fabs(q) <= 0.425) {
        const double r = 0.180625 - q * q;
        return q * polynomial(kCentralA, r) / polynomial(kCentralB, r);
    }
    // sqrt(-log) of the smaller tail: the upper one itself, or 1 - p formed as -expm1.
    const double r = std::sqrt(q > 0.0 ? -log_p : -std::log(-std::expm1(log_p)));
    const double z = r <= 5.0 ? polynomial(kNearC, r - 1.6) / polynomial(kNearD, r - 1.6)
                              : polynomial(kFarE, r - 5.0) / polynomial(kFarF, r - 5.0);
    return q > 0.0 ? z : -z;
}

float z_statistic(float F, float t, float dof, int rows) {
    if (!(F > 0.0f) || !(dof > 0.0f) || rows < 1) return 0.0f;
    // The upper tail of F with (rows, dof) degrees of freedom, in double from
    // F itself so that its smallest values stay exact.
    const double nu = dof, qf = static_cast<double>(rows) * F;
    return z_from_tail(ibeta(nu / 2.0, rows / 2.0, nu / (nu + qf)), F, t, dof, rows);
}

float z_from_tail(double p, float F, float t, float dof, int rows) {
    if (!(F > 0.0f) || !(dof > 0.0f) || rows < 1) return 0.0f;
    double log_p = p > 0.0 ? std::log(p) : kLogFloor;
    if (log_p < kLogFloor) log_p = kLogFloor;
    if (rows == 1) {
        const double z = z_from_log_upper_tail(log_p - std::log(2.0));
        return static_cast<float>(t < 0.0f ? -z : z);
    }
    return log_p < -std::log(2.0) ? static_cast<float>(z_from_log_upper_tail(log_p)) : 0.0f;
}
