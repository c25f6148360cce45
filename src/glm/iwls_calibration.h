// Null calibration of the tests of iteratively re-weighted fits.
//
// The re-weighting gives most of the weight to the points closest to the
// current fit, so the residuals of the final fit understate the noise, and no
// closed-form covariance (model-based, sandwich, or robust-scale) has the
// estimate's true spread. The tests therefore take a weighted sandwich
// covariance (see GLM_fit_data) whose scale and degrees of freedom are
// calibrated per analysis: series of null noise drawn from the analysis'
// own standardised residuals are fitted exactly as voxels are, and the scale
// and the degrees of freedom of each condition are chosen so that their F
// statistics follow the F distribution in its upper tail.
#pragma once

#include <cstdint>
#include <vector>

#include "numerics/arrays.h"

// Reservoir sample of standardised residuals, filled voxel by
// voxel with a fixed-seed generator, so that runs are reproducible.
class ResidualPool {
public:
    explicit ResidualPool(int capacity) : values_(capacity), capacity_(capacity) {}
    // The standardised residuals of a unit-weight fit whose residuals are
    // residue[t * stride] and leverages leverage[t]: the included residuals,
    // each divided by sqrt(1 - leverage) and by the fit's median absolute
    // residual / 0.6745, written to out (at most ntime values); returns their
    // number. A fit without residual variance has none.
    static int standardised_residuals(const float *residue, std::int64_t stride, const float *leverage, float *out);
    // The same for the eight fits of a tile (residuals r[t * 8 + l]): the
    // values of lane l at out[k * 8 + l], their number in counts[l].
    static void standardised_tile(const float *r, const float *leverage, float *out, int *counts);
    // Offers one value to the sample.
    void add(float value);
    int size() const { return count_; }
    const float *values() const { return values_.get(); }
    std::uint64_t next();  // 64 random bits

private:
    OwnedVector<float> values_;
    int capacity_, count_ = 0;
    std::uint64_t seen_ = 0, state_ = 0x2545f4914f6cdd1dULL;
};

class WorkerPool;
// Fits nseries null series drawn from the pool as the voxel loop fits a voxel
// without AR (weights, pre-fit filter, re-weighting), on the threads of
// workers, and sets the variance scale of every condition and the degrees of
// freedom of the re-weighted tests. The series are drawn in one sequence and
// their statistics kept in that order, so the result does not depend on the
// number of threads. Prints one line. Returns 1 when the pool is empty.
int GLM_calibrate_reweighted_tests(ResidualPool &pool, int nseries, WorkerPool &workers);
// Back to no calibration (scale 1, degrees of freedom ninclude - nbasis).
void GLM_clear_reweighted_calibration();

// Smallest F with upper tail probability alpha under F(q, nu), by bisection.
double f_quantile(double alpha, int q, double nu);
