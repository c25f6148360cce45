// Brain masks: an image on the runs' grid or a cut of the first run's voxel
// means. Voxels outside the mask are neither fitted nor used for the AR maps.
#include "driver/brain_mask.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "driver/globals.h"
#include "driver/output.h"
#include "driver/runs.h"
#include "numerics/arrays.h"
#include "numerics/temp_files.h"
#include "volume/volume_header.h"

const std::uint8_t *brain_mask = nullptr;

namespace {

std::vector<std::uint8_t> mask_storage;

int read_mask_file(const char *name, std::int64_t V) {
    const RunEntry &grid = file_list_root;
    VolumeHeader header;
    if (read_volume_header(0, name, &header)) return 1;
    if (header.nx != grid.nx || header.ny != grid.ny || header.nz != grid.nz) {
        std::printf("Error: the mask %s has dimensions (%d,%d,%d), but the runs have (%d,%d,%d).\n", name, header.nx,
                    header.ny, header.nz, grid.nx, grid.ny, grid.nz);
        return 1;
    }
    if (header.nt != 1) {
        std::printf("Error: the mask %s holds %d volumes; a mask is a single volume.\n", name, header.nt);
        return 1;
    }
    RunEntry image{};
    std::snprintf(image.fmri_file, NAME_SIZE, "%s", name);
    OwnedVector<float> values(V);
    const int failed = open_image_file(&image, header) || read_volume(&image, 0, values.get());
    if (image.stream) std::fclose(image.stream);
    if (failed) return 1;
    // Non-zero numbers are inside; NaN is not.
    for (std::int64_t v = 0; v < V; ++v) mask_storage[v] = values[v] > 0.0f || values[v] < 0.0f;
    return 0;
}

int derive_mask(std::int64_t V) {
    RunEntry *run = &file_list_root;
    OwnedVector<float> volume(V);
    std::vector<double> sums(V, 0.0);
    for (int t = 0; t < run->nt; ++t) {
        if (read_volume(run, t, volume.get())) return 1;
        for (std::int64_t v = 0; v < V; ++v) sums[v] += volume[v];
    }
    std::vector<float> means(V);
    for (std::int64_t v = 0; v < V; ++v) means[v] = static_cast<float>(sums[v] / run->nt);
    const double cut = automatic_mask_cut(means);
    for (std::int64_t v = 0; v < V; ++v) mask_storage[v] = means[v] > cut;
    remove_isolated_voxels(mask_storage, run->nx, run->ny, run->nz);
    std::printf("Automatic brain mask: voxel means of run 1 above %g", cut);

    std::FILE *stream = nullptr;
    if (open_output_file(-1, 1, "mask", &stream)) return 1;
    std::vector<std::int16_t> samples(mask_storage.begin(), mask_storage.end());
    const bool written = std::fwrite(samples.data(), 2, samples.size(), stream) == samples.size();
    if (!close_output(stream, written)) {
        std::printf("\nError writing file `mask'\n");
        return 1;
    }
    return 0;
}

}  // namespace

double automatic_mask_cut(std::vector<float> means) {
    std::erase_if(means, [](float m) { return !std::isfinite(m); });
    if (means.empty()) return 0.0;
    std::sort(means.begin(), means.end());
    const std::size_t n = means.size();
    double cut = 0.5 * means[static_cast<std::size_t>(0.98 * static_cast<double>(n - 1))];
    // Half the median above the cut moves monotonically to a fixed point; the
    // means are finitely many, so it gets there.
    for (int i = 0; i < 1000; ++i) {
        const std::size_t first = std::upper_bound(means.begin(), means.end(), cut) - means.begin();
        if (first == n) break;
        const double next = 0.5 * means[first + (n - 1 - first) / 2];
        if (next == cut) break;
        cut = next;
    }
    return cut;
}

void remove_isolated_voxels(std::vector<std::uint8_t> &mask, int nx, int ny, int nz) {
    const std::vector<std::uint8_t> before = mask;
    const std::int64_t sy = nx, sz = static_cast<std::int64_t>(nx) * ny;
    std::int64_t v = 0;
    for (int z = 0; z < nz; ++z)
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x, ++v) {
                const bool exists[6] = {x > 0, x + 1 < nx, y > 0, y + 1 < ny, z > 0, z + 1 < nz};
                const std::int64_t offset[6] = {-1, 1, -sy, sy, -sz, sz};
                int inside = 0, kept = 0;
                for (int k = 0; k < 6; ++k)
                    if (exists[k]) ++inside, kept += before[v + offset[k]] != 0;
                if (before[v] && inside > 0 && kept == 0) mask[v] = 0;
                if (!before[v] && inside > 0 && kept == inside) mask[v] = 1;
            }
}

int set_up_brain_mask() {
    brain_mask = nullptr;
    const char *name = GLM_input.mask_file;
    if (!name[0]) return 0;
    const std::int64_t V = static_cast<std::int64_t>(file_list_root.nx) * file_list_root.ny * file_list_root.nz;
    mask_storage.assign(V, 0);
    const bool automatic = !std::strcmp(name, "auto");
    if (automatic ? derive_mask(V) : read_mask_file(name, V)) return 1;
    const std::int64_t kept = std::count(mask_storage.begin(), mask_storage.end(), 1);
    if (!automatic) std::printf("Brain mask %s", name);
    std::printf(": %lld of %lld voxels analysed.\n", static_cast<long long>(kept), static_cast<long long>(V));
    if (kept == 0) {
        std::printf("Error: the brain mask holds no voxel.\n");
        return 1;
    }
    brain_mask = mask_storage.data();
    return 0;
}
