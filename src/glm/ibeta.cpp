// Regularised incomplete beta function I_x(a, b): a power series for small
// x and two continued-fraction expansions, with the usual symmetry
// I_x(a, b) = 1 - I_(1-x)(b, a). Everything is in double precision.
#include <math.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "glm/statistics.h"

namespace {

constexpr double kMachineEpsilon = 1.1102230246251565e-16;  // 2^-53
constexpr double kMaxGammaArgument = 171.6243769563027;
constexpr double kMaxLog = 709.782712893384;
constexpr double kMinLog = -745.1332191019412;
constexpr double kBig = 4503599627370496.0;            // 2^52
constexpr double kBigInverse = 2.220446049250313e-16;  // 2^-52
constexpr int kMaxIterations = 300;

// Keeps the convergents of a continued fraction in floating-point range.
inline void rescale(double pk, double qk, double &pkm1, double &pkm2, double &qkm1, double &qkm2) {
    if (std::fabs(qk) + std::fabs(pk) > kBig) {
        pkm2 *= kBigInverse;
        pkm1 *= kBigInverse;
        qkm2 *= kBigInverse;
        qkm1 *= kBigInverse;
    }
    if (std::fabs(qk) < kBigInverse || std::fabs(pk) < kBigInverse) {
        pkm2 *= kBig;
        pkm1 *= kBig;
        qkm2 *= kBig;
        qkm1 *= kBig;
    }
}

// 1 / B(a, b) = Gamma(a + b) / (Gamma(a) Gamma(b)) and the log-gammas: the
// tests of most analyses ask for few (a, b) pairs (their degrees of
// freedom), so the last pairs of each thread are kept.
struct BetaTerms {
    double a = -1.0, b = -1.0, inverse = 0.0, log_sum = 0.0, log_a = 0.0, log_b = 0.0;
};
thread_local BetaTerms beta_cache[4];
thread_local int beta_next = 0;

const BetaTerms &beta_terms(double a, double b) {
    for (const BetaTerms &e : beta_cache)
        if (e.a == a && e.b == b) return e;
    BetaTerms &e = beta_cache[beta_next];
    beta_next = (beta_next + 1) % 4;
    e.a = a;
    e.b = b;
    // lgamma_r: lgamma itself sets the process-wide signgam, which threads
    // computing p-values at the same time would race on.
    // b (half the rows of a test) rarely changes when a does: its log-gamma
    // is kept as well.
    thread_local double last_b = -1.0, last_log_b = 0.0;
    int sign;
    if (b != last_b) last_b = b, last_log_b = lgamma_r(b, &sign);
    e.log_sum = lgamma_r(a + b, &sign);
    e.log_a = lgamma_r(a, &sign);
    e.log_b = last_log_b;
    // The ratio from the log-gammas (a and b are positive): the same to
    // rounding as from the gamma functions at a fraction of the cost, which
    // counts where every series has degrees of freedom of its own (AR).
    e.inverse = a + b < kMaxGammaArgument ? std::exp(e.log_sum - e.log_a - e.log_b) : 0.0;
    return e;
}

}  // namespace

// The continued fraction shared by incbcf and incbd: the two partial
// numerators -x k1 k2 / (k3 k4) and x k5 k6 / (k7 k8) per iteration, with k2
// and k6 changing by their own steps and the other terms as in both expansions.
static double continued_fraction(double x, double a, double k2, double k2_step, double k6, double k6_step) {
    double k1 = a, k3 = a, k4 = a + 1.0, k5 = 1.0, k7 = a + 1.0, k8 = a + 2.0;
    double pkm2 = 0.0, qkm2 = 1.0, pkm1 = 1.0, qkm1 = 1.0;
    double ans = 1.0, r = 1.0;
    const double thresh = 3.0 * kMachineEpsilon;
    for (int n = 0; n < kMaxIterations; ++n) {
        double xk = -(x * k1 * k2) / (k3 * k4);
        double pk = pkm1 + pkm2 * xk;
        double qk = qkm1 + qkm2 * xk;
        pkm2 = pkm1;
        pkm1 = pk;
        qkm2 = qkm1;
        qkm1 = qk;

        xk = (x * k5 * k6) / (k7 * k8);
        pk = pkm1 + pkm2 * xk;
        qk = qkm1 + qkm2 * xk;
        pkm2 = pkm1;
        pkm1 = pk;
        qkm2 = qkm1;
        qkm1 = qk;

        if (qk != 0.0) r = pk / qk;
        double change;
        if (r != 0.0) {
            change = std::fabs((ans - r) / r);
            ans = r;
        } else {
            change = 1.0;
        }
        if (change < thresh) break;

        k1 += 1.0;
        k2 += k2_step;
        k3 += 2.0;
        k4 += 2.0;
        k5 += 1.0;
        k6 += k6_step;
        k7 += 2.0;
        k8 += 2.0;
        rescale(pk, qk, pkm1, pkm2, qkm1, qkm2);
    }
    return ans;
}

