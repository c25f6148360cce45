// Whole analyses run by the built program in a scratch directory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/cli.h"

namespace {

// Writes an xdisplay float run (name.hdr and name.bfloat) of nx x 1 x 1 voxels.
void write_run(const TempDir &dir, const std::string &name, const std::vector<std::vector<float>> &voxels) {
    const int nx = static_cast<int>(voxels.size()), nt = static_cast<int>(voxels[0].size());
    dir.write(name + ".hdr", "x " + std::to_string(nx) + "\ny 1\nz 1\nt " + std::to_string(nt) +
                                 "\nresolution 3 3 3 2\n");
    std::string bytes;
    for (int t = 0; t < nt; ++t)
        for (int x = 0; x < nx; ++x) bytes.append(reinterpret_cast<const char *>(&voxels[x][t]), sizeof(float));
    dir.write(name + ".bfloat", bytes);
}

std::vector<float> floats_of(const std::string &bytes, std::size_t offset) {
    std::vector<float> values((bytes.size() - offset) / sizeof(float));
    std::memcpy(values.data(), bytes.data() + offset, values.size() * sizeof(float));
    return values;
}

template <typename T>
T field(const std::string &bytes, std::size_t at) {
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof(T));
    return value;
}

TEST(Analysis, OlsStatisticsAgreeWithAnIndependentSolution) {
    TempDir tmp;
    const std::string dir = tmp.file("d");
    ASSERT_EQ(0, make_dataset(dir, "--nx 6 --ny 5 --nz 2 --volumes 60 --control-extra notify"));
    auto run = run_fmriglm("control.txt", dir);
    ASSERT_EQ(run.status, 0) << run.output;

    // numpy's least squares on the design listed in basis.dat, read with nibabel.
    const std::string script = tmp.write("check.py", R"PY(
import sys, numpy as np, nibabel as nib
from scipy import stats
d = sys.argv[1]
X = np.loadtxt(d + "/basis.dat", skiprows=1)[:, 1:]
Y = np.concatenate([np.asarray(nib.load(f"{d}/run{r}.nii").dataobj, dtype=np.float64).reshape(-1, 60, order="F").T
                    for r in (1, 2)])
n, p = X.shape
b, res, rank, _ = np.linalg.lstsq(X, Y, rcond=None)
dof = n - p
var = ((Y - X @ b) ** 2).sum(axis=0) / dof
xtxi = np.linalg.inv(X.T @ X)
worst = 0.0
for name, c in (("1", [1, 0]), ("2", [0, 1]), ("1-2", [1, -1])):
    k = np.zeros(p); k[:2] = c
    effect = k @ b
    se = np.sqrt(k @ xtxi @ k * var)
    t = effect / se
    P = -np.log10(2 * stats.t.sf(np.abs(t), dof)) * np.sign(t)
    ours_t = np.asarray(nib.load(f"{d}/T-{name}.nii").dataobj).reshape(-1, order="F")
    ours_p = np.asarray(nib.load(f"{d}/P-{name}.nii").dataobj).reshape(-1, order="F")
    ours_s = np.asarray(nib.load(f"{d}/S-{name}.nii").dataobj)
    ours_s = ours_s.reshape(-1, ours_s.shape[-1], order="F")
    # Effects are sums of float products of values near 1000, so their rounding
    # is measured against the standard error; the standard error itself is relative.
    worst = max(worst, np.max(np.abs(ours_t - t) / (1 + np.abs(t))),
                np.max(np.abs(ours_p - P) / (1 + np.abs(P))),
                np.max(np.abs(ours_s[:, 0] - effect) / (se + np.abs(effect))),
                np.max(np.abs(ours_s[:, 1] - se) / se) * 10)
avg = np.asarray(nib.load(f"{d}/average.nii").dataobj).reshape(-1, 3, order="F")
offsets = b[2:4].mean(axis=0)
worst = max(worst, np.max(np.abs(avg[:, 0] - offsets) / offsets), np.max(np.abs(avg[:, 1] - np.sqrt(var)) / np.sqrt(var)))
print(worst)
sys.exit(0 if worst < 3e-3 else 1)
)PY");
    const std::string command = "'" FMRIGLM_PYTHON "' '" + script + "' '" + dir + "' > '" + tmp.file("py.txt") + "' 2>&1";
    EXPECT_EQ(0, std::system(command.c_str())) << read_file(tmp.file("py.txt"));
}

