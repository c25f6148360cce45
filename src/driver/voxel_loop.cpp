#include "driver/voxel_loop.h"

#include <sys/types.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "driver/ar_maps.h"
#include "driver/block_pass.h"
#include "driver/brain_mask.h"
#include "driver/globals.h"
#include "driver/output.h"
#include "driver/runs.h"
#include "glm/ar_model.h"
#include "glm/fit.h"
#include "glm/frequency_filter.h"
#include "glm/iwls_calibration.h"
#include "glm/reports.h"
#include "glm/statistics.h"
#include "glm/z_score.h"
#include "numerics/arrays.h"
#include "numerics/temp_files.h"

float **av_sigma_map = nullptr;
float **P_map = nullptr;
float **T_map = nullptr;
float **S_map = nullptr;
float **dS_map = nullptr;
float **Z_map = nullptr;
std::int16_t *nAR_map = nullptr;

namespace {

// Truncates toward zero and keeps the value inside the 16-bit range.
std::int16_t to_short(float value) {
    if (!(value == value)) return 0;
    if (value >= 32767.0f) return 32767;
    if (value <= -32768.0f) return -32768;
    return static_cast<std::int16_t>(static_cast<int>(value));
}

// The residue volume holds voxel v at time point tau at byte H + (tau V + v) s.
// A block's residues are kept in the block buffer in the same tau-major order,
// so that each time point's values of the block go out in one write.
class ResidueWriter {
public:
    int open(int mode, int ntime, int nvoxels) {
        mode_ = mode;
        if (mode == 0) return 0;
        ntime_ = ntime;
        nvoxels_ = nvoxels;
        sample_size_ = mode == 1 ? 2 : 4;
        header_bytes_ = GLM_input.output_format ? 352 : 0;
        std::printf("Initializing residue file ...");
        if (open_output_file(mode == 1 ? -1 : 0, ntime, "residue", &stream_)) return 1;
        return 0;
    }
    bool active() const { return mode_ != 0; }

    // Writes the residues of voxels first .. first + n - 1, stored at values[tau * n + j].
    void write_block(const float *values, int first, int n) {
        if (mode_ == 1) shorts_.resize(n);
        for (int tau = 0; tau < ntime_; ++tau) {
            const off_t position =
                header_bytes_ + (static_cast<off_t>(tau) * nvoxels_ + first) * static_cast<off_t>(sample_size_);
            const float *row = values + static_cast<std::int64_t>(tau) * n;
            bool ok = fseeko(stream_, position, SEEK_SET) == 0;
            if (ok && mode_ == 1) {
                for (int j = 0; j < n; ++j) shorts_[j] = to_short(row[j]);
                ok = std::fwrite(shorts_.data(), 2, n, stream_) == static_cast<std::size_t>(n);
            } else if (ok) {
                ok = std::fwrite(row, 4, n, stream_) == static_cast<std::size_t>(n);
            }
            if (!ok) {
                std::printf("Error writing the fMRI output file.\n");
                std::exit(1);
            }
        }
    }

    void close() {
        if (stream_ && !close_output(stream_)) {
            std::printf("Error writing the fMRI output file.\n");
            std::exit(1);
        }
        stream_ = nullptr;
    }

private:
    int mode_ = 0, ntime_ = 0, nvoxels_ = 0, sample_size_ = 4, header_bytes_ = 0;
    std::FILE *stream_ = nullptr;
    std::vector<std::int16_t> shorts_;
};

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
    OwnedVector<float> y, fit, raw, coefficients;
    int singular = 0;  // voxels whose weighted design was singular
    void size(int T, int ar_order) {
        if (y.size() < T) y = OwnedVector<float>(T), fit = OwnedVector<float>(T), raw = OwnedVector<float>(T);
        if (coefficients.size() < ar_order + 1) coefficients = OwnedVector<float>(ar_order + 1);
    }
};

