// AR noise maps: per-voxel autocorrelation estimates over all blocks, smoothed
// with a three-dimensional Gaussian kernel and written to the volume "AR".
#include "driver/ar_maps.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "driver/block_pass.h"
#include "driver/brain_mask.h"
#include "driver/globals.h"
#include "driver/output.h"
#include "driver/runs.h"
#include "glm/ar_model.h"
#include "glm/lane_kernels.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "numerics/temp_files.h"

float **auto_cor = nullptr;

namespace {

// The maps this file allocated, with their row count, for their release.
float **owned_maps = nullptr;
std::int64_t owned_rows = 0;

std::int64_t voxel_count() {
    return static_cast<std::int64_t>(file_list_root.nx) * file_list_root.ny * file_list_root.nz;
}

// Half-extent of the kernel along one axis in voxels: the reach divided by the
// voxel size, rounded up. An axis whose voxel size is not positive is not
// smoothed. The printed value is kept within int range.
int half_extent(float reach, float voxel_size) {
    if (!(voxel_size > 0.0f)) return 0;
    const float q = std::ceil(reach / voxel_size);
    if (!(q < 1.0e9f)) return 1000000000;
    return static_cast<int>(q);
}

// One-dimensional Gaussian pass along an axis with the given stride: each
// value becomes the weighted sum of the neighbours inside the axis. weight[d]
// is the weight of distance d.
void smooth_axis(const double *in, double *out, int nx, int ny, int nz, int axis, int extent,
                 const std::vector<double> &weight) {
    const int n = axis == 0 ? nx : axis == 1 ? ny : nz;
    const std::int64_t stride = axis == 0 ? 1 : axis == 1 ? nx : static_cast<std::int64_t>(nx) * ny;
    const int reach = extent < n - 1 ? extent : n - 1;  // neighbours beyond the volume never count
    for (int z = 0; z < nz; ++z)
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x) {
                const std::int64_t v = x + static_cast<std::int64_t>(nx) * (y + static_cast<std::int64_t>(ny) * z);
                const int i = axis == 0 ? x : axis == 1 ? y : z;
                const int lo = i - reach < 0 ? -i : -reach;
                const int hi = i + reach > n - 1 ? n - 1 - i : reach;
                double sum = 0.0;
                for (int d = lo; d <= hi; ++d) sum += weight[d < 0 ? -d : d] * in[v + d * stride];
                out[v] = sum;
            }
}

}  // namespace

