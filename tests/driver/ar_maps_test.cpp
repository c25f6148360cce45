#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "driver/ar_maps.h"
#include "driver/brain_mask.h"
#include "driver/globals.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "support/cli.h"

namespace {

// AR maps of order 2 over nx x ny x nz voxels, allocated here; column 1 is
// random, column 2 constant. Returns the printed output of the smoothing and
// checks every voxel of column 1 against the kernel summed directly in 3-D,
// with a brain mask of random voxels over masked maps (0 outside the mask).
std::string smooth_and_check(int nx, int ny, int nz, const float res[3], float fwhm, const int reach[3],
                             bool masked = false) {
    GLM_reset_model_state();
    file_list_root = RunEntry{};
    file_list_root.nx = nx, file_list_root.ny = ny, file_list_root.nz = nz;
    for (int a = 0; a < 3; ++a) file_list_root.resolution[a] = res[a];
    GLM_input.AR_order = 2;
    GLM_input.AR_smoothing = fwhm;
    const int V = nx * ny * nz;
    OwnedMatrix<float> maps(V, 3), before(V, 3);
    std::mt19937 gen(V);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<std::uint8_t> mask(V);
    for (int v = 0; v < V; ++v) maps[v][0] = 1.0f, maps[v][1] = before[v][1] = u(gen), maps[v][2] = 0.25f;
    for (int v = 0; v < V; ++v) mask[v] = !masked || u(gen) > 0.0f;
    auto_cor = maps.get();
    brain_mask = masked ? mask.data() : nullptr;
    const std::string out = stdout_of([] { EXPECT_EQ(smooth_AR_maps(), 0); });
    const double w = 0.36 * fwhm * fwhm;
    for (int v = 0; v < V; ++v) {
        const int x = v % nx, y = v / nx % ny, z = v / (nx * ny);
        double sum = 0.0, norm = 0.0;
        for (int dz = -reach[2]; dz <= reach[2]; ++dz)
            for (int dy = -reach[1]; dy <= reach[1]; ++dy)
                for (int dx = -reach[0]; dx <= reach[0]; ++dx) {
                    if (x + dx < 0 || y + dy < 0 || z + dz < 0 || x + dx >= nx || y + dy >= ny || z + dz >= nz ||
                        !mask[v + dx + nx * (dy + ny * dz)])
                        continue;
                    const double g = std::exp(-res[2] * res[2] * dz * dz / w) *
                                     std::exp(-res[1] * res[1] * dy * dy / w) * std::exp(-res[0] * res[0] * dx * dx / w);
                    sum += g * before[v + dx + nx * (dy + ny * dz)][1];
                    norm += g;
                }
        EXPECT_NEAR(maps[v][1], mask[v] ? sum / norm : 0.0, 1e-5) << v;
        EXPECT_FLOAT_EQ(maps[v][2], mask[v] ? 0.25f : 0.0f);  // a constant map stays constant
        EXPECT_EQ(maps[v][0], 1.0f);
    }
    auto_cor = nullptr;
    brain_mask = nullptr;
    return out;
}

}  // namespace

TEST(ARMaps, GaussianSmoothingWithBorderRenormalisation) {
    const float mm3[3] = {3.0f, 3.0f, 3.0f};
    const int three[3] = {3, 3, 3};
    EXPECT_EQ(smooth_and_check(7, 5, 4, mm3, 6.0f, three),
              "Smooth AR maps using gaussian kernel FWHM of  6.00 mm\n"
              "(dim.x,dim.y,dim.z,nt) = (7, 5, 4, 2), voxel range: (+- 3, +- 3, +- 3)\n"
              "\rsmoothing map AR1\rsmoothing map AR2\n");
    smooth_and_check(7, 5, 4, mm3, 6.0f, three, true);
    // A single slice has no reach along z; an axis without a positive voxel
    // size is not smoothed.
    const float flat[3] = {2.0f, 0.0f, 2.0f};
    const int x_only[3] = {3, 0, 0};
    EXPECT_NE(smooth_and_check(4, 3, 1, flat, 4.0f, x_only).find("voxel range: (+- 3, +- 0, +- 0)\n"),
              std::string::npos);
}

TEST(BrainMask, CutBetweenBackgroundAndBrainAndIsolatedVoxels) {
    // 40 % brain with means from 700 to 1300; background: none, 0, 5 % and 30 % of the brain.
    for (const float background : {-1.0f, 0.0f, 50.0f, 300.0f}) {
        std::vector<float> means;
        for (int i = 0; i < 1000; ++i)
            means.push_back(background < 0 || i % 5 < 2 ? 700.0f + 600.0f * (i % 97) / 96 : background + i % 7);
        const double cut = automatic_mask_cut(means);
        EXPECT_GT(cut, background + 6) << background;
        EXPECT_LT(cut, 700.0) << background;
    }
    // 3 x 3 x 2: voxel 0 has no kept face neighbour, voxels 9 and 13 only kept ones.
    std::vector<std::uint8_t> mask = {1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1, 1, 0, 1, 1, 1, 1};
    remove_isolated_voxels(mask, 3, 3, 2);
    EXPECT_EQ(mask, std::vector<std::uint8_t>({0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
}
