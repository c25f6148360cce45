#include "glm/ar_correction.h"
#include "glm/ar_model.h"

#include <cmath>
#include <vector>

namespace {

// Scratch of this thread, grown to the largest order and condition met.
thread_local std::vector<double> scratch;

double *room(std::size_t n) {
    if (scratch.size() < n) scratch.resize(n);
    return scratch.data();
}

// Inverse of the n x n matrix a (destroyed) into inv by Gauss-Jordan
// elimination with partial pivoting; false when a pivot vanishes.
bool invert(int n, double *a, double *inv) {
    if (n == 2) {  // the common small cases directly
        const double det = a[0] * a[3] - a[1] * a[2];
        if (!(det != 0.0)) return false;
        inv[0] = a[3] / det, inv[1] = -a[1] / det, inv[2] = -a[2] / det, inv[3] = a[0] / det;
        return true;
    }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) inv[i * n + j] = i == j ? 1.0 : 0.0;
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(a[r * n + c]) > std::fabs(a[pivot * n + c])) pivot = r;
        if (!(a[pivot * n + c] != 0.0)) return false;
        if (pivot != c)
            for (int j = 0; j < n; ++j) {
                std::swap(a[c * n + j], a[pivot * n + j]);
                std::swap(inv[c * n + j], inv[pivot * n + j]);
            }
        const double scale = 1.0 / a[c * n + c];
        for (int j = 0; j < n; ++j) a[c * n + j] *= scale, inv[c * n + j] *= scale;
        for (int r = 0; r < n; ++r) {
            const double g = a[r * n + c];
            if (r == c || g == 0.0) continue;
            for (int j = 0; j < n; ++j) a[r * n + j] -= g * a[c * n + j], inv[r * n + j] -= g * inv[c * n + j];
        }
    }
    return true;
}

}  // namespace

void GLM_whitening_factor_derivatives(int p, int q, const float *factor, double *out) {
    const int n = p + 1;
    for (int k = 1; k <= p; ++k) {
        double *D = out + static_cast<long>(k - 1) * n * n;
        for (int i = 0; i < n * n; ++i) D[i] = 0.0;
        if (k > q) continue;
        const auto L = [&](int i, int j) { return static_cast<double>(factor[i * n + j]); };
        // M = Linv E_k Linv' (symmetric; lower triangle), halved diagonal.
        double small[81];
        double *M = n <= 9 ? small : room(static_cast<std::size_t>(n) * n);
        for (int i = 0; i <= q; ++i)
            for (int j = 0; j <= i; ++j) {
                double sum = 0.0;
                for (int a = 0; a <= q; ++a) {
                    if (L(i, a) == 0.0) continue;
                    if (a - k >= 0) sum += L(i, a) * L(j, a - k);
                    if (a + k <= q) sum += L(i, a) * L(j, a + k);
                }
                M[i * n + j] = i == j ? 0.5 * sum : sum;
            }
        for (int i = 0; i <= q; ++i)
            for (int j = 0; j <= i; ++j) {
                double sum = 0.0;
                for (int a = j; a <= i; ++a) sum += M[i * n + a] * L(a, j);
                D[i * n + j] = -sum;
            }
    }
}

bool GLM_autocorrelation_covariance(int q, const float *coeff, int n, double *out) {
    const std::size_t qq = static_cast<std::size_t>(q);
    double small[2 * 9 + 2 * 64];
    const std::size_t size = 2 * (qq + 1) + 2 * qq * qq;
    double *phi = q <= 8 ? small : room(size), *previous = phi + qq + 1, *I_B = previous + qq + 1, *G = I_B + qq * qq;
    double v;
    for (int k = 0; k <= q; ++k) phi[k] = 0.0;
    if (!GLM_levinson_durbin(coeff, q, phi, previous, v)) return false;
    for (int a = 0; a < q; ++a)
        for (int b = 0; b < q; ++b) I_B[a * q + b] = a == b ? 1.0 : 0.0;
    for (int k = 1; k <= q; ++k)
        for (int j = 1; j <= q; ++j) {
            const int m = k > j ? k - j : j - k;
            if (m >= 1) I_B[(k - 1) * q + m - 1] -= phi[j];
        }
    if (q == 1) {
        G[0] = 1.0 / I_B[0];
    } else if (!invert(q, I_B, G)) {
        return false;
    }
    // out = (v / n) G R G'.
    for (int a = 0; a < q; ++a)
        for (int b = 0; b < q; ++b) {
            double sum = 0.0;
            for (int i = 0; i < q; ++i)
                for (int j = 0; j < q; ++j) sum += G[a * q + i] * coeff[i > j ? i - j : j - i] * G[b * q + j];
            out[a * q + b] = v / n * sum;
        }
    return true;
}

