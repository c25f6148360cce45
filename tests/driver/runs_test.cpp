// Run set-up and block reading on small image files written by the tests.
#include <gtest/gtest.h>
#include <nifti1.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/runs.h"
#include "support/cli.h"
#include "support/runs.h"

namespace {

std::vector<double> ramp(int count, double start, double step = 1.0) {
    std::vector<double> v(count);
    for (int i = 0; i < count; ++i) v[i] = start + step * i;
    return v;
}

// Makes the files the runs of a model with TR 2 s and sets them up; the
// printed output goes to *out.
int start_runs(const std::vector<std::string> &files, std::string *out, int *total, int normalize = 0, int resels = 0) {
    GLM_reset_model_state();
    GLM_input.normalize = normalize, GLM_input.multiple_comparisons = resels;
    GLM_input.nruns = GLM.nruns = static_cast<int>(files.size());
    for (size_t r = 0; r < files.size(); ++r) {
        std::snprintf(GLM_input.fmri_file[r], NAME_SIZE, "%s", files[r].c_str());
        GLM.tr[r] = 2.0f;
    }
    build_run_list();
    BLOCK_SIZE = 50000;
    int result = -1;
    *out = stdout_of([&] { result = initialize_runs(total); });
    return result;
}

const RunSize k2x2x1x3 = {2, 2, 1, 3}, k2x2x2x2 = {2, 2, 2, 2};

TEST(RunSetup, BoldAndIronMultipliersFollowTheRunMeans) {
    TempDir dir;
    // Means 100 and 300, from samples that vary over voxels and volumes.
    const std::string a = write_xdisplay_run(dir, "a.bfloat", k2x2x1x3, sample_bytes<float>(ramp(12, 94.5)));
    const std::string b = write_xdisplay_run(dir, "b.bshort", k2x2x1x3, sample_bytes<std::int16_t>(ramp(12, 289, 2)));
    const char *expected[] = {
        "Finding BOLD normalization factors assuming independent scaling factors per run:\n"
        "Run #1 multiplier = 2.000000\nRun #2 multiplier = 0.666667\n",
        "Finding IRON normalization factors assuming progressive blood decay of irox oxide:\n"
        "Run #1 multiplier = 0.500000\nRun #2 multiplier = 1.500000\n"};
    for (int mode : {1, 2}) {
        std::string out;
        int total = 0;
        ASSERT_EQ(0, start_runs({a, b}, &out, &total, mode));
        EXPECT_EQ(total, 6);
        EXPECT_NE(out.find(expected[mode - 1]), std::string::npos) << out;

        // Blocks carry the multipliers; read_volume gives the samples as stored.
        const float m0 = file_list_root.multiplier, m1 = file_list_root.next->multiplier;
        std::vector<float> block(4 * 6), volume(4);
        int n = 0;
        ASSERT_EQ(0, read_block_vector(block.data(), 0, &n));
        ASSERT_EQ(n, 4);
        EXPECT_EQ(block[1 * 4 + 2], (94.5f + 6.0f) * m0);
        EXPECT_EQ(block[4 * 4 + 3], static_cast<float>(289 + 2 * 7) * m1);
        ASSERT_EQ(0, read_volume(file_list_root.next, 1, volume.data()));
        EXPECT_EQ(volume[3], 289.0f + 2 * 7);
    }
    // One run: nothing to normalise, nothing printed about it.
    std::string out;
    int total = 0;
    ASSERT_EQ(0, start_runs({b}, &out, &total, 1));
    EXPECT_EQ(out.find("normalization"), std::string::npos) << out;
    EXPECT_EQ(file_list_root.multiplier, 1.0f);
}

TEST(RunSetup, ReportsTimeStepsAndMultipleComparisons) {
    TempDir dir;
    const std::string a = write_xdisplay_run(dir, "a.bfloat", k2x2x2x2, sample_bytes<float>(ramp(16, 1)),
                                           "origin 3 4 5\ndirection 1 -1 -1\n", "2.5");
    for (int mc : {0, 12, -3}) {
        std::string out;
        int total = 0;
        ASSERT_EQ(0, start_runs({a}, &out, &total, 0, mc));
        EXPECT_EQ(out, "Warning: file " + a + " has a time step (2.5) that differs from the GLM (2)\n"
                       "fMRI files: 1 runs of dimension (x,y,z) = (2,2,2) containing a total of 2 time points.\n" +
                           (mc == 0 ? std::string("Calculating raw pvalues without correction for multiple comparisons.\n")
                                    : "Using " + std::to_string(std::max(mc, 0)) +
                                          " resolution elements for multiple comparisons.\n"));
        EXPECT_EQ(resels, std::max(mc, 0));
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(file_list_root.origin[i] == 3 + i && file_list_root.direction[i] == (i ? -1 : 1));
    }
}

TEST(RunSetup, RefusesRunsThatCannotBeAnalysed) {
    TempDir dir;
    const RunSize wider = {3, 2, 2, 2};
    const std::string good = write_xdisplay_run(dir, "good.bfloat", k2x2x2x2, sample_bytes<float>(ramp(16, 1)));
    const std::string wide = write_xdisplay_run(dir, "wide.bfloat", wider, sample_bytes<float>(ramp(24, 1)));
    const std::string cut = write_xdisplay_run(dir, "cut.bfloat", k2x2x2x2, sample_bytes<float>(ramp(15, 1)));
    const std::string untyped = write_xdisplay_run(dir, "raw.dat", k2x2x2x2, sample_bytes<float>(ramp(16, 1)));
    const std::string zero = write_xdisplay_run(dir, "zero.bfloat", k2x2x2x2, sample_bytes<float>(std::vector<double>(16, 0.0)));
    const std::string complex = write_nifti_run(dir, "complex.nii", k2x2x2x2, NIFTI_TYPE_COMPLEX64, sample_bytes<float>(ramp(32, 1)));
    dir.write("fs.bhdr", "cols: 2\nrows: 2\nnslices: 2\nn_time_points: 2\nslice_thick: 1\ntop_left_r: 0\n"
                        "top_left_a: 0\ntop_left_s: 0\ntop_right_r: 2\ntop_right_a: 0\ntop_right_s: 0\n"
                        "bottom_right_r: 2\nbottom_right_a: 2\nbottom_right_s: 0\n");
    dir.write("fs_000.hdr", "2 2 2 1\n");
    dir.write("fs_000.bshort", sample_bytes<std::int16_t>(ramp(8, 1)));
    const std::string fs = dir.file("fs_");
    const std::string huge = write_xdisplay_run(dir, "huge.bfloat", {1, 1, 1, 1 << 30}, "");
    std::filesystem::resize_file(huge, 4LL << 30);  // sparse
    std::string header = read_file(write_nifti_run(dir, "nan.nii", k2x2x2x2, NIFTI_TYPE_FLOAT32, sample_bytes<float>(ramp(16, 1))));
    const float scaling[2] = {2.0f, NAN};  // scl_slope and an intercept that is not a number
    const std::string nan = dir.write("nan.nii", header.replace(112, 8, reinterpret_cast<const char *>(scaling), 8));
    // gzip-compressed runs: a cut one, one with a damaged checksum, and a name that is not .nii.gz.
    ASSERT_EQ(0, std::system(("gzip -k '" + complex + "' '" + good + "'").c_str()));
    std::string packed = read_file(complex + ".gz");
    const std::string zcut = dir.write("cut.nii.gz", packed.substr(0, packed.size() - 10));
    packed[packed.size() - 6] ^= 1;
    const std::string zbad = dir.write("bad.nii.gz", packed);
    const struct {
        std::vector<std::string> runs;
        int normalize;
        std::string message;
    } cases[] = {
        {{good, wide}, 0, "The dimensions of file " + wide + " (3,2,2) are not the same as for file " + good + " (2,2,2)\n"},
        {{good, cut}, 0, "Error: file " + cut + " holds 60 bytes, but its header describes 64 bytes.\n"},
        {{untyped}, 0, "Error: the samples of file " + untyped + " have a storage type (-1) that cannot be read.\n"},
        {{complex}, 0, "Error: file " + complex + " holds complex data"},
        {{fs}, 0, "Error: file " + fs + " is a freesurfer-style volume"},
        {{huge, huge, huge}, 0, "Error: the runs hold 3221225472 time points, more than this program can analyse.\n"},
        {{nan}, 0, "Error: file " + nan + " has a scaling slope (2) but an intercept (nan) that is not a finite number.\n"},
        {{good, zero}, 1, "Error: run #2 (file " + zero + ") has mean intensity 0"},
        {{good, zcut}, 0, "Error: the compressed file " + zcut + " is damaged or incomplete (unexpected end of file)"},
        {{zbad}, 0, "Error: the compressed file " + zbad + " is damaged or incomplete (incorrect data check)"},
        {{good + ".gz"}, 0, "only NIfTI-1 files named .nii.gz are read; " + good + ".gz is not one.\n"},
        {{}, 0, "Error: the GLM control file lists no runs.\n"},
    };
    for (const auto &c : cases) {
        std::string out;
        int total = 0;
        EXPECT_EQ(1, start_runs(c.runs, &out, &total, c.normalize)) << c.message;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
    }
}

// Value of voxel v at time t in run r of the block test, within every type's range.
double block_value(int r, int t, int v) {
    return r == 1 ? (v * 7 + t * 13) % 32000 - 16000 : (r == 0 ? 1 : -1) * (t * 200000.0 + v);
}

TEST(DataBlocks, BlocksFollowTheLayoutOverAllRuns) {
    TempDir dir;
    const int V = 120000, nt[3] = {2, 3, 1};
    std::vector<double> values[3];
    for (int r = 0; r < 3; ++r)
        for (int t = 0; t < nt[r]; ++t)
            for (int v = 0; v < V; ++v) values[r].push_back(block_value(r, t, v));
    const RunSize n0 = {100, 120, 10, 2}, n1 = {100, 120, 10, 3}, n2 = {100, 120, 10, 1};
    const std::vector<std::string> files = {
        write_xdisplay_run(dir, "r0.bfloat", n0, sample_bytes<float>(values[0])),
        write_xdisplay_run(dir, "r1.bshort", n1, sample_bytes<std::int16_t>(values[1], true), "byte-order 0\n"),
        write_nifti_run(dir, "r2.nii", n2, NIFTI_TYPE_INT32, sample_bytes<std::int32_t>(values[2]))};
    std::string out;
    int total = 0;
    ASSERT_EQ(0, start_runs(files, &out, &total));
    ASSERT_EQ(total, 6);

    // Blocks of 50000 (one stretch per time point) and of the whole volume.
    for (int block_size : {50000, 200000}) {
        BLOCK_SIZE = block_size;
        std::vector<float> block(static_cast<size_t>(std::min(block_size, V)) * total);
        std::vector<int> counts;
        int wrong = 0;
        for (int f = 0, n = 0; f < V; f += n) {
            ASSERT_EQ(0, read_block_vector(block.data(), f, &n));
            counts.push_back(n);
            for (int r = 0, tau = 0; r < 3; ++r)
                for (int t = 0; t < nt[r]; ++t, ++tau)
                    for (int j = 0; j < n; ++j)
                        wrong += block[static_cast<size_t>(tau) * n + j] != static_cast<float>(block_value(r, t, f + j));
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(counts, block_size == 50000 ? std::vector<int>({50000, 50000, 20000}) : std::vector<int>({V}));
    }
}

TEST(DataBlocks, SampleTypesAndByteOrdersGiveTheirValues) {
    TempDir dir;
    const std::vector<double> shorts = ramp(16, -32768, 4369), ushorts = ramp(16, 0, 4369), bytes = ramp(16, 0, 17),
                              doubles = ramp(16, -1.5e5, 0.25), longs = ramp(16, -2.0e9, 2.5e8);
    const std::vector<std::string> files = {
        write_xdisplay_run(dir, "le.bshort", k2x2x2x2, sample_bytes<std::int16_t>(shorts), "byte-order 1\n"),
        write_xdisplay_run(dir, "be.bshort", k2x2x2x2, sample_bytes<std::int16_t>(shorts, true), "byte-order 0\n"),
        write_xdisplay_run(dir, "us.bshort", k2x2x2x2, sample_bytes<std::uint16_t>(ushorts), "storage-type unsigned-short\n"),
        write_xdisplay_run(dir, "uc.bshort", k2x2x2x2, sample_bytes<std::uint8_t>(bytes), "storage-type unsigned-char\n"),
        write_xdisplay_run(dir, "d.bdouble", k2x2x2x2, sample_bytes<double>(doubles, true), "byte-order 0\n"),
        write_xdisplay_run(dir, "l.blong", k2x2x2x2, sample_bytes<std::int32_t>(longs, true), "byte-order 0\n"),
        write_xdisplay_run(dir, "f.bfloat", k2x2x2x2, sample_bytes<float>(doubles, true), "byte-order 0\n")};
    const std::vector<double> *expected[] = {&shorts, &shorts, &ushorts, &bytes, &doubles, &longs, &doubles};
    std::string out;
    int total = 0;
    ASSERT_EQ(0, start_runs(files, &out, &total)) << out;
    std::vector<float> volume(8);
    int r = 0;
    for (RunEntry *run = &file_list_root; run; run = run->next, ++r)
        for (int t = 0; t < 2; ++t) {
            ASSERT_EQ(0, read_volume(run, t, volume.data()));
            for (int v = 0; v < 8; ++v)
                EXPECT_EQ(volume[v], static_cast<float>((*expected[r])[t * 8 + v])) << run->fmri_file << " " << v;
        }
}

TEST(DataBlocks, PositionsBeyondFourGigabytesAndShortReads) {
    TempDir dir;
    const long long offset = 5LL << 30;  // a sparse file of 5 GiB before the samples
    const std::string big = write_nifti_run(dir, "big.nii", k2x2x2x2, NIFTI_TYPE_FLOAT32, sample_bytes<float>(ramp(16, 0.5)), offset);
    std::string out;
    int total = 0;
    ASSERT_EQ(0, start_runs({big}, &out, &total)) << out;
    EXPECT_EQ(file_list_root.data_offset, offset);
    BLOCK_SIZE = 3;
    std::vector<float> block(3 * 2);
    int n = 0;
    ASSERT_EQ(0, read_block_vector(block.data(), 6, &n));
    EXPECT_EQ(n, 2);
    EXPECT_EQ(block[0 * 2 + 1], 7.5f);
    EXPECT_EQ(block[1 * 2 + 0], 14.5f);

    // A file cut short after the set-up fails the read with the run's name.
    std::filesystem::resize_file(big, offset + 40);
    const std::string message = "Error reading the floating point data from file " + big + "\n";
    EXPECT_EQ(stdout_of([&] {
                  EXPECT_EQ(1, read_block_vector(block.data(), 0, &n));
                  EXPECT_EQ(1, read_volume(&file_list_root, 1, block.data()));
              }),
              message + message);
}

}  // namespace