TEST(Analysis, NiftiMapsCarryOffsetsExtensionAndDegreesOfFreedom) {
    TempDir tmp;
    const std::string dir = tmp.file("d");
    ASSERT_EQ(0, make_dataset(dir, "--nx 4 --ny 3 --nz 2 --volumes 62 --conditions 1-2"));
    auto run = run_fmriglm("control.txt -r", dir);
    ASSERT_EQ(run.status, 0) << run.output;
    const int V = 24, T = 124, dof = T - (2 + 2 * 3);

    const std::string s = read_file(dir + "/S-1-2.nii");
    EXPECT_EQ(field<float>(s, 108), 368.0f);
    EXPECT_EQ(std::string(s.substr(348, 4)), std::string("\1\0\0\0", 4));
    EXPECT_EQ(field<int>(s, 352), 16);
    EXPECT_EQ(field<int>(s, 356), 20);
    EXPECT_EQ(field<int>(s, 360), dof);
    EXPECT_EQ(s.size(), 368u + 2 * V * 4);

    const std::string p = read_file(dir + "/P-1-2.nii");
    EXPECT_EQ(field<float>(p, 108), 352.0f);
    EXPECT_EQ(std::string(p.substr(348, 4)), std::string(4, '\0'));
    EXPECT_EQ(p.size(), 352u + V * 4);

    const std::string r = read_file(dir + "/residue.nii");
    EXPECT_EQ(field<std::int16_t>(r, 70), 4);   // datatype: signed 16-bit
    EXPECT_EQ(field<std::int16_t>(r, 72), 16);  // bitpix
    EXPECT_EQ(field<std::int16_t>(r, 48), T);   // dim[4]
    EXPECT_EQ(r.size(), 352u + static_cast<std::size_t>(V) * T * 2);

    EXPECT_EQ(read_file(dir + "/.display"), "zep-display -t control.txt -S\n");
    tmp.write("d/.display", "mine\n");  // a file of the user is kept
    ASSERT_EQ(run_fmriglm("control.txt", dir).status, 0);
    EXPECT_EQ(read_file(dir + "/.display"), "mine\n");
}

TEST(Analysis, XdisplayNamesPercentChangeAndDivisor) {
    TempDir tmp;
    const std::string dir = tmp.file("d");
    ASSERT_EQ(0, make_dataset(dir, "--nx 4 --ny 2 --nz 1 --volumes 40 --conditions 1-2 "
                                   "--control-extra 'output-format zep'"));
    ASSERT_EQ(run_fmriglm("control.txt", dir).status, 0);
    for (const char *name : {"P-1-2", "T-1-2", "S-1-2", "average"}) {
        EXPECT_FALSE(read_file(dir + "/" + name + ".hdr").empty()) << name;
        EXPECT_FALSE(read_file(dir + "/" + name + ".bfloat").empty()) << name;
    }
    const std::vector<float> plain = floats_of(read_file(dir + "/S-1-2.bfloat"), 0);
    const std::vector<float> average = floats_of(read_file(dir + "/average.bfloat"), 0);
    ASSERT_EQ(plain.size(), 16u);  // effect and standard error of 8 voxels
    EXPECT_NE(read_file(dir + "/S-1-2.hdr").find("t 2\n"), std::string::npos);

    ASSERT_EQ(run_fmriglm("control.txt -p -d 10", dir).status, 0);
    const std::vector<float> scaled = floats_of(read_file(dir + "/S-1-2.bfloat"), 0);
    for (int i = 0; i < 16; ++i) {
        const float expected = plain[i] * (100.0f / std::fabs(average[i % 8])) / 10.0f;
        EXPECT_NEAR(scaled[i], expected, 1e-5f * std::fabs(expected)) << i;
    }
}

// Under AR the residue is data minus the fitted model (its time mean is near
// 0, not minus the baseline), and with a before-fit band the baseline is the
// level of the voxel's own unfiltered series.
TEST(Analysis, ArResidueAndFilteredBaselineFollowTheVoxelsOwnData) {
    TempDir d;
    ASSERT_EQ(0, make_dataset(d.path(), "--nx 4 --ny 3 --nz 2 --runs 1 --volumes 80 --conditions 1 --control-extra 'AR 1' "
                                        "--control-extra 'frequency-filter 0 0.2'"));
    ASSERT_EQ(run_fmriglm("control.txt -R x", d.path()).status, 0);
    const std::string script = d.write("check.py", R"PY(
import sys, numpy as np, nibabel as nib
d = sys.argv[1]
y = np.asarray(nib.load(d + "/run1.nii").dataobj, dtype=np.float64).reshape(-1, 80, order="F")
r = np.asarray(nib.load(d + "/residue.nii").dataobj, dtype=np.float64).reshape(-1, 80, order="F")
avg = np.asarray(nib.load(d + "/average.nii").dataobj).reshape(-1, 3, order="F")
bad = np.abs(avg[:, 0] / y.mean(1) - 1) > 0.01
bad |= np.abs(r.mean(1)) > 0.5 * avg[:, 1]
print(bad.sum())
sys.exit(1 if bad.any() else 0)
)PY");
    const ProgramResult check = run_command("'" FMRIGLM_PYTHON "' '" + script + "' '" + d.path() + "'");
    EXPECT_EQ(check.status, 0) << check.output;
}

