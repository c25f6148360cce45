// The AR estimation pass over a small data set read block by block.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/ar_maps.h"
#include "driver/runs.h"
#include "glm/ar_model.h"
#include "glm/basis.h"
#include "glm/event_file.h"
#include "glm/state.h"
#include "support/runs.h"

TEST(ARNoise, EstimatesEveryVoxelAcrossBlocksAndWritesTheMaps) {
    // 15 voxels of 40 time points, each an AR(1) series of its own coefficient.
    TempDir dir;
    const int V = 15, T = 40;
    std::vector<float> data(static_cast<std::size_t>(V) * T);
    for (int v = 0; v < V; ++v) {
        float e = 0.0f;
        for (int t = 0; t < T; ++t) {
            e = (v - 7) / 8.0f * e + std::sin(1.7f * t * t + v);
            data[static_cast<std::size_t>(t) * V + v] = 100.0f + v + e;
        }
    }
    write_xdisplay_run(dir, "run.bfloat", {5, 3, 1, T}, sample_bytes<float>(data));
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());

    // With offsets per run the residuals are formed from centred series; an
    // explicit constant baseline event instead of them takes the other path.
    // Order 17 is beyond the lanes' registers (the voxel-by-voxel reduction).
    for (const int pass : {0, 1, 2}) {
        const bool offsets = pass > 0;
        const int order = pass == 1 ? 2 : 17;
        GLM_reset_model_state();
        GLM_input.nruns = GLM.nruns = 1;
        std::snprintf(GLM_input.fmri_file[0], NAME_SIZE, "run.bfloat");
        GLM.tr[0] = 2.0f, GLM.ntime = T, GLM.run_start[0] = 0, GLM.run_stop[0] = T - 1;
        GLM_input.nbaseline_terms = offsets ? 2 : 0, GLM_input.AR_order = order, GLM_input.AR_smoothing = 0.0f;
        GLM_input.output_format = 0, GLM.initialized = 1;
        build_run_list();
        int total = 0, result = -1;
        dir.write("ev.glm", "2\n\nB baseline 0\n");
        const std::string out = stdout_of([&] {
            ASSERT_EQ(initialize_runs(&total), 0);
            if (!offsets) GLM.ntime = 0;  // the event file sets the run's points
            ASSERT_TRUE(offsets || GLM_read_event_file(dir.file("ev.glm").c_str(), 0, T) == 0);
            ASSERT_EQ(GLM_define_basis_functions(), 0);
            BLOCK_SIZE = 4;  // blocks of 4, 4, 4 and 3 voxels
            result = analyze_AR_noise();
        });
        ASSERT_EQ(result, 0) << out;
        // Fewer than 100 voxels: progress counts by voxel share.
        const std::string computing = "\rComputing " + std::to_string(order) + " AR maps, ";
        EXPECT_NE(out.find(computing + "0 percent done" + computing + "6 percent done"), std::string::npos) << out;
        EXPECT_NE(out.find(computing + "93 percent done\n\nNo spatial filtering of AR maps - width = 0\n"),
                  std::string::npos) << out;

        const std::string maps = read_file(dir.file("AR.bfloat"));
        ASSERT_EQ(maps.size(), order * V * sizeof(float));
        const float *stored = reinterpret_cast<const float *>(maps.data());
        std::vector<float> series(T), coefficients(order + 1);
        for (int v = 0; v < V; ++v) {
            for (int t = 0; t < T; ++t) series[t] = data[static_cast<std::size_t>(t) * V + v];
            ASSERT_EQ(GLM_calculate_AR_coefficient(T, series.data(), order, coefficients.data()), 0);
            // The pass estimates eight voxels at a time: the same to rounding.
            for (int k = 1; k <= order; ++k) EXPECT_NEAR(stored[(k - 1) * V + v], coefficients[k], 1e-5) << v << " " << k;
            EXPECT_EQ(auto_cor[v][1], stored[v]);
        }
        EXPECT_TRUE(stored[14] > 0.5f && stored[0] < -0.5f);  // strong positive and negative correlation
    }

    // Maps that cannot be stored are an error, not a success.
    std::filesystem::remove("AR.bfloat");
    std::filesystem::create_directory("AR.bfloat");  // the finished file cannot take its name
    EXPECT_NE(stdout_of([] { EXPECT_EQ(analyze_AR_noise(), 1); }).find("Error writing file `AR'\n"), std::string::npos);
    std::filesystem::current_path(previous);
}