int smooth_AR_maps() {
    const float F = GLM_input.AR_smoothing;
    if (F == 0.0f) {
        std::printf("No spatial filtering of AR maps - width = 0\n");
        return 0;
    }
    std::printf("Smooth AR maps using gaussian kernel FWHM of %5.2f mm\n", static_cast<double>(F));

    const float w = static_cast<float>(((F * 1.44) / 2.0 * F) / 2.0);  // 0.36 F^2
    const float reach = static_cast<float>(std::sqrt(3.0 * w));
    const int nx = file_list_root.nx, ny = file_list_root.ny, nz = file_list_root.nz;
    const float *resolution = file_list_root.resolution;
    const int ix = half_extent(reach, resolution[0]);
    const int iy = half_extent(reach, resolution[1]);
    const int iz = nz == 1 ? 0 : half_extent(reach, resolution[2]);
    const int order = GLM_input.AR_order;
    std::printf("(dim.x,dim.y,dim.z,nt) = (%d, %d, %d, %d), voxel range: (+- %d, +- %d, +- %d)\n", nx, ny, nz, order,
                ix, iy, iz);

    const std::int64_t V = voxel_count();
    if (auto_cor && V > 0) {
        // The kernel g = gx(dx) gy(dy) gz(dz) is separable, so the sums of
        // g x value and of g over the neighbours inside the volume and the
        // brain mask are three one-dimensional passes each, over the masked
        // map and over the mask. Their ratio, the kernel renormalised over
        // the voxels that count, agrees with the direct three-dimensional sum
        // to double rounding. Voxels outside the mask keep 0.
        const int extent[3] = {ix, iy, iz};
        std::vector<double> weight[3];
        for (int a = 0; a < 3; ++a) {
            const int n = a == 0 ? nx : a == 1 ? ny : nz;
            const int reach_voxels = extent[a] < n - 1 ? extent[a] : n - 1;
            weight[a].resize(static_cast<std::size_t>(reach_voxels) + 1);
            const double r2 = static_cast<double>(resolution[a]) * resolution[a];
            for (int d = 0; d <= reach_voxels; ++d) weight[a][d] = std::exp(-r2 * d * d / w);
        }
        std::vector<double> map(static_cast<std::size_t>(V)), scratch(map.size()), norm(map.size());
        const auto smooth = [&](std::vector<double> &values) {
            smooth_axis(values.data(), scratch.data(), nx, ny, nz, 0, ix, weight[0]);
            smooth_axis(scratch.data(), values.data(), nx, ny, nz, 1, iy, weight[1]);
            smooth_axis(values.data(), scratch.data(), nx, ny, nz, 2, iz, weight[2]);
            values.swap(scratch);
        };
        for (std::int64_t v = 0; v < V; ++v) norm[v] = voxel_in_mask(v) ? 1.0 : 0.0;
        smooth(norm);
        for (int k = 1; k <= order; ++k) {
            std::printf("\rsmoothing map AR%d", k);
            std::fflush(stdout);
            for (std::int64_t v = 0; v < V; ++v) map[v] = voxel_in_mask(v) ? auto_cor[v][k] : 0.0;
            smooth(map);
            for (std::int64_t v = 0; v < V; ++v)
                auto_cor[v][k] = voxel_in_mask(v) ? static_cast<float>(map[v] / norm[v]) : 0.0f;
        }
    }
    std::printf("\n");
    return 0;
}

