#include "driver/voxel_loop.h"

#include <sys/types.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "driver/ar_maps.h"
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

// Prints "\r %d percent done" with the share of voxels done when v is a
// multiple of the progress step. Volumes of fewer than 100 voxels have no
// whole-percent step; they report every voxel.
void report_progress(int v, int step, int nvoxels) {
    if (step > 0 && v % step != 0) return;
    std::printf("\r %d percent done", static_cast<int>(100LL * v / nvoxels));
    std::fflush(stdout);
}

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

// The tests of re-weighted fits are calibrated on null series drawn from the
// data's own standardised residuals: a first pass over all voxels collects
// them from each voxel's unweighted fit (whitened as the voxel will be). An
// analysis without residual variance keeps the uncalibrated tests.
int calibrate_reweighted_tests(OwnedVector<float> &block, OwnedVector<float> &y, OwnedVector<float> &fit,
                               OwnedVector<float> &coefficients) {
    const RunEntry &first = file_list_root;
    const int V = first.nx * first.ny * first.nz;
    const int T = GLM.ntime;
    const int ar_order = GLM_input.AR_order;
    ResidualPool pool(100000);
    // The noise is drawn before the before-fit band filter, which the null
    // series then pass like the data: the residuals come from unfiltered fits.
    float *band = GLM_input.preGLM_frequency_band;
    const float low = band[0], high = band[1], phase = GLM_input.preGLM_phase_shift;
    band[0] = band[1] = GLM_input.preGLM_phase_shift = 0.0f;
    for (int f = 0, n = 0; f < V; f += n) {
        if (read_block_vector(block.get(), f, &n)) std::exit(1);
        for (int j = 0; j < n; ++j) {
            if (!voxel_in_mask(f + j)) continue;
            for (int tau = 0; tau < T; ++tau) y[tau] = block[static_cast<std::int64_t>(tau) * n + j];
            GLM_Update_Weights(T, y.get());
            if (ar_order > 0)
                for (int k = 0; k <= ar_order; ++k) coefficients[k] = auto_cor[f + j][k];
            std::int16_t order;
            if (GLM_calculate_whitening_filter(ar_order + 1, coefficients.get(), &order) ||
                GLM_PreFilter(0, T, y.get())) {
                band[0] = low, band[1] = high, GLM_input.preGLM_phase_shift = phase;
                return 1;
            }
            float variance;
            GLMInternal_fit_data(T, y.get(), fit.get(), &variance);
            if (!fit_context.singular_fit) pool.add_fit();
        }
    }
    band[0] = low, band[1] = high, GLM_input.preGLM_phase_shift = phase;
    if (GLM_calibrate_reweighted_tests(pool, 8000)) GLM_clear_reweighted_calibration();
    return 0;
}

}  // namespace

int analyze_runs(int nconditions, int percent_change, int residue_mode) {
    std::printf("Analyzing fMRI runs using GLM ...\n\n");
    const RunEntry &first = file_list_root;
    const int V = first.nx * first.ny * first.nz;
    const int T = GLM.ntime;
    const int ar_order = GLM_input.AR_order;

    allocate_maps(nconditions, V);
    OwnedVector<float> block(static_cast<std::int64_t>(BLOCK_SIZE < V ? BLOCK_SIZE : V) * T);
    OwnedVector<float> y(T), fit(T), raw(T), baseline_weights(T), coefficients(ar_order + 1);
    for (int k = 0; k <= ar_order; ++k) coefficients[k] = 0.0f;
    const int step = V / 100;
    const bool prefilter = GLM_prefilter_active();
    if (prefilter && GLM_unweighted_baseline_weights(baseline_weights.get())) {
        std::printf("Error: the design matrix is singular: its columns are linearly dependent.\n");
        return 1;
    }

    ResidueWriter residue;
    if (residue.open(residue_mode, T, V)) return 1;

    if (GLM_input.noise_model == NOISE_IWLS && nconditions > 0 && calibrate_reweighted_tests(block, y, fit, coefficients))
        return 1;

    int singular_voxels = 0;
    for (int f = 0, n = 0; f < V; f += n) {
        if (read_block_vector(block.get(), f, &n)) std::exit(1);
        for (int j = 0; j < n; ++j) {
            const int v = f + j;
            if (!voxel_in_mask(v)) {
                set_neutral(v, nconditions);
                if (residue.active())
                    for (int tau = 0; tau < T; ++tau) block[static_cast<std::int64_t>(tau) * n + j] = 0.0f;
                report_progress(v, step, V);
                continue;
            }
            for (int tau = 0; tau < T; ++tau) y[tau] = block[static_cast<std::int64_t>(tau) * n + j];

            GLM_Update_Weights(T, y.get());
            if (ar_order > 0)
                for (int k = 0; k <= ar_order; ++k) coefficients[k] = auto_cor[v][k];
            if (GLM_calculate_whitening_filter(ar_order + 1, coefficients.get(), &nAR_map[v])) return 1;

            float variance = 0.0f, baseline = 0.0f;
            if (residue.active())
                for (int tau = 0; tau < T; ++tau) raw[tau] = y[tau];
            if (prefilter) {
                // The level of the unfiltered series (the filter may remove it).
                double sum = 0.0;
                for (int tau = 0; tau < T; ++tau) sum += static_cast<double>(baseline_weights[tau]) * y[tau];
                baseline = static_cast<float>(sum);
            }
            if (GLM_PreFilter(0, T, y.get())) return 1;
            GLM_fit_data(T, y.get(), fit.get(), &variance);
            if (!prefilter) baseline = GLM_compute_baseline();
            if (fit_context.singular_fit) ++singular_voxels;

            const float sigma = std::sqrt(variance);
            av_sigma_map[0][v] = baseline;
            av_sigma_map[1][v] = sigma;
            av_sigma_map[2][v] = sigma != 0.0f ? baseline / sigma : 0.0f;

            for (int c = 0; c < nconditions; ++c) {
                float F = 0.0f, t, p, p_corrected, effect, standard_error;
                if (GLM_calculate_F(T, variance, resels, c, &F, &t, &p, &p_corrected, &effect, &standard_error))
                    return 1;
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

            if (residue.active()) {
                // Data minus the fitted model: fit holds design_unmasked x effect_size
                // of this very fit (unwhitened, unfiltered). With the before-fit band
                // the residue is filtered like the data that were fitted.
                for (int tau = 0; tau < T; ++tau) y[tau] = raw[tau] - fit[tau];
                if (prefilter) GLMInternal_filter_masked(y.get());
                GLM_FrequencyFilter(1, T, y.get());
                // The voxel's input values are no longer needed: its residues take their place.
                for (int tau = 0; tau < T; ++tau) {
                    float value = y[tau];
                    if (percent_change) value = baseline == 0.0f ? 0.0f : (value / baseline) * 10000.0f;
                    block[static_cast<std::int64_t>(tau) * n + j] = value;
                }
            }
            report_progress(v, step, V);
        }
        if (residue.active()) residue.write_block(block.get(), f, n);
    }
    residue.close();
    GLM_clear_reweighted_calibration();

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
