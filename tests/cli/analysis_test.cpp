// Whole analyses run by the built program in a scratch directory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/runs.h"

namespace {

template <typename T>
T field(const std::string &bytes, std::size_t at) {
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof(T));
    return value;
}

TEST(Analysis, OlsStatisticsAgreeWithAnIndependentSolution) {
    TempDir tmp;
    const std::string dir = tmp.file("d");
    ASSERT_EQ(0, make_dataset(dir, "--nx 6 --ny 5 --nz 2 --volumes 60 --exclude 20-22 --control-extra notify"));
    auto run = run_fmriglm("control.txt", dir);
    ASSERT_EQ(run.status, 0) << run.output;

    // numpy's least squares on the design listed in basis.dat without the
    // excluded points 20-22 of each run, read with nibabel.
    const ProgramResult py = run_python(R"PY(
import sys, numpy as np, nibabel as nib
from scipy import stats
d = sys.argv[1]
keep = np.tile(~np.isin(np.arange(60), [20, 21, 22]), 2)
X = np.loadtxt(d + "/basis.dat", skiprows=1)[:, 1:][keep]
Y = np.concatenate([np.asarray(nib.load(f"{d}/run{r}.nii").dataobj, dtype=np.float64).reshape(-1, 60, order="F").T
                    for r in (1, 2)])[keep]
n, p = X.shape
b, res, rank, _ = np.linalg.lstsq(X, Y, rcond=None)
dof = n - p
var = ((Y - X @ b) ** 2).sum(axis=0) / dof
xtxi = np.linalg.inv(X.T @ X)
worst = 0.0
for name, c in (("1", [1, 0]), ("2", [0, 1]), ("1-2", [1, -1]), ("1,2", None)):
    K = np.eye(p)[:2] if c is None else np.array([c + [0] * (p - 2)])
    e = K @ b  # S: the effect of largest magnitude and its error; T and P: of t, or of F for two rows
    j = np.abs(e).argmax(axis=0)
    effect, se = e[j, np.arange(e.shape[1])], np.sqrt(np.diag(K @ xtxi @ K.T)[j] * var)
    F = np.einsum("iv,ij,jv->v", e, np.linalg.inv(K @ xtxi @ K.T), e) / len(K) / var
    t, P = np.sqrt(F) * np.sign(effect), -np.log10(stats.f.sf(F, len(K), dof)) * np.sign(effect)
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
sigma = np.sqrt(var)  # average.nii: baseline, sigma, baseline / sigma
worst = max(worst, *(np.max(np.abs(avg[:, k] - want) / want) for k, want in enumerate((offsets, sigma, offsets / sigma))))
print(worst)
sys.exit(0 if worst < 3e-3 else 1)
)PY", "'" + dir + "'");
    EXPECT_EQ(py.status, 0) << py.output;
}

TEST(Analysis, LongNiftiSeriesKeepTheirGeometryAndScaling) {
#ifdef FMRIGLM_SANITIZED
    // The sanitizer reserves far more address space than any useful limit: no
    // limit, and a shorter series (the design's AR set-up grows with its square).
    const char *limit = "0", *volumes = "600";
#else
    // A block buffer of 50000 voxels x 3000 points alone takes 600 MB.
    const char *limit = "600000000", *volumes = "3000";
#endif
    TempDir tmp;
    const std::string f = tmp.file("f"), i = tmp.file("i");
    ASSERT_EQ(0, make_dataset(f, std::string("--nx 5 --ny 4 --nz 6 --runs 1 --conditions 1-2 --control-extra 'AR 1' "
                                             "--volumes ") + volumes));
    // f gets float data on an oblique, axis-permuted grid with a qform and an sform of its own; i the same
    // values stored as int16 with scl_slope 0.25 and scl_inter 400. Both are analysed under an address
    // space limit; every map must carry the input's header geometry and units, and both must agree.
    const ProgramResult py = run_python(R"PY(
import sys, shutil, subprocess, resource, numpy as np, nibabel as nib
exe, f, i, limit = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
shutil.copytree(f, i)
src = nib.load(f + "/run1.nii")
stored = np.round((np.asarray(src.dataobj) - 400) * 4)
c, s = np.cos(0.4), np.sin(0.4)
q = np.array([[0, 0, 3.5, -40], [3 * c, -3 * s, 0, 12], [3 * s, 3 * c, 0, -7], [0, 0, 0, 1]])
for d, data in ((f, (stored / 4 + 400).astype(np.float32)), (i, stored.astype(np.int16))):
    img = nib.Nifti1Image(data, None, src.header)
    img.set_qform(q, 1)
    img.set_sform(q + 0.5, 2)
    nib.save(img, d + "/run1.nii")
with open(i + "/run1.nii", "r+b") as out:
    out.seek(112)
    out.write(np.array([0.25, 400], "<f4").tobytes())
for d in (f, i):
    cap = (lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit))) if limit else None
    run = subprocess.run([exe, "control.txt", "-R", "x"], cwd=d, capture_output=True, preexec_fn=cap)
    # 120 voxels: the progress lines end at the share of the last voxel.
    out = run.stdout + run.stderr
    assert run.returncode == 0 and b"\rComputing 1 AR map, 99 percent done\n" in out, out
    assert b"\r 99 percent done\n" in out, out
