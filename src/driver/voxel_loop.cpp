#include "driver/voxel_loop.h"

#include <sys/types.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "driver/ar_maps.h"
#include "driver/block_pass.h"
#include "driver/brain_mask.h"
#include "driver/globals.h"
#include "driver/output.h"
#include "driver/residue_file.h"
#include "driver/runs.h"
#include "glm/ar_model.h"
#include "glm/fit.h"
#include "glm/frequency_filter.h"
#include "glm/iwls_calibration.h"
#include "glm/reports.h"
#include "glm/statistics.h"
#include "glm/voxel_fit.h"
#include "glm/z_score.h"
#include "numerics/arrays.h"
#include "numerics/temp_files.h"
#include "numerics/warnings.h"

float **av_sigma_map = nullptr;
float **P_map = nullptr;
float **T_map = nullptr;
float **S_map = nullptr;
float **dS_map = nullptr;
float **Z_map = nullptr;
std::int16_t *nAR_map = nullptr;

namespace {

void allocate_maps(int nconditions, int nvoxels) {
    av_sigma_map = float_matrix(3, nvoxels);
    P_map = float_matrix(nconditions, nvoxels);
    T_map = float_matrix(nconditions, nvoxels);
    S_map = float_matrix(nconditions, nvoxels);
    dS_map = float_matrix(nconditions, nvoxels);
    Z_map = GLM_input.z_maps ? float_matrix(nconditions, nvoxels) : nullptr;
    nAR_map = short_vector(nvoxels);
    for (int v = 0; v < nvoxels; ++v) nAR_map[v] = 0;
}

// A voxel outside the brain mask is not fitted: every map holds 0 there.
void set_neutral(int v, int nconditions) {
    for (int k = 0; k < 3; ++k) av_sigma_map[k][v] = 0.0f;
    for (int c = 0; c < nconditions; ++c) {
        P_map[c][v] = T_map[c][v] = S_map[c][v] = dS_map[c][v] = 0.0f;
        if (Z_map) Z_map[c][v] = 0.0f;
    }
}

// Working storage of one thread of the voxel loop.
struct ThreadStorage {
    OwnedVector<float> y, fit, raw, coefficients, tile, fitted, batch;
    std::unique_ptr<TileFitter> fitter;
    int singular = 0;  // voxels whose weighted design was singular
    void size(int T, int ar_order) {
        if (y.size() < T) y = OwnedVector<float>(T), fit = OwnedVector<float>(T), raw = OwnedVector<float>(T);
        if (tile.size() < static_cast<std::int64_t>(T) * kLanes)
            tile = OwnedVector<float>(static_cast<std::int64_t>(T) * kLanes),
            fitted = OwnedVector<float>(static_cast<std::int64_t>(T) * kLanes);
        if (coefficients.size() < ar_order + 1) coefficients = OwnedVector<float>(ar_order + 1);
        if (batch.size() < static_cast<std::int64_t>(T) * TileFitter::kBatch)
            batch = OwnedVector<float>(static_cast<std::int64_t>(T) * TileFitter::kBatch);
    }
    TileFitter &fitter_for(const VoxelFitPlan &p) {
        if (!fitter || fitter->plan_id() != p.id) fitter = std::make_unique<TileFitter>(p);
        return *fitter;
    }
};

// The coefficients of voxel v's whitening filter: its AR map values (white
// noise without an AR model).
void filter_coefficients(std::int64_t v, float *coefficients) {
    const int p = GLM_input.AR_order;
    coefficients[0] = 1.0f;
    for (int k = 1; k <= p; ++k) coefficients[k] = auto_cor ? auto_cor[v][k] : 0.0f;
}

const float kWhiteNoise[1] = {1.0f};

// The voxels of one tile: up to kLanes block columns. A tile of kLanes
// neighbouring columns is fitted where it lies in the block; otherwise the
// columns are copied side by side (an incomplete tile repeats its first
// column), passing the before-fit band filter on the way when it is set.
struct Tile {
    int count = 0;
    int column[kLanes];
    const float *y = nullptr;
    std::int64_t pitch = 0;
    const float *coefficients[kLanes];

