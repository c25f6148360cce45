// The synthetic data set generator: its files, and the signal and noise in them, checked with nibabel and numpy.
#include <gtest/gtest.h>

#include <string>

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
    // Without noise and drift: 1000 outside the regions, a 3 percent peak inside; event 2 starts at 60 s, so
    // its region is still at baseline at 50 s (volume 20) while event 1's is well up at 30 s (volume 12).
    const ProgramResult check = run_command("'" FMRIGLM_PYTHON "' - '" + dir + "'", R"PY(
import sys, numpy as np, nibabel as nib
i = nib.load(f"{sys.argv[1]}/run1.nii")
d = np.concatenate([i.get_fdata(), nib.load(f"{sys.argv[1]}/run2.nii").get_fdata()], axis=3)
assert i.shape == (6, 4, 2, 40) and i.header.get_zooms()[3] == 2.5 and i.header["qform_code"] == 1
first, second = d[0, 1, 0], d[5, 2, 0]
assert (d[2, 2, 1] == 1000).all() and abs(first.max() - 1030) < 1e-3 and abs(second.max() - 1030) < 1e-3
assert second[20] == 1000 and first[12] > 1010, (second[20], first[12])
)PY");
    EXPECT_EQ(check.status, 0) << check.output;
}

// 4000 voxels of 100 points per law: AR(2) autocorrelations, Student-t tails
// (P(|t3| > 3 sqrt 3) = 0.0138 against 0.0027 for a Gaussian), the outlier
// share, and the artifact of the excluded points that the event file lists.
// The seed alone decides the noise.
TEST(MakeDataset, NoiseFollowsTheRequestedLawAndTheSeed) {
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
    const std::string small = "--nx 4 --ny 4 --nz 2 --runs 1 --volumes 35 --seed ";
    for (const char *seed : {"5", "6"}) ASSERT_EQ(0, make_dataset(tmp / seed, small + seed));
    ASSERT_EQ(0, make_dataset(tmp / "again", small + "5"));
    EXPECT_EQ(read_file(tmp / "5/run1.nii"), read_file(tmp / "again/run1.nii"));
    EXPECT_NE(read_file(tmp / "5/run1.nii"), read_file(tmp / "6/run1.nii"));
    EXPECT_NE(0, make_dataset(tmp / "e", "--volumes 30 --tr 2"));  // too short for both events
}

}  // namespace
