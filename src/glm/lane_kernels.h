// The inner loops of fitting eight series at once ("lanes"). A tile holds the
// eight series side by side, time point by time point: the value of lane l at
// time point t is y[t * pitch + l], which is how a block of voxels lies in
// memory. Every lane is computed by the same sequence of operations whatever
// the other lanes hold, so a series gets the same result in any tile. The
// loops run with AVX2 and FMA where the processor has them (one machine, one
// result).
#pragma once

#include <cstdint>

constexpr int kLanes = 8;
// Capacities of the per-lane AR estimate and normal matrices.
constexpr int kMaxLaneOrder = 16;
constexpr int kMaxLaneHigher = 32;
constexpr int kMaxLaneBasis = 512;

// beta[b][l] = sum over included t of P[b][t] y[t][l] (float, t increasing).
// P is nb x nt, beta nb x kLanes.
void lanes_project(int nb, int nt, const float *P, const float *y, std::int64_t pitch, const int *include,
                   float *beta);

// Residuals r[t][l] = include[t] y[t][l] - sum over b of X[t][b] beta[b][l]
// (X nt x nb, sums in b order) into r (nt x kLanes; may be null), their sums
// of squares and the largest |include[t] y[t][l]| per lane.
void lanes_residual(int nb, int nt, const float *X, const float *y, std::int64_t pitch, const int *include,
                    const float *beta, float *r, float *squares, float *largest);

// out[t][l] = sum over b of U[t][b] beta[b][l] (nt x kLanes).
void lanes_combine(int nb, int nt, const float *U, const float *beta, float *out);

// beta[b][l] = sum over included t of P[b][t] y[t][l] in double precision
// (t increasing).
void lanes_project_wide(int nb, int nt, const float *P, const float *y, std::int64_t pitch, const int *include,
                        double *beta);
// Residuals e[t][l] = include[t] (y[t][l] - sum over b of X[t][b] beta[b][l])
// in double precision into e (nt x kLanes), and their autocovariances
// a[k][l] = sum over t >= k of e[t][l] e[t - k][l], k = 0 ... order.
void lanes_autocovariances(int nb, int nt, const float *X, const float *y, std::int64_t pitch, const int *include,
                           const double *beta, int order, double *e, double *a);

// Weighted sums of a shared table G (nt rows of stride floats; columns,
// stride and segment multiples of kLanes): out[k][l] = sum over included t
// of G[t][k] v[t][l] for k < columns, with v the weights before column
// `segment` and v2 from there on (both nt x kLanes). Sums in float, t
// increasing.
void lanes_weighted_sums(int columns, int stride, int segment, int nt, const int *include, const float *G,
                         const float *v, const float *v2, float *out);

// Re-weighting of lanes by their residuals r: total[l] = sum over t of
// include[t] (|r[t][l]| + floor[l]) (float, t increasing), and, for the
// lanes marked in active (bit l), w[t][l] = 1 / e^2 (0 when e = 0) with
// e = include[t] (|r[t][l]| + floor[l]) / mean[l].
void lanes_residual_total(int nt, const int *include, const float *r, const float *floor, float *total);
void lanes_reweight(int nt, const int *include, const float *r, const float *floor, const float *mean,
                    unsigned active, float *w);
// absolute[l] = sum over included t of |r[t][l]| (double).
void lanes_absolute_sum(int nt, const int *include, const float *r, double *absolute);
// The rank-th smallest of |r[t][l]| over the included t (rank from 0), per lane.
void lanes_order_statistic(int nt, const int *include, const float *r, int rank, float *out);

// The same residual autocovariances from series taken relative to their
// first included value (a combination of the runs' offset columns, which the
// design must hold, so that the residuals do not change): the coefficients
// and residuals of the small differences in float, their products summed in
// double. e (nt x kLanes floats) is scratch.
void lanes_centred_autocovariances(int nb, int nt, const float *P, const float *X, const float *y, std::int64_t pitch,
                                   const int *include, int order, float *e, double *a);

// rhs[b][l] = sum over t of X[t][b] z[t][l], in double precision.
void lanes_project_double(int nb, int nt, const float *X, const float *z, double *rhs);

// Banded whitening of lanes. Rows of the whitening matrix of lane l, for a
// time point at position k of its block of included points (block start s0):
// for k < p, coefficient head[(k * (k + 1) / 2 + j) * kLanes + l] at s0 + j
// (j = 0 ... k); for k >= p, tap[i * kLanes + l] at t - i (i = 0 ... p).
// Excluded time points have zero rows. blocks holds the first and last time
// point of each block of included points (nblocks pairs).
struct LaneFilter {
    int p;
    const int *blocks;
    int nblocks;
    const float *head;  // p (p + 1) / 2 x kLanes
    const float *tap;   // (p + 1) x kLanes
};
// z = W'(W y) (pitch kLanes) in one sweep, with the largest magnitude of W y
// per lane.
void lanes_whiten_gram(int nt, const LaneFilter &filter, const float *y, std::int64_t pitch, float *z,
                       float *largest);
// Sums of squares of W u, u = include y - X beta (kept in u, nt x kLanes), in
// one sweep; with count > 0 (at most kMaxLaneOrder) also
// cross[k][l] = sum over t of (W u)[t][l] (B_k u)[t][l] for the whitenings
// B_k of the same structure (others).
void lanes_whitened_squares(int nb, int nt, const LaneFilter &filter, const float *X, const float *y,
                            std::int64_t pitch, const int *include, const float *beta, float *u, float *squares,
                            int count = 0, const LaneFilter *others = nullptr, float *cross = nullptr);

// Eight voxels' AR estimates from their residual autocovariances a[k][l]
// (k = 0 ... p, double): the bias reduction with the inverse bias-reduction
// matrix mixing ((p+1) x (p+1)), and the passes that take out the part of
// the lags p+1 ... p+higher implied by the estimate (factors (p+1) x higher),
// as GLM_autocorrelations_from_residuals does for one voxel. coeff[k][l]
// receives the autocorrelations (coeff[0] = 1).
void lanes_autocorrelations(int p, int higher, const double *mixing, const double *factors, const double *a,
                            float *coeff);

// Per-lane dense linear algebra on n x n x kLanes double matrices (element
// [a][b] of lane l at (a * n + b) * kLanes + l) and n x kLanes vectors.
// Lower Cholesky factor in place (the lower triangle is read); rows and
// columns marked in skip become those of the identity. Returns the lanes
// (bit l) whose matrix is not positive definite.
unsigned lanes_cholesky(int n, double *A, const char *skip);
// x := L^-1 x (unless lower is false), then with upper also x := L'^-1 x.
void lanes_solve(int n, const double *L, double *x, bool upper, bool lower = true);
// out[l] = x' M y (M may be null: x' y).
void lanes_quadratic(int n, const double *x, const double *M, const double *y, double *out);
// Symmetrised cross-products of two whitenings A and B of the design X
// (same order, blocks and lanes), lower triangle:
// N = ((AX)'(BX) + (BX)'(AX)) / 2, from the symmetric lagged cross-products
// symmetric (blocks of n x n for the lag pairs i <= j, i = 0 ... p in turn:
// sum of X[t-i] X[t-j]' + X[t-j] X[t-i]' over the rows that take the taps,
// once for i = j) combined with the lanes' taps, plus the rows at block
// positions < p. With &a == &b this is the normal matrix (AX)'(AX).
void lanes_lagged_products(int n, const LaneFilter &a, const LaneFilter &b, const double *symmetric, const float *X,
                           double *N);