    void gather(const VoxelBlock &block, ThreadStorage &s, bool prefilter) {
        const int T = GLM.ntime;
        const bool contiguous = count == kLanes && column[kLanes - 1] - column[0] == kLanes - 1;
        if (contiguous && !prefilter) {
            y = block.data + column[0];
            pitch = block.count;
        } else {
            float *series = s.y.get(), *tile = s.tile.get();
            if (prefilter) {
                for (int l = 0; l < kLanes; ++l) {
                    const float *in = block.data + column[l < count ? l : 0];
                    for (int t = 0; t < T; ++t) series[t] = in[static_cast<std::int64_t>(t) * block.count];
                    GLMInternal_filter_masked(series);
                    for (int t = 0; t < T; ++t) tile[t * kLanes + l] = series[t];
                }
            } else {
                const float *in[kLanes];
                for (int l = 0; l < kLanes; ++l) in[l] = block.data + column[l < count ? l : 0];
                for (int t = 0; t < T; ++t)
                    for (int l = 0; l < kLanes; ++l) tile[t * kLanes + l] = in[l][static_cast<std::int64_t>(t) * block.count];
            }
            y = tile;
            pitch = kLanes;
        }
        for (int l = 0; l < kLanes; ++l) {
            const std::int64_t v = block.first + column[l < count ? l : 0];
            coefficients[l] = auto_cor && GLM_input.AR_order > 0 ? auto_cor[v] : kWhiteNoise;
        }
    }
};

// Fills voxel v's entries of the maps from its fit.
void store_maps(std::int64_t v, float baseline, float variance, float dof, const ConditionTest *tests, int nconditions,
                int percent_change) {
    const float sigma = std::sqrt(variance);
    av_sigma_map[0][v] = baseline;
    av_sigma_map[1][v] = sigma;
    av_sigma_map[2][v] = sigma != 0.0f ? baseline / sigma : 0.0f;
    for (int c = 0; c < nconditions; ++c) {
        const ConditionTest &r = tests[c];
        float P = static_cast<float>(-std::log10(GLM_input.multiple_comparisons == 0 ? r.p : r.p_corrected));
        if (r.t < 0.0f) P = -P;
        P_map[c][v] = P;
        T_map[c][v] = r.t;
        if (Z_map) Z_map[c][v] = z_from_tail(r.tail, r.F, r.t, dof, GLM.condition_nrows[c]);
        float effect = r.effect, standard_error = r.standard_error;
        if (percent_change) {
            if (baseline == 0.0f) {
                effect = standard_error = 0.0f;
            } else {
                effect *= 100.0f / std::fabs(baseline);
                standard_error *= 100.0f / std::fabs(baseline);
            }
        }
        S_map[c][v] = effect / S_divisor;
        dS_map[c][v] = standard_error / S_divisor;
    }
}

// The residue of a voxel: its data minus the fitted model (fit: the
// unmasked design times the coefficients, unwhitened and unfiltered). With
// the before-fit band it is filtered like the data that were fitted; then
// the residue band; it takes the place of the data in the block.
void store_residue(float *column, std::int64_t pitch, const float *fit, std::int64_t fit_pitch, float *series,
                   bool prefilter, int percent_change, float baseline) {
    const int T = GLM.ntime;
    for (int t = 0; t < T; ++t) series[t] = column[t * pitch] - fit[t * fit_pitch];
    if (prefilter) GLMInternal_filter_masked(series);
    GLM_FrequencyFilter(1, T, series);
    for (int t = 0; t < T; ++t) {
        float value = series[t];
        if (percent_change) value = baseline == 0.0f ? 0.0f : (value / baseline) * 10000.0f;
        column[t * pitch] = value;
    }
}

// The level of the unfiltered series y (with the before-fit band, which may
// remove it) from the baseline weights.
float weighted_baseline(const float *weights, const float *y, std::int64_t pitch) {
    double sum = 0.0;
    for (int t = 0; t < GLM.ntime; ++t) sum += static_cast<double>(weights[t]) * y[t * pitch];
    return static_cast<float>(sum);
}

struct LoopSettings {
    int nconditions, percent_change;
    const float *baseline_weights;  // with the before-fit band
    bool residues;
};

// Fits voxel v (its series in the block at column j) in this thread's fit
// context as a single series. False when a called operation failed (it has
// printed why).
bool fit_voxel(ThreadStorage &s, const VoxelBlock &block, int j, const LoopSettings &set) {
    const std::int64_t v = block.first + j;
    const int T = GLM.ntime;
    const int ar_order = GLM_input.AR_order;
    float *y = s.y.get(), *fit = s.fit.get();
    float *column = block.data + j;
    const std::int64_t pitch = block.count;
    for (int tau = 0; tau < T; ++tau) y[tau] = column[tau * pitch];

    GLM_Update_Weights(T, y);
    filter_coefficients(v, s.coefficients.get());
    if (GLM_calculate_whitening_filter(ar_order + 1, s.coefficients.get(), &nAR_map[v])) return false;
    float variance = 0.0f;
    float baseline = set.baseline_weights ? weighted_baseline(set.baseline_weights, y, 1) : 0.0f;
    if (GLM_PreFilter(0, T, y)) return false;
    GLM_fit_data(T, y, fit, &variance);
    if (!set.baseline_weights) baseline = GLM_compute_baseline();
    if (fit_context.singular_fit) ++s.singular;

    ConditionTest tests[MAX_CONDITIONS];
    for (int c = 0; c < set.nconditions; ++c) {
        if (GLM_calculate_condition(T, variance, resels, c, &tests[c])) return false;
    }
    store_maps(v, baseline, variance, fit_context.DOF, tests, set.nconditions, set.percent_change);
    if (set.residues)
        store_residue(column, pitch, fit, 1, s.raw.get(), set.baseline_weights != nullptr, set.percent_change, baseline);
    return true;
}

// Fills the maps and residues of the voxels whose fits are in the fitter's
// lanes: lane l holds the voxel of block column columns[l] (l < count).
void store_lanes(ThreadStorage &s, const VoxelBlock &block, const int *columns, int count, const TileFitter &fitter,
                 const LoopSettings &set) {
    if (set.residues) fitter.fitted(s.fitted.get());
    const int first_baseline = GLM.nbasis - GLM.nbaseline_basis;
    const bool has_baseline = GLM_input.nbaseline_terms > 0 && GLM.nbaseline_basis >= GLM.nruns && GLM.ntime > 0;
    ConditionTest tests[MAX_CONDITIONS];
    float baselines[kLanes];
    for (int l = 0; l < count; ++l) {
        const std::int64_t v = block.first + columns[l];
        float *column = block.data + columns[l];
        float baseline = 0.0f;
        if (set.baseline_weights) {
            baseline = weighted_baseline(set.baseline_weights, column, block.count);
        } else if (has_baseline) {
            // The run offsets averaged with the run lengths as weights.
            for (int r = 0; r < GLM.nruns; ++r) {
                const int length = GLM.run_stop[r] - GLM.run_start[r] + 1;
                baseline += fitter.beta(first_baseline + r, l) * static_cast<float>(length) / static_cast<float>(GLM.ntime);
            }
        }
        baselines[l] = baseline;
        nAR_map[v] = fitter.order[l];
        if (fitter.singular[l]) ++s.singular;
        for (int c = 0; c < set.nconditions; ++c) fitter.test(c, l, resels, &tests[c]);
        store_maps(v, baseline, fitter.variance[l], fitter.dof[l], tests, set.nconditions, set.percent_change);
    }
    if (!set.residues) return;
    const bool filtered = set.baseline_weights || GLM_input.residue_frequency_band[0] != 0.0f ||
                          GLM_input.residue_frequency_band[1] != 0.0f;
    if (filtered) {
        for (int l = 0; l < count; ++l)
            store_residue(block.data + columns[l], block.count, s.fitted.get() + l, kLanes, s.raw.get(),
                          set.baseline_weights != nullptr, set.percent_change, baselines[l]);
        return;
    }
    // Without filters the residues are data minus fit, time point by time
    // point for the tile's voxels together (as store_residue has them).
    const float *fit = s.fitted.get();
    for (int t = 0; t < GLM.ntime; ++t) {
        float *row = block.data + static_cast<std::int64_t>(t) * block.count;
        for (int l = 0; l < count; ++l) {
            float value = row[columns[l]] - fit[t * kLanes + l];
            if (set.percent_change) value = baselines[l] == 0.0f ? 0.0f : (value / baselines[l]) * 10000.0f;
            row[columns[l]] = value;
        }
    }
}

// Fits the in-mask voxels of a chunk (block columns columns[0 .. count-1])
// together (voxel_fit.h) and fills their maps and residues.
void fit_voxels(ThreadStorage &s, const VoxelBlock &block, const int *columns, int count, const VoxelFitPlan &plan,
                const LoopSettings &set) {
    TileFitter &fitter = s.fitter_for(plan);
    const bool prefilter = set.baseline_weights != nullptr;
    if (plan.kind == VoxelFitKind::Reweighted) {
        const float *base = block.data;
        std::int64_t pitch = block.count;
        const int *source = columns;
        int order[TileFitter::kBatch];
        if (prefilter) {
            // The series pass the before-fit band first, side by side.
            const int T = GLM.ntime;
            float *series = s.y.get(), *batch = s.batch.get();
            for (int i = 0; i < count; ++i) {
                const float *in = block.data + columns[i];
                for (int t = 0; t < T; ++t) series[t] = in[static_cast<std::int64_t>(t) * block.count];
                GLMInternal_filter_masked(series);
                for (int t = 0; t < T; ++t) batch[static_cast<std::int64_t>(t) * TileFitter::kBatch + i] = series[t];
                order[i] = i;
            }
            base = batch;
            pitch = TileFitter::kBatch;
            source = order;
        }
        fitter.fit_batch(base, pitch, source, count,
                         [&](int first, int n) { store_lanes(s, block, columns + first, n, fitter, set); });
        return;
    }
    for (int first = 0; first < count; first += kLanes) {
        Tile tile;
        tile.count = count - first < kLanes ? count - first : kLanes;
        for (int l = 0; l < tile.count; ++l) tile.column[l] = columns[first + l];
        tile.gather(block, s, prefilter);
        fitter.fit(tile.y, tile.pitch, tile.coefficients);
        store_lanes(s, block, tile.column, tile.count, fitter, set);
    }
}

// The standardised residuals of voxel j's unit-weight fit in this thread's
// fit context, in place of its data in the block; count gets their number.
bool single_residuals(ThreadStorage &s, const VoxelBlock &block, int j, int &count) {
    const int T = GLM.ntime, ar_order = GLM_input.AR_order;
    float *y = s.y.get();
    for (int tau = 0; tau < T; ++tau) y[tau] = block.data[static_cast<std::int64_t>(tau) * block.count + j];
    GLM_Update_Weights(T, y);
    filter_coefficients(block.first + j, s.coefficients.get());
    std::int16_t order;
    if (GLM_calculate_whitening_filter(ar_order + 1, s.coefficients.get(), &order) || GLM_PreFilter(0, T, y))
        return false;
    float variance;
    GLMInternal_fit_data(T, y, s.fit.get(), &variance);
    if (fit_context.singular_fit) return true;
    count = ResidualPool::standardised_residuals(fit_context.residue.get(), 1, fit_context.leverage.get(), s.raw.get());
    for (int i = 0; i < count; ++i) block.data[static_cast<std::int64_t>(i) * block.count + j] = s.raw[i];
    return true;
}

// The tests of re-weighted fits are calibrated on null series drawn from the
// data's own standardised residuals: a first pass over all voxels collects
// them from each voxel's unweighted fit (whitened as the voxel will be, not
// band-filtered), in voxel order whatever the number of threads. An analysis
// without residual variance keeps the uncalibrated tests.
int calibrate_reweighted_tests(std::vector<ThreadStorage> &storage) {
    const RunEntry &run = file_list_root;
    const std::int64_t V = static_cast<std::int64_t>(run.nx) * run.ny * run.nz;
    const int T = GLM.ntime;
    ResidualPool pool(100000);
    // The noise is drawn before the before-fit band filter, which the null
    // series then pass like the data: the residuals come from unfiltered fits.
    float *band = GLM_input.preGLM_frequency_band;
    const float low = band[0], high = band[1], phase = GLM_input.preGLM_phase_shift;
    band[0] = band[1] = GLM_input.preGLM_phase_shift = 0.0f;
    VoxelFitPlan plan;
    make_voxel_fit_plan(plan, true);
    std::atomic<bool> failed{false};
    std::vector<int> counts(static_cast<std::size_t>(BLOCK_SIZE < V ? BLOCK_SIZE : V));
    // Each voxel's standardised residuals take the place of its data in the
    // block; after the block they go into the pool voxel by voxel.
    for_each_block(analysis_pool(), T, nullptr,
        [&](int thread, const VoxelBlock &block, int begin, int end) {
            ThreadStorage &s = storage[static_cast<std::size_t>(thread)];
            GLM_prepare_fit_context();
            Tile tile;
            for (int j = begin; j < end; ++j) {
                counts[j] = 0;
                if (voxel_in_mask(block.first + j) && !failed) {
                    if (plan.kind != VoxelFitKind::Single)
                        tile.column[tile.count++] = j;
                    else if (!single_residuals(s, block, j, counts[j]))
                        failed = true;
                }
                if (tile.count == kLanes || (tile.count > 0 && j + 1 == end)) {
                    TileFitter &fitter = s.fitter_for(plan);
                    tile.gather(block, s, false);
                    fitter.fit(tile.y, tile.pitch, nullptr, true);
                    int lane_counts[kLanes];
                    float *values = s.fitted.get();
                    ResidualPool::standardised_tile(fitter.residuals(), plan.leverage.data(), values, lane_counts);
                    for (int l = 0; l < tile.count; ++l) {
                        const int c = tile.column[l];
                        counts[c] = lane_counts[l];
                        for (int i = 0; i < counts[c]; ++i)
                            block.data[static_cast<std::int64_t>(i) * block.count + c] = values[i * kLanes + l];
                    }
                    tile.count = 0;
                }
            }
        },
        [&](const VoxelBlock &block) {
            for (int j = 0; j < block.count; ++j)
                for (int i = 0; i < counts[j]; ++i) pool.add(block.data[static_cast<std::int64_t>(i) * block.count + j]);
        });
    band[0] = low, band[1] = high, GLM_input.preGLM_phase_shift = phase;
    if (failed) return 1;
    // The degrees of freedom come from the ratio of the 1 % and 10 % upper
    // quantiles of the null F values. With 8000 series (80 beyond the 1 %
    // quantile) that ratio scattered so much that data sets of the same noise
    // got 14 to 71 degrees of freedom, and rates at p < 0.001 from a fifth to
    // two and a half times nominal; 32000 series halve the scatter.
    if (GLM_calibrate_reweighted_tests(pool, 32000, analysis_pool())) GLM_clear_reweighted_calibration();
    return 0;
}

}  // namespace

