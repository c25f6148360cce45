// The synthetic data set generator: the noise in its runs, checked with nibabel and numpy (its files and
// signal are used by every analysis test).
#include <gtest/gtest.h>

#include <string>

#include "support/cli.h"

namespace {

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
