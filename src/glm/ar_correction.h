// Degrees of freedom of the tests of AR-whitened fits that allow for the
// estimated autocorrelations.
//
// A whitened fit treats the filter, built from the voxel's estimated
// autocorrelations rho_1 .. rho_q, as known. The spread of those estimates
// makes the coefficient covariance Phi = s2 (X_w'X_w)^-1 (s2 = RSS / (n - p))
// vary more than the residual DOF allow, so the tests are liberal. A
// Kenward-Roger-type correction takes it into account: with W_k the
// derivative of the whitening matrix with respect to rho_k (the same band
// structure, the inverse Cholesky factor Linv replaced by dLinv_k below),
// X_k = W_k X, e = W r (r the unwhitened residual), r_k = W_k r, A the
// inverse normal matrix,
//   P_k = X_w'X_k + X_k'X_w,  d_k = 2 e'r_k / RSS,
//   dPhi_k = s2 (d_k A - A P_k A),
// and Wr the covariance of the estimates (Bartlett's, of an AR(q) process
// from n points), a condition K of l rows, Theta = K'(K Phi K')^-1 K, gets
//   A1 = 2 l^2 / (n - p) + sum_ij Wr_ij tr(Theta dPhi_i) tr(Theta dPhi_j)
//   A2 = 2 l / (n - p)   + sum_ij Wr_ij tr(Theta dPhi_i Theta dPhi_j).
// One row (a t test): t(nu), nu = min(n - p, 2 / A1). More rows: the
// Kenward-Roger scale lambda and denominator DOF m, F lambda ~ F(l, m).
#pragma once

// dLinv_k = -Phi(Linv E_k Linv') Linv for k = 1 .. q, with E_k the (q+1)
// square 0/1 Toeplitz matrix of ones where |i - j| = k and Phi(M) the lower
// triangle of M with its diagonal halved. factor is the (p+1) square inverse
// factor of GLM_whitening_factor (order q in force); derivative k - 1 goes to
// out + (k - 1) (p+1)^2, in the same layout (zero outside the leading (q+1)
// block).
void GLM_whitening_factor_derivatives(int p, int q, const float *factor, double *out);
// Wr (q x q, row by row): the covariance of the estimates of rho_1 .. rho_q
// of an AR(q) process with autocorrelations coeff[0 .. q] from n points,
// (v / n) G R G' with R = Toeplitz(rho_0 .. rho_{q-1}), G = (I - B)^-1,
// B[k][m] = sum of phi_j over j with |k - j| = m (phi and the innovation
// share v from the Levinson-Durbin recursion). False when the recursion
// fails (the filter then has a lower order).
bool GLM_autocorrelation_covariance(int q, const float *coeff, int n, double *out);
// The test's denominator DOF *m and scale *lambda of a condition of l rows:
// KAK (l x l, K A K'), Q (q blocks of l x l, K A P_k A K'), d (q), Wr
// (q x q) as above; dof = n - p. work holds at least (q + 2) l^2 doubles.
// Degenerate values give (dof, 1).
void GLM_corrected_test_dof(int l, int q, const double *KAK, const double *Q, const double *d, const double *Wr,
                            double dof, double *work, float *m, float *lambda);