int analyze_AR_noise() {
    const std::int64_t V = voxel_count();
    const int order = GLM_input.AR_order > 0 ? GLM_input.AR_order : 0;
    if (owned_maps) free_float_matrix(owned_maps, owned_rows);
    auto_cor = owned_maps = float_matrix(V, order + 1);
    owned_rows = V;
    // Until estimated, every voxel has the autocorrelations of white noise.
    for (std::int64_t v = 0; v < V; ++v) {
        auto_cor[v][0] = 1.0f;
        for (int k = 1; k <= order; ++k) auto_cor[v][k] = 0.0f;
    }
    if (GLM_input.AR_order < 1) return 0;

    std::int64_t T = 0;
    for (const RunEntry *run = &file_list_root; run; run = run->next) T += run->nt;
    WorkerPool &pool = analysis_pool();
    VoxelProgress progress(V, [order, V](std::int64_t v) {
        const int percent = static_cast<int>(v * 100 / V);
        if (order == 1)
            std::printf("\rComputing %d AR map, %d percent done", order, percent);
        else
            std::printf("\rComputing %d AR maps, %d percent done", order, percent);
        std::fflush(stdout);
    });
    // Eight voxels at a time: the residuals of the build's unit-weight fit
    // and their autocovariances, then each voxel's bias reduction.
    const float *P = nullptr;
    const float *X = GLM_AR_estimate_design(&P);
    if (!X) {
        OwnedVector<float> y(T);
        return GLM_calculate_AR_coefficient(static_cast<int>(T), y.get(), order, auto_cor[0]);  // says why
    }
    const int nb = GLM.nbasis, nt = static_cast<int>(T);
    std::vector<double> mixing, factors;
    const int higher = GLM_AR_bias_terms(mixing, factors);
    const bool lanes = order <= kMaxLaneOrder && higher <= kMaxLaneHigher;
    // With an offset column for every run the residuals do not change when a
    // constant is taken from a series: relative to its first value the
    // differences are small, and float sums keep them exact enough.
    const bool centred = GLM_input.nbaseline_terms > 0 && GLM.nbaseline_basis >= GLM.nruns && nb <= kMaxLaneBasis;
    struct Storage {
        std::vector<float> tile, scratch;
        std::vector<double> beta, residuals, a, lag;
        std::vector<float> coefficients;
    };
    std::vector<Storage> storage(static_cast<std::size_t>(pool.threads()));
    const auto estimate = [&](Storage &s, const VoxelBlock &block, const int *columns, int count) {
        const float *y = block.data + columns[0];
        std::int64_t pitch = block.count;
        if (count < kLanes || columns[kLanes - 1] - columns[0] != kLanes - 1) {
            for (int t = 0; t < nt; ++t)
                for (int l = 0; l < kLanes; ++l)
                    s.tile[t * kLanes + l] = block.data[static_cast<std::int64_t>(t) * block.count + columns[l < count ? l : 0]];
            y = s.tile.data();
            pitch = kLanes;
        }
        if (centred) {
            lanes_centred_autocovariances(nb, nt, P, X, y, pitch, GLM.include, order, s.scratch.data(), s.a.data());
        } else {
            lanes_project_wide(nb, nt, P, y, pitch, GLM.include, s.beta.data());
            lanes_autocovariances(nb, nt, X, y, pitch, GLM.include, s.beta.data(), order, s.residuals.data(),
                                  s.a.data());
        }
        if (lanes) {
            lanes_autocorrelations(order, higher, mixing.data(), factors.data(), s.a.data(), s.coefficients.data());
            for (int l = 0; l < count; ++l)
                for (int k = 0; k <= order; ++k) auto_cor[block.first + columns[l]][k] = s.coefficients[k * kLanes + l];
            return;
        }
        for (int l = 0; l < count; ++l) {
            for (int k = 0; k <= order; ++k) s.lag[k] = s.a[k * kLanes + l];
            GLM_autocorrelations_from_residuals(s.lag.data(), order, auto_cor[block.first + columns[l]]);
        }
    };
    for_each_block(pool, T, &progress, [&](int thread, const VoxelBlock &block, int begin, int end) {
        Storage &s = storage[static_cast<std::size_t>(thread)];
        if (s.tile.empty()) {
            s.tile.resize(static_cast<std::size_t>(nt) * kLanes);
            s.scratch.resize(static_cast<std::size_t>(nt) * kLanes);
            s.beta.resize(static_cast<std::size_t>(nb) * kLanes);
            s.residuals.resize(static_cast<std::size_t>(nt) * kLanes);
            s.a.resize(static_cast<std::size_t>(order + 1) * kLanes);
            s.lag.resize(static_cast<std::size_t>(order + 1));
            s.coefficients.resize(static_cast<std::size_t>(order + 1) * kLanes);
        }
        int columns[kLanes], count = 0;
        for (int j = begin; j < end; ++j) {
            // Voxels outside the mask keep the white-noise values.
            if (voxel_in_mask(block.first + j)) columns[count++] = j;
            if (count == kLanes || (count > 0 && j + 1 == end)) {
                estimate(s, block, columns, count);
                count = 0;
            }
        }
    });
    std::printf("\n\n");

    if (smooth_AR_maps()) return 1;

    std::FILE *stream = nullptr;
    if (open_output_file(0, order, "AR", &stream)) return 1;
    std::vector<float> column(static_cast<std::size_t>(V));
    bool failed = false;
    for (int k = 1; k <= order && !failed; ++k) {
        for (std::int64_t v = 0; v < V; ++v) column[v] = auto_cor[v][k];
        failed = std::fwrite(column.data(), sizeof(float), column.size(), stream) != column.size();
    }
    // Buffered data that cannot be written out at the close is a short write too.
    if (!close_output(stream, !failed)) failed = true;
    if (failed) {
        std::printf("Error writing file `AR'\n");
        return 1;
    }
    return 0;
}