void GLM_corrected_test_dof(int l, int q, const double *KAK, const double *Q, const double *d, const double *Wr,
                            double dof, double *work, float *m, float *lambda) {
    *m = static_cast<float>(dof);
    *lambda = 1.0f;
    if (l == 1) {  // a t test: A1 = 2 / dof + g' Wr g, g_k = d_k - Q_k / KAK
        if (!(KAK[0] != 0.0)) return;
        double A1 = 2.0 / dof;
        for (int i = 0; i < q; ++i) {
            const double gi = d[i] - Q[i] / KAK[0];
            for (int j = 0; j < q; ++j) A1 += Wr[i * q + j] * gi * (d[j] - Q[j] / KAK[0]);
        }
        const double nu = 2.0 / A1 < dof ? 2.0 / A1 : dof;
        if (nu > 0.0 && std::isfinite(nu)) *m = static_cast<float>(nu);
        return;
    }
    const int l2 = l * l;
    double *theta = work, *copy = work + l2, *M = work + 2 * l2;
    for (int i = 0; i < l2; ++i) copy[i] = KAK[i];
    if (!invert(l, copy, theta)) return;
    // M_k = Theta (d_k KAK - Q_k) = d_k I - Theta Q_k, in units where s2 cancels.
    double *traces = room(static_cast<std::size_t>(q) + 1);
    for (int k = 0; k < q; ++k) {
        double *Mk = M + k * l2;
        const double *Qk = Q + k * l2;
        traces[k] = 0.0;
        for (int r = 0; r < l; ++r)
            for (int s = 0; s < l; ++s) {
                double sum = r == s ? d[k] : 0.0;
                for (int i = 0; i < l; ++i) sum -= theta[r * l + i] * Qk[i * l + s];
                Mk[r * l + s] = sum;
            }
        for (int r = 0; r < l; ++r) traces[k] += Mk[r * l + r];
    }
    double A1 = 2.0 * l2 / dof, A2 = 2.0 * l / dof;
    for (int i = 0; i < q; ++i)
        for (int j = 0; j < q; ++j) {
            const double w = Wr[i * q + j];
            A1 += w * traces[i] * traces[j];
            double product = 0.0;
            for (int a = 0; a < l; ++a)
                for (int b = 0; b < l; ++b) product += M[i * l2 + a * l + b] * M[j * l2 + b * l + a];
            A2 += w * product;
        }
    // Kenward-Roger's denominator DOF and scale.
    const double B = (A1 + 6.0 * A2) / (2.0 * l);
    const double g = ((l + 1) * A1 - (l + 4) * A2) / ((l + 2) * A2);
    const double den = 3.0 * l + 2.0 * (1.0 - g);
    const double c1 = g / den, c2 = (l - g) / den, c3 = (l + 2 - g) / den;
    const double E = 1.0 / (1.0 - A2 / l);
    const double V = (2.0 / l) * (1.0 + c1 * B) / ((1.0 - c2 * B) * (1.0 - c2 * B) * (1.0 - c3 * B));
    const double rho = V / (2.0 * E * E);
    double denominator = l * rho - 1.0 > 0.0 ? 4.0 + (l + 2) / (l * rho - 1.0) : dof;
    if (denominator > dof) denominator = dof;
    const double scale = denominator / (E * (denominator - 2.0));
    if (!(denominator > 0.0) || !(scale > 0.0) || !std::isfinite(denominator) || !std::isfinite(scale)) return;
    *m = static_cast<float>(denominator);
    *lambda = static_cast<float>(scale);
}
