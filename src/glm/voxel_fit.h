// Fits of voxels eight at a time (lane_kernels.h), for the noise models whose
// fit can be set up once per analysis:
//  - ordinary least squares without AR model: one pseudo-inverse serves every
//    voxel (of the band-filtered design when the before-fit filter is on);
//  - ordinary least squares with an AR model (no before-fit filter): each
//    voxel's normal matrix (WX)'(WX) is a combination of lagged
//    cross-products of the design, formed once, and the rows at the start of
//    each block of included points; the right-hand side is X'(W'W y), the
//    solution a Cholesky factorisation, in double precision;
//  - iWLS without AR model: every re-weighting pass forms the weighted
//    cross-products of the (shared) design in one sweep and solves for the
//    change of the coefficients from the residuals, which keeps the large
//    baseline out of the single-precision sums.
// The results agree with those of the single-series fit (fit.h) to float
// rounding. The tests of whitened fits take degrees of freedom that allow
// for the estimated AR coefficients (ar_correction.h), per voxel and
// condition; the derivative terms come from the same lagged cross-products. Other analyses (fPET, iWLS with AR, AR with the before-fit
// filter) are fitted one voxel at a time in the thread's fit context.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "glm/lane_kernels.h"
#include "glm/statistics.h"

enum class VoxelFitKind { Shared, Whitened, Reweighted, Single };

// What the fits of an analysis share; made once, then only read.
struct VoxelFitPlan {
    VoxelFitKind kind = VoxelFitKind::Single;
    unsigned id = 0;  // different for every plan made
    int nt = 0, nb = 0, p = 0, nconditions = 0, ninclude = 0;
    float dof = 0.0f;  // of the unit-weight fit
    const int *include = nullptr;
    std::vector<int> blocks;          // first and last time point of each block of included points
    std::vector<float> X, U;          // design in force and unmasked design, nt x nb
    std::vector<float> P;             // pseudo-inverse of the unit-weight fit, nb x nt
    std::vector<float> leverage;      // of the unit-weight fit, nt
    std::vector<char> dropped;        // columns the before-fit filter removed (all zero), nb
    std::vector<double> lagged;       // (p+1)(p+2)/2 symmetric blocks of nb x nb (Whitened)
    std::vector<double> normal;       // X'X, nb x nb (Reweighted)
    // Reweighted: per time point the products X[t][i] X[t][j] (i <= j, the
    // first `segment` columns, padded) and X[t] (padded), stride columns.
    std::vector<float> products;
    std::vector<int> pair;            // column of (i, j) in products (-1: never both non-zero), nb x nb
    int segment = 0, stride = 0;
    // Conditions: contrast rows as floats (q x nb), and the covariances of
    // the unit-weight fit with their inverses (q x q).
    std::vector<int> rows;
    std::vector<std::vector<float>> contrast, covariance, inverse;
    std::vector<char> singular;
};

// Makes the plan for the model state and the settings in force (noise model,
// before-fit band) from this thread's fit context; with whitened false the
// AR model is left out (the calibration's null series).
void make_voxel_fit_plan(VoxelFitPlan &plan, bool whitened);

// Fits tiles of eight series with a plan; one per thread.
class TileFitter {
public:
    explicit TileFitter(const VoxelFitPlan &plan);
    unsigned plan_id() const { return plan_id_; }

    // Fits the eight series y[t * pitch + l] of a Shared or Whitened plan.
    // Whitened plans take each lane's AR coefficients (coefficients[l], p + 1
    // values). With first_only (any plan but Single), only the unit-weight
    // fit.
    void fit(const float *y, std::int64_t pitch, const float *const *coefficients = nullptr, bool first_only = false);
    // Fits count (at most kBatch) series of a Reweighted plan, series i at
    // base[t * pitch + columns[i]]; then, eight at a time, calls
    // done(first, n): lane l of the results below belongs to series first + l
    // (l < n).
    static constexpr int kBatch = 64;
    void fit_batch(const float *base, std::int64_t pitch, const int *columns, int count,
                   const std::function<void(int, int)> &done);

    float beta(int b, int l) const { return beta_[b * kLanes + l]; }
    float variance[kLanes];
    float dof[kLanes];
    bool singular[kLanes];
    std::int16_t order[kLanes];  // whitening order in force
    // Residuals of the fit against the design in force (whitened, filtered),
    // nt x kLanes; kept by fit() with first_only.
    const float *residuals() const { return r_.data(); }
    // out[t][l] = the fitted series of the unmasked design (nt x kLanes).
    void fitted(float *out) const;
    // The test of condition c in lane l (neutral for a zero variance or a
    // singular fit).
    void test(int c, int l, int resels, ConditionTest *out) const;

private:
    void fit_shared(const float *y, std::int64_t pitch, bool keep_residuals);
    void fit_whitened(const float *y, std::int64_t pitch, const float *const *coefficients);
    void gather(const float *base, std::int64_t pitch, const int *columns, const int *lanes, int count,
                float *out) const;
    void finish_variance(const float *squares, const float *largest, float degrees);
    void condition_covariances(const double *L, const double *middle, const double *factor,
                               const double *only_where_zero = nullptr, double *keep = nullptr);
    void correct_tests(const LaneFilter &filter, const float *u, const float *squares);

    const VoxelFitPlan &plan_;
    unsigned plan_id_;
    std::vector<float> beta_, r_, w_, work_, N_, rhs_, largest_;
    std::vector<double> betad_, normal_, factor_, rhsd_, solve_;
    std::vector<float> head_, tap_, coefficient_factor_;
    // The AR correction of whitened fits: per coefficient k the derivative
    // filter (head and taps), the derivative products P_k / 2 (nb x nb) and
    // e'(W_k r); per lane the order in force, the covariance of the
    // coefficients and the tests' DOF and scales (by condition).
    std::vector<float> dhead_, dtap_, cross_, test_dof_, test_scale_, zero_beta_, scratch_u_;
    std::vector<double> dfactor_, products_, rho_cov_, z_, kak_, q_, kr_work_;
    std::vector<LaneFilter> dfilter_;
    bool rho_known_[kLanes];
    bool corrected_ = false;
    // Per lane and condition: covariance and inverse (q x q) when they are
    // the lane's own, with row pointers.
    std::vector<float> cov_, inv_;
    std::vector<float *> cov_rows_, inv_rows_;
    std::vector<std::size_t> value_offset_, row_offset_;  // by condition
    std::vector<char> own_singular_;
    bool own_covariance_ = false;
    // The series of a batch: unit-weight residuals and final weights (nt
    // each), and their fits.
    struct Series {
        std::vector<float> beta;
        float variance;
        double absolute;
        bool singular;
    };
    std::vector<Series> series_;
    std::vector<float> batch_r_, batch_w_, batch_y_;
    mutable std::vector<float> contrast_values_;
    mutable std::vector<float *> shared_rows_;
};
