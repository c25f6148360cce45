// The synthetic data set generator: its files read back as runs of the analysis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/runs.h"
#include "support/cli.h"

namespace {

TEST(MakeDataset, WritesRunsEventsControlAndRegions) {
    TempDir tmp;
    const std::string dir = tmp.file("d");
    ASSERT_EQ(0, make_dataset(dir, "--nx 6 --ny 4 --nz 2 --volumes 40 --tr 2.5 --noise 0 --drift 0 "
                               "--control-extra 'AR 1' --control-extra notify"));
    EXPECT_EQ(read_file(dir + "/control.txt"),
              "# Synthetic data set: 2 runs of 6 x 4 x 2 voxels, 40 volumes each, TR 2.5 s\n"
              "IRF BOLD-monkey\nAR 1\nnotify\nconditions 1 2 1-2 1,2\nruns:\nrun1.nii run1.glm\nrun2.nii run2.glm\n");
    EXPECT_EQ(read_file(dir + "/run2.glm"), "2.5\n\n1 square\n20 40\n\n2 square\n60 80\n");
    const std::string regions = read_file(dir + "/regions.txt");
    EXPECT_NE(regions.find("\n1 0 0 1 2 0 0\n2 5 5 1 2 0 0\n"), std::string::npos) << regions;
    ASSERT_EQ(0, std::system(("'" FMRIGLM_PYTHON "' -c \"import nibabel as n, sys; i = n.load('" + dir +
                              "/run1.nii'); sys.exit(not (i.shape == (6, 4, 2, 40) and i.header.get_zooms()[3] == 2.5"
                              " and i.header['qform_code'] == 1))\"")
                                 .c_str()));

    // Without noise and drift: baseline outside the boxes, a 3 percent peak inside.
    GLM_reset_model_state();
    GLM_input.nruns = GLM.nruns = 2;
    for (int r = 0; r < 2; ++r) {
        std::snprintf(GLM_input.fmri_file[r], NAME_SIZE, "%s/run%d.nii", dir.c_str(), r + 1);
        GLM.tr[r] = 2.5f;
    }
    build_run_list();
    BLOCK_SIZE = 50000;
    int total = 0, n = 0;
    testing::internal::CaptureStdout();
    ASSERT_EQ(0, initialize_runs(&total));
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("Warning"), std::string::npos);
    ASSERT_EQ(total, 80);
    std::vector<float> block(48 * 80);
    ASSERT_EQ(0, read_block_vector(block.data(), 0, &n));
    ASSERT_EQ(n, 48);
    auto series = [&](int x, int y, int z) {
        std::vector<float> s;
        for (int t = 0; t < total; ++t) s.push_back(block[t * n + x + 6 * (y + 4 * z)]);
        return s;
    };
    const std::vector<float> outside = series(2, 2, 1), first = series(0, 1, 0), second = series(5, 2, 0);
    EXPECT_TRUE(std::all_of(outside.begin(), outside.end(), [](float v) { return v == 1000.0f; }));
    EXPECT_FLOAT_EQ(*std::max_element(first.begin(), first.end()), 1030.0f);
    EXPECT_FLOAT_EQ(*std::max_element(second.begin(), second.end()), 1030.0f);
    // Event 2 starts at 60 s: its region is still at baseline at 50 s (volume 20).
    EXPECT_FLOAT_EQ(second[20], 1000.0f);
    EXPECT_GT(first[12], 1010.0f);  // 30 s, in the middle of its first block
}

TEST(MakeDataset, TheSeedAloneDecidesTheNoise) {
    TempDir tmp;
    const std::string small = "--nx 4 --ny 4 --nz 2 --runs 1 --volumes 35 ";
    ASSERT_EQ(0, make_dataset(tmp.file("a"), small + "--seed 5"));
    ASSERT_EQ(0, make_dataset(tmp.file("b"), small + "--seed 5"));
    ASSERT_EQ(0, make_dataset(tmp.file("c"), small + "--seed 6"));
    EXPECT_EQ(read_file(tmp.file("a/run1.nii")), read_file(tmp.file("b/run1.nii")));
    EXPECT_NE(read_file(tmp.file("a/run1.nii")), read_file(tmp.file("c/run1.nii")));
    EXPECT_NE(0, make_dataset(tmp.file("e"), "--volumes 30 --tr 2"));  // too short for both events
}

// 4000 voxels of 100 points per law: AR(2) autocorrelations, Student-t tails
// (P(|t3| > 3 sqrt 3) = 0.0138 against 0.0027 for a Gaussian), the outlier
// share, and the artifact of the excluded points that the event file lists.
TEST(MakeDataset, NoiseFollowsTheRequestedLaw) {
    TempDir tmp;
    const std::string size = "--nx 50 --ny 40 --nz 2 --runs 1 --volumes 100 --drift 0 --amplitude 0 ";
    ASSERT_EQ(0, make_dataset(tmp / "ar2", size + "--ar 0.5 --ar2 -0.2"));
    ASSERT_EQ(0, make_dataset(tmp / "t3", size + "--ar 0 --distribution t3"));
    ASSERT_EQ(0, make_dataset(tmp / "out", size + "--ar 0 --outliers 0.05 --exclude 10-12"));
    EXPECT_NE(read_file(tmp / "out/run1.glm").find("\n\n-\n10 12\n"), std::string::npos);
    const ProgramResult check = run_command("'" FMRIGLM_PYTHON "' - '" + tmp.path() + "'", R"PY(
import sys, numpy as np, nibabel as nib
x = lambda d: np.asarray(nib.load(f"{sys.argv[1]}/{d}/run1.nii").dataobj, dtype=float).reshape(-1, 100) - 1000
a, t, o = x("ar2"), x("t3"), x("out")
r = lambda k: (a[:, k:] * a[:, :-k]).mean() / (a * a).mean()
got = [a.std(), r(1), r(2), (np.abs(t) > 30).mean(), (np.abs(np.delete(o, [10, 11, 12], 1)) > 50).mean(), o[:, 10:13].mean()]
want, tol = [10, 0.5 / 1.2, 0.5 * 0.5 / 1.2 - 0.2, 0.0138, 0.05, 200], [0.1, 0.01, 0.01, 0.001, 0.002, 2]
print(got)
sys.exit(any(abs(g - w) > e for g, w, e in zip(got, want, tol)))
)PY");
    EXPECT_EQ(check.status, 0) << check.output;
}

}  // namespace