// The coefficients of voxel v's whitening filter: its AR map values (white
// noise without an AR model).
void filter_coefficients(std::int64_t v, float *coefficients) {
    const int p = GLM_input.AR_order;
    coefficients[0] = 1.0f;
    for (int k = 1; k <= p; ++k) coefficients[k] = auto_cor ? auto_cor[v][k] : 0.0f;
}

// The tests of re-weighted fits are calibrated on null series drawn from the
// data's own standardised residuals: a first pass over all voxels collects
// them from each voxel's unweighted fit (whitened as the voxel will be), in
// voxel order whatever the number of threads. An analysis without residual
// variance keeps the uncalibrated tests.
int calibrate_reweighted_tests(std::vector<ThreadStorage> &storage) {
    const int T = GLM.ntime;
    const int ar_order = GLM_input.AR_order;
    ResidualPool pool(100000);
    // The noise is drawn before the before-fit band filter, which the null
    // series then pass like the data: the residuals come from unfiltered fits.
    float *band = GLM_input.preGLM_frequency_band;
    const float low = band[0], high = band[1], phase = GLM_input.preGLM_phase_shift;
    band[0] = band[1] = GLM_input.preGLM_phase_shift = 0.0f;
    std::atomic<bool> failed{false};
    std::vector<int> counts(static_cast<std::size_t>(BLOCK_SIZE < file_list_root.nx * file_list_root.ny * file_list_root.nz
                                                         ? BLOCK_SIZE
                                                         : file_list_root.nx * file_list_root.ny * file_list_root.nz));
    // Each voxel's standardised residuals take the place of its data in the
    // block; after the block they go into the pool voxel by voxel.
    for_each_block(analysis_pool(), T, nullptr,
        [&](int thread, const VoxelBlock &block, int begin, int end) {
            ThreadStorage &s = storage[static_cast<std::size_t>(thread)];
            GLM_prepare_fit_context();
            for (int j = begin; j < end; ++j) {
                const std::int64_t v = block.first + j;
                counts[static_cast<std::size_t>(j)] = 0;
                if (!voxel_in_mask(v) || failed) continue;
                float *y = s.y.get();
                for (int tau = 0; tau < T; ++tau) y[tau] = block.data[static_cast<std::int64_t>(tau) * block.count + j];
                GLM_Update_Weights(T, y);
                filter_coefficients(v, s.coefficients.get());
                std::int16_t order;
                if (GLM_calculate_whitening_filter(ar_order + 1, s.coefficients.get(), &order) ||
                    GLM_PreFilter(0, T, y)) {
                    failed = true;
                    continue;
                }
                float variance;
                GLMInternal_fit_data(T, y, s.fit.get(), &variance);
                if (fit_context.singular_fit) continue;
                const int k = ResidualPool::standardised_residuals(s.raw.get());
                for (int i = 0; i < k; ++i) block.data[static_cast<std::int64_t>(i) * block.count + j] = s.raw[i];
                counts[static_cast<std::size_t>(j)] = k;
            }
        },
        [&](const VoxelBlock &block) {
            for (int j = 0; j < block.count; ++j)
                for (int i = 0; i < counts[static_cast<std::size_t>(j)]; ++i)
                    pool.add(block.data[static_cast<std::int64_t>(i) * block.count + j]);
        });
    band[0] = low, band[1] = high, GLM_input.preGLM_phase_shift = phase;
    if (failed) return 1;
    if (GLM_calibrate_reweighted_tests(pool, 8000, analysis_pool())) GLM_clear_reweighted_calibration();
    return 0;
}