ref = nib.load(f + "/run1.nii").header
keys = "qform_code sform_code quatern_b quatern_c quatern_d qoffset_x qoffset_y qoffset_z srow_x srow_y srow_z pixdim"
for name in ("average", "P-1-2", "T-1-2", "S-1-2", "AR", "residue"):
    a, b = nib.load(f"{f}/{name}.nii"), nib.load(f"{i}/{name}.nii")
    for h in (a.header, b.header):
        assert all((h[k] == ref[k]).all() for k in keys.split() + ["xyzt_units"]), name
        assert np.allclose(h.get_qform(), ref.get_qform()) and np.allclose(h.get_sform(), ref.get_sform()), name
    x, y = np.asarray(a.dataobj), np.asarray(b.dataobj)
    assert np.allclose(x, y, rtol=1e-5, atol=1e-5 * np.abs(x).max()), name
)PY", "'" FMRIGLM_EXE "' '" + f + "' '" + i + "' " + limit);
    EXPECT_EQ(py.status, 0) << py.output;
}

TEST(Analysis, XdisplayNamesPercentChangeAndDivisor) {
    TempDir tmp;
    const std::string dir = tmp.file("d");
    ASSERT_EQ(0, make_dataset(dir, "--nx 4 --ny 2 --nz 1 --volumes 40 --conditions 1-2 "
                                   "--control-extra 'output-format zep'"));
    ASSERT_EQ(run_fmriglm("control.txt", dir).status, 0);
    EXPECT_EQ(read_file(dir + "/.display"), "zep-display -t control.txt -S\n");
    tmp.write("d/.display", "mine\n");  // a file of the user is kept
    for (const char *name : {"P-1-2", "T-1-2", "S-1-2", "average"}) {
        EXPECT_FALSE(read_file(dir + "/" + name + ".hdr").empty()) << name;
        EXPECT_FALSE(read_file(dir + "/" + name + ".bfloat").empty()) << name;
    }
    const std::vector<float> plain = floats_of(read_file(dir + "/S-1-2.bfloat"));
    const std::vector<float> average = floats_of(read_file(dir + "/average.bfloat"));
    ASSERT_EQ(plain.size(), 16u);  // effect and standard error of 8 voxels
    EXPECT_NE(read_file(dir + "/S-1-2.hdr").find("t 2\n"), std::string::npos);

    ASSERT_EQ(run_fmriglm("control.txt -p -d 10", dir).status, 0);
    EXPECT_EQ(read_file(dir + "/.display"), "mine\n");
    const std::vector<float> scaled = floats_of(read_file(dir + "/S-1-2.bfloat"));
    for (int i = 0; i < 16; ++i) {
        const float expected = plain[i] * (100.0f / std::fabs(average[i % 8])) / 10.0f;
        EXPECT_NEAR(scaled[i], expected, 1e-5f * std::fabs(expected)) << i;
    }
    std::filesystem::remove(dir + "/T-1-2.bfloat");  // a map that cannot take its name fails the run
    std::filesystem::create_directory(dir + "/T-1-2.bfloat");
    const ProgramResult failed = run_fmriglm("control.txt", dir);
    EXPECT_TRUE(failed.status == 1 && failed.output.ends_with("Error writing output files.\n")) << failed.output;
}