double incbcf(double a, double b, double x) { return continued_fraction(x, a, a + b, 1.0, b - 1.0, -1.0); }

double incbd(double a, double b, double x) { return continued_fraction(x / (1.0 - x), a, b - 1.0, -1.0, a + b, 1.0); }

double pseries(double a, double b, double x) {
    const double ai = 1.0 / a;
    double u = (1.0 - b) * x;
    double v = u / (a + 1.0);
    const double t1 = v;
    double t = u;
    double n = 2.0;
    double s = 0.0;
    const double z = kMachineEpsilon * ai;
    while (std::fabs(v) > z) {
        u = (n - b) * x / n;
        t *= u;
        v = t / (a + n);
        s += v;
        n += 1.0;
    }
    s += t1;
    s += ai;

    u = a * std::log(x);
    if (a + b < kMaxGammaArgument && std::fabs(u) < kMaxLog) {
        t = beta_terms(a, b).inverse;
        return s * t * std::pow(x, a);
    }
    const BetaTerms &g = beta_terms(a, b);
    t = g.log_sum - g.log_a - g.log_b + u + std::log(s);
    return t < kMinLog ? 0.0 : std::exp(t);
}

double ibeta(double a, double b, double x) {
    if (!(a > 0.0) || !(b > 0.0)) {  // NaN arguments are domain errors as well
        std::printf("ibeta: Domain error!, a = %g, b = %g\n", a, b);
        std::exit(1);
    }
    if (x == 0.0) return 0.0;
    if (x == 1.0) return 1.0;
    // The power series converges like x^n: up to x = 0.5 it is quick; above,
    // where it would take hundreds of terms (a t test with few degrees of
    // freedom), the continued fractions below converge faster.
    if (b * x <= 1.0 && x <= 0.5) return pseries(a, b, x);

    // Work on the side of the mean where the expansions converge.
    bool swapped = false;
    double xc;
    if (x > (a + 1.0) / (a + b + 2.0)) {
        swapped = true;
        const double tmp = a;
        a = b;
        b = tmp;
        xc = x;
        x = 1.0 - x;
    } else {
        xc = 1.0 - x;
    }
    auto finish = [swapped](double t) {
        if (!swapped) return t;
        return t <= kMachineEpsilon ? 1.0 - kMachineEpsilon : 1.0 - t;
    };
    if (swapped && b * x <= 1.0 && x <= 0.95) return finish(pseries(a, b, x));

    double w;
    if (x * (a + b - 2.0) - (a - 1.0) < 0.0)
        w = incbcf(a, b, x);
    else
        w = incbd(a, b, x) / xc;

    double y = a * std::log(x);
    double t = b * std::log(xc);
    if (a + b < kMaxGammaArgument && std::fabs(y) < kMaxLog && std::fabs(t) < kMaxLog) {
        t = std::pow(xc, b);
        t *= std::pow(x, a);
        t /= a;
        t *= w;
        t *= beta_terms(a, b).inverse;
        return finish(t);
    }
    const BetaTerms &g = beta_terms(a, b);
    y += t + g.log_sum - g.log_a - g.log_b;
    y += std::log(w / a);
    t = y < kMinLog ? 0.0 : std::exp(y);
    return finish(t);
}