int analyze_runs(int nconditions, int percent_change, int residue_mode) {
    std::printf("Analyzing fMRI runs using GLM ...\n\n");
    const RunEntry &first = file_list_root;
    const int V = first.nx * first.ny * first.nz;
    const int T = GLM.ntime;

    allocate_maps(nconditions, V);
    WorkerPool &pool = analysis_pool();
    std::vector<ThreadStorage> storage(static_cast<std::size_t>(pool.threads()));
    for (ThreadStorage &s : storage) s.size(T, GLM_input.AR_order);
    OwnedVector<float> baseline_weights(T);
    const bool prefilter = GLM_prefilter_active();
    if (prefilter && GLM_unweighted_baseline_weights(baseline_weights.get())) {
        std::printf("Error: the design matrix is singular: its columns are linearly dependent.\n");
        return 1;
    }

    ResidueWriter residue;
    if (residue.open(residue_mode, T, V)) return 1;

    if (GLM_input.noise_model == NOISE_IWLS && nconditions > 0 && calibrate_reweighted_tests(storage)) return 1;
    VoxelFitPlan plan;
    make_voxel_fit_plan(plan, true);

    VoxelProgress progress(V, [V](std::int64_t v) {
        std::printf("\r %d percent done", static_cast<int>(100LL * v / V));
        std::fflush(stdout);
    });
    const LoopSettings settings{nconditions, percent_change, prefilter ? baseline_weights.get() : nullptr,
                                residue.active()};
    std::atomic<bool> failed{false};
    for_each_block(pool, T, &progress,
        [&](int thread, const VoxelBlock &block, int begin, int end) {
            ThreadStorage &s = storage[static_cast<std::size_t>(thread)];
            GLM_prepare_fit_context();
            int columns[kVoxelChunk], count = 0;
            for (int j = begin; j < end && !failed; ++j) {
                const std::int64_t v = block.first + j;
                if (voxel_in_mask(v)) {
                    if (plan.kind != VoxelFitKind::Single)
                        columns[count++] = j;
                    else if (!fit_voxel(s, block, j, settings))
                        failed = true;
                    continue;
                }
                set_neutral(static_cast<int>(v), nconditions);
                if (settings.residues)
                    for (int tau = 0; tau < T; ++tau) block.data[static_cast<std::int64_t>(tau) * block.count + j] = 0.0f;
            }
            if (count > 0) fit_voxels(s, block, columns, count, plan, settings);
        },
        [&](const VoxelBlock &block) {
            if (residue.active() && !failed) residue.write_block(block.data, static_cast<int>(block.first), block.count);
        });
    if (failed) return 1;
    residue.close();
    GLM_clear_reweighted_calibration();
    int singular_voxels = 0;
    for (const ThreadStorage &s : storage) singular_voxels += s.singular;

    if (Verbose) {
        std::printf("\n\nResults output to files.\n");
        std::printf(GLM_input.output_format ? "average.nii (average + stdev)\n" : "average.bfloat (average + stdev)\n");
        char text[NAME_SIZE];
        for (int c = 0; c < nconditions; ++c) {
            if (GLM_get_condition_string(c, text)) return 1;
            if (GLM_input.output_format)
                std::printf("  P-%s.nii   T-%s.nii   S-%s.nii\n", text, text, text);
            else
                std::printf("  P-%s.bfloat   T-%s.bfloat   S-%s.bfloat\n", text, text, text);
            if (Z_map) std::printf(GLM_input.output_format ? "  Z-%s.nii\n" : "  Z-%s.bfloat\n", text);
        }
    }
    std::printf("\n\n");
    if (singular_voxels != 0)
        print_warning("Warning: %d voxels had a singular weighted design; their statistics were set to neutral values.\n",
                    singular_voxels);
    return 0;
}