TEST(Analysis, GzipRunsGiveTheMapsOfTheirUncompressedTwins) {
    TempDir tmp;
    const std::string a = tmp.file("a"), b = tmp.file("b");
    ASSERT_EQ(0, make_dataset(a, "--nx 6 --ny 5 --nz 4 --volumes 40 --control-extra 'AR 1' --control-extra normalize-IRON"));
    const std::string zip = "cp -r '" + a + "' '" + b + "' && cd '" + b +
                            "' && gzip run1.nii run2.nii && sed -i 's/[.]nii /.nii.gz /' control.txt";
    ASSERT_EQ(0, std::system(zip.c_str()));
    for (const std::string &d : {a, b}) ASSERT_EQ(run_fmriglm("control.txt -R x", d).status, 0);
    for (const char *name : {"average", "P-1-2", "T-2", "S-1", "AR", "residue"}) {
        const std::string plain = read_file(a + "/" + name + ".nii");
        EXPECT_TRUE(!plain.empty() && plain == read_file(b + "/" + name + ".nii")) << name;
    }
    for (const auto &entry : std::filesystem::directory_iterator(b))  // no uncompressed copy is left
        EXPECT_EQ(entry.path().filename().string().find("fmriglm-"), std::string::npos) << entry.path();
}

// A failed write, a kill in the voxel loop and a directory that takes no files
// leave nothing under the results' names and no temporary file.
TEST(Analysis, OutputsAreWholeOrAbsent) {
    TempDir tmp;
    const std::string dir = tmp.file("d");
    ASSERT_EQ(0, make_dataset(dir, "--nx 16 --ny 16 --nz 8 --volumes 120 --control-extra 'noise-model iWLS'"));
    const ProgramResult py = run_python(R"PY(
import os, re, resource, signal, subprocess, sys
exe, d, ctl = sys.argv[1:4]
inputs, cmd = sorted(os.listdir(d)), [exe, "control.txt", "-R", "x"]
cap = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))  # the residue passes it
r = subprocess.run(cmd, cwd=d, capture_output=True, preexec_fn=cap)
assert r.returncode == 1 and r.stdout.endswith(b"Error writing the fMRI output file.\n"), r
assert sorted(os.listdir(d)) == inputs, os.listdir(d)
p, out = subprocess.Popen(cmd, cwd=d, stdout=subprocess.PIPE), b""
while b"percent done" not in out:
    out += p.stdout.read1(4096)
    assert p.poll() is None, out
p.send_signal(signal.SIGTERM)
assert p.wait() == -signal.SIGTERM and sorted(os.listdir(d)) == inputs, os.listdir(d)
open(ctl, "w").write(re.sub(r"\brun(\d)[.]", d + r"/run\1.", open(d + "/control.txt").read()))
r = subprocess.run([exe, ctl], cwd="/proc", capture_output=True)
assert r.returncode == 1 and b"Analyzing" not in r.stdout, r
assert b"Error: cannot create files in the current directory" in r.stdout, r
)PY", "'" FMRIGLM_EXE "' '" + dir + "' '" + tmp.file("abs.txt") + "'");
    EXPECT_EQ(py.status, 0) << py.output;
}

// Under AR the residue is data minus the fitted model (its time mean is near
// 0, not minus the baseline), and with a before-fit band the baseline is the
// level of the voxel's own unfiltered series.
TEST(Analysis, ArResidueAndFilteredBaselineFollowTheVoxelsOwnData) {
    TempDir d;
    ASSERT_EQ(0, make_dataset(d.path(), "--nx 4 --ny 3 --nz 2 --runs 1 --volumes 80 --conditions 1 --control-extra 'AR 1' "
                                        "--control-extra 'frequency-filter 0 0.2'"));
    ASSERT_EQ(run_fmriglm("control.txt -R x", d.path()).status, 0);
    const ProgramResult py = run_python(R"PY(
import sys, numpy as np, nibabel as nib
d = sys.argv[1]
y = np.asarray(nib.load(d + "/run1.nii").dataobj, dtype=np.float64).reshape(-1, 80, order="F")
r = np.asarray(nib.load(d + "/residue.nii").dataobj, dtype=np.float64).reshape(-1, 80, order="F")
avg = np.asarray(nib.load(d + "/average.nii").dataobj).reshape(-1, 3, order="F")
bad = np.abs(avg[:, 0] / y.mean(1) - 1) > 0.01
bad |= np.abs(r.mean(1)) > 0.5 * avg[:, 1]
print(bad.sum())
sys.exit(1 if bad.any() else 0)
)PY", "'" + d.path() + "'");
    EXPECT_EQ(py.status, 0) << py.output;
}

