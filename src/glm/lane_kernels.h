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

// Weighted cross-products in one sweep over time: N[i][j][l] (i <= j, full
// nb x nb x kLanes storage, upper triangle written) = sum over t of
// w[t][l] X[t][i] X[t][j], and, when r is given, rhs[i][l] = sum over t of
// w[t][l] X[t][i] r[t][l] (float, t increasing). w and r are nt x kLanes.
void lanes_weighted_products(int nb, int nt, const float *X, const float *w, const float *r, float *N, float *rhs);

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
// out = W in (out[t] = sum over the row's columns s, increasing, of W[t][s] in[s]);
// excluded time points get 0. in is read with its pitch, out has pitch kLanes.
void lanes_whiten(int nt, const LaneFilter &filter, const float *in, std::int64_t pitch, float *out);
// out = W' in (both pitch kLanes): out[s] = sum over rows t of W[t][s] in[t].
void lanes_whiten_transposed(int nt, const LaneFilter &filter, const float *in, float *out);