// Fits voxel v (its series in the block at column j) in this thread's fit
// context as a single series, fills its entries of the maps and, with
// residues, puts its residue series in place of its data. False when a
// called operation failed (it has printed why).
bool fit_voxel(ThreadStorage &s, const VoxelBlock &block, int j, int nconditions, int percent_change,
               const float *baseline_weights, bool residues) {
    const std::int64_t v = block.first + j;
    const int T = GLM.ntime;
    const int ar_order = GLM_input.AR_order;
    float *y = s.y.get(), *fit = s.fit.get(), *raw = s.raw.get();
    float *column = block.data + j;
    const std::int64_t pitch = block.count;
    for (int tau = 0; tau < T; ++tau) y[tau] = column[tau * pitch];

    GLM_Update_Weights(T, y);
    filter_coefficients(v, s.coefficients.get());
    if (GLM_calculate_whitening_filter(ar_order + 1, s.coefficients.get(), &nAR_map[v])) return false;

    float variance = 0.0f, baseline = 0.0f;
    if (residues)
        for (int tau = 0; tau < T; ++tau) raw[tau] = y[tau];
    if (baseline_weights) {
        // The level of the unfiltered series (the filter may remove it).
        double sum = 0.0;
        for (int tau = 0; tau < T; ++tau) sum += static_cast<double>(baseline_weights[tau]) * y[tau];
        baseline = static_cast<float>(sum);
    }
    if (GLM_PreFilter(0, T, y)) return false;
    GLM_fit_data(T, y, fit, &variance);
    if (!baseline_weights) baseline = GLM_compute_baseline();
    if (fit_context.singular_fit) ++s.singular;

    const float sigma = std::sqrt(variance);
    av_sigma_map[0][v] = baseline;
    av_sigma_map[1][v] = sigma;
    av_sigma_map[2][v] = sigma != 0.0f ? baseline / sigma : 0.0f;

    for (int c = 0; c < nconditions; ++c) {
        float F = 0.0f, t, p, p_corrected, effect, standard_error;
        if (GLM_calculate_F(T, variance, resels, c, &F, &t, &p, &p_corrected, &effect, &standard_error)) return false;
        float P = static_cast<float>(-std::log10(GLM_input.multiple_comparisons == 0 ? p : p_corrected));
        if (t < 0.0f) P = -P;
        P_map[c][v] = P;
        T_map[c][v] = t;
        if (Z_map) Z_map[c][v] = z_statistic(F, t, fit_context.DOF, GLM.condition_nrows[c]);
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

    if (residues) {
        // Data minus the fitted model: fit holds design_unmasked x effect_size
        // of this very fit (unwhitened, unfiltered). With the before-fit band
        // the residue is filtered like the data that were fitted.
        for (int tau = 0; tau < T; ++tau) y[tau] = raw[tau] - fit[tau];
        if (baseline_weights) GLMInternal_filter_masked(y);
        GLM_FrequencyFilter(1, T, y);
        // The voxel's input values are no longer needed: its residues take their place.
        for (int tau = 0; tau < T; ++tau) {
            float value = y[tau];
            if (percent_change) value = baseline == 0.0f ? 0.0f : (value / baseline) * 10000.0f;
            column[tau * pitch] = value;
        }
    }
    return true;
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

    VoxelProgress progress(V, [V](std::int64_t v) {
        std::printf("\r %d percent done", static_cast<int>(100LL * v / V));
        std::fflush(stdout);
    });
    std::atomic<bool> failed{false};
    const float *weights = prefilter ? baseline_weights.get() : nullptr;
    for_each_block(pool, T, &progress,
        [&](int thread, const VoxelBlock &block, int begin, int end) {
            ThreadStorage &s = storage[static_cast<std::size_t>(thread)];
            GLM_prepare_fit_context();
            for (int j = begin; j < end && !failed; ++j) {
                const std::int64_t v = block.first + j;
                if (voxel_in_mask(v)) {
                    if (!fit_voxel(s, block, j, nconditions, percent_change, weights, residue.active())) failed = true;
                    continue;
                }
                set_neutral(static_cast<int>(v), nconditions);
                if (residue.active())
                    for (int tau = 0; tau < T; ++tau) block.data[static_cast<std::int64_t>(tau) * block.count + j] = 0.0f;
            }
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
        std::printf("Warning: %d voxels had a singular weighted design; their statistics were set to neutral values.\n",
                    singular_voxels);
    return 0;
}