// The p maps of AR fits take the degrees of freedom (one row) or the F scale
// and DOF (Kenward-Roger, two rows) that allow for the estimated AR
// coefficients: here from a dense GLS fit restarted on each block of included
// points, derivatives of its covariance by central differences and Bartlett's
// covariance of the autocorrelation estimates.
TEST(Analysis, ArTestsAllowForTheEstimatedCoefficients) {
    for (const char *order : {"AR 1", "AR 2"}) {
        TempDir d;
        ASSERT_EQ(0, make_dataset(d.path(), std::string("--nx 3 --ny 2 --nz 1 --volumes 60 --exclude 20-22 --ar 0.4 "
                                                        "--control-extra '") + order + "'"));
        ASSERT_EQ(run_fmriglm("control.txt -v", d.path()).status, 0);
        const ProgramResult check = run_command("'" FMRIGLM_PYTHON "' '" + d.write("check.py", R"PY(
import sys, numpy as np, nibabel as nib
from scipy import stats
from scipy.linalg import toeplitz
d = sys.argv[1]
Y = np.concatenate([np.asarray(nib.load(f"{d}/run{r}.nii").dataobj, float).reshape(-1, 60, order="F") for r in (1, 2)], 1)
X = np.loadtxt(f"{d}/basis.dat", skiprows=1)[:, 1:]
rho = np.asarray(nib.load(f"{d}/AR.nii").dataobj, float).reshape(len(Y), -1, order="F")
T, nb = X.shape
inc = np.ones(T, bool); inc[[20, 21, 22, 80, 81, 82]] = False
dof = inc.sum() - nb
idx = np.flatnonzero(inc); blocks = np.split(idx, np.flatnonzero(np.diff(idx) > 1) + 1)
def acf(r, m):  # autocorrelations 0 .. m-1 of the AR(q) process with rho_1..q = r
    q = len(r); phi = np.linalg.solve(toeplitz(np.r_[1, r[:-1]]), r); c = list(np.r_[1, r])
    while len(c) < m: c.append(phi @ c[-1:-q - 1:-1])
    return np.array(c[:m])
def fit(r, y):
    Li = [np.linalg.inv(np.linalg.cholesky(toeplitz(acf(r, len(b))))) for b in blocks]
    Xw, yw = np.vstack([L @ X[b] for L, b in zip(Li, blocks)]), np.concatenate([L @ y[b] for L, b in zip(Li, blocks)])
    A = np.linalg.inv(Xw.T @ Xw); beta = A @ Xw.T @ yw
    return beta, np.sum((yw - Xw @ beta) ** 2) / dof * A
def bartlett(r, n):
    c = acf(r, 400); k = np.arange(1, 300)
    g = [c[k + i] + c[np.abs(k - i)] - 2 * c[i] * c[k] for i in range(1, len(r) + 1)]
    return np.array([[a @ b for b in g] for a in g]) / n
worst = 0
for name, L in {"1": [[1, 0]], "1-2": [[1, -1]], "1,2": [[1, 0], [0, 1]]}.items():
    L = np.c_[np.array(L, float), np.zeros((len(L), nb - 2))]; l = len(L)
    P = np.abs(np.asarray(nib.load(f"{d}/P-{name}.nii").dataobj, float).ravel(order="F"))
    for v in range(len(Y)):
        r = rho[v]; beta, Phi = fit(r, Y[v]); Wr = bartlett(r, inc.sum())
        Th = L.T @ np.linalg.inv(L @ Phi @ L.T) @ L
        M = [Th @ (fit(r + 1e-6 * e, Y[v])[1] - fit(r - 1e-6 * e, Y[v])[1]) / 2e-6 for e in np.eye(len(r))]
        A1 = 2 * l * l / dof + sum(Wr[i, j] * np.trace(M[i]) * np.trace(M[j]) for i in range(len(r)) for j in range(len(r)))
        A2 = 2 * l / dof + sum(Wr[i, j] * np.trace(M[i] @ M[j]) for i in range(len(r)) for j in range(len(r)))
        m, lam = min(dof, 2 / A1), 1.0
        if l > 1:
            B, g = (A1 + 6 * A2) / (2 * l), ((l + 1) * A1 - (l + 4) * A2) / ((l + 2) * A2)
            c1, c2, c3 = np.array([g, l - g, l + 2 - g]) / (3 * l + 2 * (1 - g))
            E = 1 / (1 - A2 / l); V = 2 / l * (1 + c1 * B) / ((1 - c2 * B) ** 2 * (1 - c3 * B))
            m = min(dof, 4 + (l + 2) / (l * V / (2 * E * E) - 1)); lam = m / (E * (m - 2))
        F = beta @ Th @ beta / l
        expect = -np.log10(stats.f.sf(lam * F, l, m)); worst = max(worst, abs(P[v] - expect) / expect)
print(worst)
sys.exit(int(worst > 2e-4))
)PY") + "' '" + d.path() + "'");
        EXPECT_EQ(check.status, 0) << order << ": " << check.output;
    }
}

// On noise without effect, the share of voxels with p < 0.05 and with p < 0.001
// lies inside the 99.9 % interval of the binomial distribution around alpha.
TEST(Analysis, FalsePositiveRatesAreNominal) {
    const char *const cases[][2] = {{"--ar 0 --seed 21", "noise-model OLS"},
                                    {"--ar 0.4 --exclude 20-22 --exclude 70-74 --seed 22", "AR 1"},
                                    {"--ar 0.4 --volumes 60 --seed 28", "AR 2"},  // liberal if AR estimates were exact
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

// Maps and residues do not depend on the number of threads, under every noise
// model and filter, nor on the blocks of voxels (OLS and AR 1 on two blocks
// with -s: the second is read while the first is fitted; then on one block).
TEST(Analysis, MapsAreTheSameOnAnyNumberOfThreads) {
    TempDir d;
    for (const char *size : {"--nx 20 --ny 20 --nz 13", "--nx 10 --ny 8 --nz 6"}) {
        ASSERT_EQ(0, make_dataset(d.path(), std::string(size) + " --volumes 40 --exclude 8-10"));
        const std::string control = read_file(d / "control.txt"), runs = control.substr(control.find("runs:"));
        const bool blocks = size[5] == '2';
        for (const char *model : {"noise-model OLS", "AR 1", "AR 2", "noise-model iWLS", "noise-model iWLS\nAR 1",
                                  "frequency-filter 0 0.2", "AR 1\nfrequency-filter 0.02 1000", "noise-model fPET",
                                  "noise-model iWLS\nfrequency-filter 0 0.1"}) {
            if (blocks != (std::string(model) == "noise-model OLS" || std::string(model) == "AR 1")) continue;
            d.write("c.glm", control.substr(0, control.find("runs:")) + model + "\n" + runs);
            std::map<std::string, std::string> maps[4];
            for (int j = 0; j < (blocks ? 4 : 3); ++j) {  // a small set is one block either way
#ifdef FMRIGLM_SANITIZED  // there 1 and 3 threads exercise the per-thread contexts
                if (j == 1 && !blocks) { maps[1] = maps[0]; continue; }
#endif
                const std::string options = j < 3 ? "-s -R x -j " + std::to_string(j + 1) : "-R x";
                const ProgramResult run = run_fmriglm("c.glm " + options, d.path());
                ASSERT_EQ(run.status, 0) << model;
                // The band, set aside while the iWLS tests are calibrated, filters the data.
                EXPECT_EQ(run.output.find(" before GLM\n") != std::string::npos, std::strstr(model, "frequency-filter") != nullptr);
                for (const auto &f : std::filesystem::directory_iterator(d.path()))
                    if (f.path().extension() == ".nii" && f.path().filename().string().rfind("run", 0) != 0)
                        maps[j][f.path().filename()] = read_file(f.path());
            }
            EXPECT_TRUE(maps[0].size() >= 14 && maps[0] == maps[1] && maps[0] == maps[2] && (!blocks || maps[0] == maps[3]))
                << model;
        }
    }
}

TEST(Analysis, ResidueWithoutConditionsTruncatesTowardZero) {
    TempDir dir;
    std::vector<float> samples(20, 100.0f);  // voxel 0 near 100, voxel 1 near 1000
    for (int t = 0; t < 10; ++t) samples[2 * t + 1] = 1000.0f;
    samples[0] = 97.3f, samples[2] = 102.7f, samples[1] = 1005.5f, samples[3] = 994.5f;
    write_xdisplay_run(dir, "run.bfloat", {2, 1, 1, 10}, sample_bytes<float>(samples));
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
    const std::vector<float> floats = floats_of(read_file(dir.file("residue.bfloat")));
    ASSERT_EQ(floats.size(), 20u);
    EXPECT_NEAR(floats[0], -2.7f, 1e-4f);
    EXPECT_NEAR(floats[3], -5.5f, 1e-4f);

    samples[5] = 41000.0f, samples[7] = -39000.0f;  // residues of voxel 1 beyond 16 bits at times 2 and 3
    write_xdisplay_run(dir, "run.bfloat", {2, 1, 1, 10}, sample_bytes<float>(samples));
    ASSERT_EQ(run_fmriglm("ctl.glm -r", dir.path()).status, 0);
    residue = read_file(dir.file("residue.bshort"));
    EXPECT_EQ(field<std::int16_t>(residue, 10) * 65536 + field<std::int16_t>(residue, 14), 32767 * 65536 - 32768);
}

}  // namespace

TEST(Analysis, BrainMasksLeaveBackgroundOutAndZMapsCarryIntents) {
    TempDir tmp;
    // Two data sets equal inside an ellipsoidal brain, outside it 5 % and 0 of the signal.
    const ProgramResult py = run_python(R"PY(
import sys, os, glob, shutil, subprocess, numpy as np, nibabel as nib
from scipy import stats
exe, gen, d = sys.argv[1:]
def load(f): return np.asarray(nib.load(f).dataobj)
def run(data, extra, out, status=0):
    with open(f"{d}/{data}/control.txt") as f: ctl = f.read()
    open(f"{d}/{data}/c.txt", "w").write(ctl.replace("conditions", extra + "\nconditions"))
    r = subprocess.run([exe, "c.txt", "-R", "x"], cwd=f"{d}/{data}", capture_output=True, text=True)
    assert r.returncode == status, r.stdout
    os.makedirs(f"{d}/{out}")
    for f in glob.glob(f"{d}/{data}/[A-Zamr]*.nii"):
        if "run" not in f: shutil.move(f, f"{d}/{out}/")
    return {os.path.basename(f): load(f) for f in glob.glob(f"{d}/{out}/*.nii")}, r.stdout
for bg in ("0.05", "0"):
    subprocess.run([gen, "--dir", f"{d}/{bg}", "--nx", "8", "--ny", "8", "--nz", "4", "--volumes", "60",
                    "--background", bg, "--conditions", "1 1-2 1,2"], check=True, capture_output=True)
plain, _ = run("0.05", "z-maps", "plain")
auto, _ = run("0.05", "z-maps\nmask auto", "auto")
mask = auto.pop("mask.nii")[..., 0] == 1
assert (mask == (load(f"{d}/0/run1.nii").mean(-1) > 500)).all() and 0 < mask.sum() < mask.size
for name, a in plain.items():  # outside the mask 0, inside the unmasked values exactly
    assert np.array_equal(auto[name], np.where(mask.reshape(mask.shape + (1,) * (a.ndim - 3)), a, 0)), name
hdr = {n: nib.load(f"{d}/auto/{n}.nii").header for n in ("T-1", "T-1,2", "Z-1", "Z-1,2", "P-1")}
assert [(h["intent_code"], h["intent_p1"]) for h in hdr.values()] == [(3, 112), (0, 0), (5, 0), (5, 0), (0, 0)]
t = auto["T-1.nii"]
assert np.allclose(auto["Z-1.nii"], np.sign(t) * stats.norm.isf(stats.t.sf(abs(t), 112)), atol=1e-4)
nib.save(nib.Nifti1Image(mask.astype(np.uint8), None), f"{d}/brain.nii")
one, _ = run("0.05", "AR 1 6\nmask ../brain.nii\nreport", "one")
assert f'Mask</th><td class="l">../brain.nii: {mask.sum()} of 256 voxels analysed<' in open(f"{d}/0.05/report.html").read()
other, _ = run("0", "AR 1 6\nmask ../brain.nii", "other")
for name in one:  # the background never enters, not even through the AR maps
    assert np.array_equal(one[name], other[name]), name
assert (one["AR.nii"][~mask] == 0).all() and (one["AR.nii"][mask] != 0).all()
assert (run("0", "mask auto", "zero")[0]["mask.nii"][..., 0] == mask).all()
nib.save(nib.Nifti1Image(np.ones((8, 8, 3), np.int16), None), f"{d}/small.nii")
out = run("0", "mask ../small.nii", "small", 1)[1]
assert "Error: the mask ../small.nii has dimensions (8,8,3), but the runs have (8,8,4).\n" in out, out
)PY", "'" FMRIGLM_EXE "' '" FMRIGLM_MAKE_DATASET "' '" + tmp.path() + "'");
    EXPECT_EQ(py.status, 0) << py.output;
}