// On noise without effect, the share of voxels with p < 0.05 and with p < 0.001
// lies inside the 99.9 % interval of the binomial distribution around alpha.
TEST(Analysis, FalsePositiveRatesAreNominal) {
    const char *const cases[][2] = {{"--ar 0 --seed 21", "noise-model OLS"},
                                    {"--ar 0.4 --exclude 20-22 --exclude 70-74 --seed 22", "AR 1"},
                                    {"--ar 0 --seed 23", "noise-model iWLS"},
                                    {"--ar 0 --outliers 0.05 --seed 26", "noise-model iWLS"},
                                    {"--ar 0 --seed 24", "frequency-filter 0 0.2"},
                                    {"--ar 0 --seed 25", "frequency-filter 0.05 1000"}};
    for (const auto &[noise, model] : cases) {
        TempDir d;
        ASSERT_EQ(0, make_dataset(d.path(), std::string("--nx 20 --ny 20 --nz 10 --runs 1 --volumes 120 --drift 0 "
                                                        "--amplitude 0 --conditions 1 --control-extra 'baseline-terms 2' "
                                                        "--control-extra '") + model + "' " + noise));
        ASSERT_EQ(run_fmriglm("control.txt", d.path()).status, 0) << model;
        const ProgramResult rates = run_command("'" FMRIGLM_CALIBRATION_RATES "' " + d / "regions.txt" + " " +
                                                d / "P-1.nii" + " 1");
        EXPECT_EQ(rates.status, 0) << model << " on " << noise << ": " << rates.output;
    }
}

TEST(Analysis, ResidueWithoutConditionsTruncatesTowardZero) {
    TempDir dir;
    std::vector<float> low(10, 100.0f), high(10, 1000.0f);
    low[0] = 97.3f, low[1] = 102.7f;
    high[0] = 1005.5f, high[1] = 994.5f;
    write_run(dir, "run", {low, high});
    dir.write("run.glm", "2\n");
    dir.write("ctl.glm", "baseline-terms 1\noutput-format zep\nruns:\nrun.bfloat run.glm\n");

    auto plain = run_fmriglm("ctl.glm -r", dir.path());
    ASSERT_EQ(plain.status, 0) << plain.output;
    EXPECT_NE(plain.output.find("*** Warning: no test conditions are defined, and no filter set for residue output ...?\n"),
              std::string::npos);
    EXPECT_FALSE(read_file(dir.file("average.bfloat")).empty());
    std::string residue = read_file(dir.file("residue.bshort"));
    ASSERT_EQ(residue.size(), 2u * 10 * 2);
    EXPECT_EQ(field<std::int16_t>(residue, 0), -2);  // voxel 0, time 0: -2.7
    EXPECT_EQ(field<std::int16_t>(residue, 4), 2);   // voxel 0, time 1: 2.7
    EXPECT_EQ(field<std::int16_t>(residue, 2), 5);   // voxel 1, time 0: 5.5

    ASSERT_EQ(run_fmriglm("ctl.glm -r -p", dir.path()).status, 0);
    residue = read_file(dir.file("residue.bshort"));
    EXPECT_EQ(field<std::int16_t>(residue, 2), 55);   // 5.5 on a baseline of 1000, in 0.01 percent
    EXPECT_EQ(field<std::int16_t>(residue, 6), -55);
    EXPECT_EQ(field<std::int16_t>(residue, 0), -269);  // -2.7 on 100: just below 270 in float

    ASSERT_EQ(run_fmriglm("ctl.glm -R x", dir.path()).status, 0);
    const std::vector<float> floats = floats_of(read_file(dir.file("residue.bfloat")), 0);
    ASSERT_EQ(floats.size(), 20u);
    EXPECT_NEAR(floats[0], -2.7f, 1e-4f);
    EXPECT_NEAR(floats[3], -5.5f, 1e-4f);
}

}  // namespace
