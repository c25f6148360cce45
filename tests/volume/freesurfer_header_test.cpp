#include <unistd.h>

#include "scratch_dir.h"

namespace {
const std::string corners =
    "top_left_r: -100\ntop_left_a: 100\ntop_left_s: 0\ntop_right_r: 100\ntop_right_a: 100\n"
    "top_right_s: 0\nbottom_right_r: 100\nbottom_right_a: -100\nbottom_right_s: 0\n";
}

TEST(FreesurferHeader, GeometryFromCornersAndSliceFiles) {
    TempDir dir;
    dir.write("f.bhdr", "cols: 64\n\nrows: 64\nnslices: 20\nn_time_points: 100\nslice_thick: 4.5\n" + corners +
                            "image_tr: 2000\nflip_angle: 90 # degrees\nimage_te: long\n");
    dir.write("f_000.hdr", "64 64 100 0\n");
    dir.write("f_000.bfloat", "");
    VolumeHeader h;
    int status;
    read_header(dir / "f_", h, status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(h.file_type * 10 + h.storage_type, 92);
    EXPECT_EQ(h.byte_order, 0);
    EXPECT_EQ(h.resolution[0], 3.125f);
    EXPECT_EQ(h.resolution[1], 3.125f);
    EXPECT_EQ(h.voxel_to_world.m[2][2], 4.5f);
    EXPECT_EQ(h.time_step, 2000.0f);
    EXPECT_EQ(h.total_size, 64 * 64 * 20 * 100);
    dir.write("f_000.bshort", "");  // bshort wins when both exist
    read_header(dir / "f_", h, status);
    EXPECT_EQ(h.storage_type, STORAGE_SHORT);
}

TEST(FreesurferHeader, Failures) {
    TempDir dir;
    VolumeHeader h;
    int status;
    const std::string sizes = "cols: 64\nrows: 64\nnslices: 20\n";
    dir.write("a.bhdr", sizes + corners);
    EXPECT_EQ(read_header(dir / "a_", h, status),
              "Error: Value for t dimension not found in header file '" + dir / "a.bhdr" + "'\n");
    dir.write("b.bhdr", "cols: 64\n\n   \n# c\nrows: 64\nColumns: 3\n");  // only non-blank lines count
    EXPECT_EQ(read_header(dir / "b_", h, status), "Error reading line 3 of file '" + dir / "b.bhdr" + "'\n");
    dir.write("b.bhdr", "cols: 64\nrows: 4294967360\n");
    EXPECT_EQ(read_header(dir / "b_", h, status), "Error: rows: must be an integer from 1 to 2147483647 (read "
                                                  "4294967360).\nError reading line 2 of file '" + dir / "b.bhdr" + "'\n");
    dir.write("g.bhdr", "\ncols: 64\n#" + std::string(1100, 'c') + "\n");
    EXPECT_EQ(read_header(dir / "g_", h, status),
              "Error: line 3 of the file " + dir / "g.bhdr" + " is longer than 1023 characters.\n");
    dir.write("c.bhdr", sizes + "n_time_points: 3\ntop_left_r: 1\n");
    EXPECT_EQ(read_header(dir / "c_", h, status),
              "Error: the corner positions (top_left, top_right, bottom_right) are incomplete in header file '" +
                  dir / "c.bhdr" + "'\n");
    dir.write("d.bhdr", sizes + "n_time_points: 3\n" + corners);
    EXPECT_EQ(read_header(dir / "d_", h, status), "Error: cannot open freesurfer file " + dir / "d_000.hdr" + ".\n");
    dir.write("d_000.hdr", "64 64 3 4294967297\n");
    EXPECT_EQ(read_header(dir / "d_", h, status), "Error: the byte order must be an integer from 0 to 1 (read "
                                                  "4294967297).\nError: cannot read the byte order from freesurfer "
                                                  "file " + dir / "d_000.hdr" + ".\n");
    dir.write("d_000.hdr", "64 64 3 1\n");
    EXPECT_EQ(read_header(dir / "d_", h, status), "\nError: cannot open file " + dir / "d_" + " as bshort or bfloat.\n");
    EXPECT_EQ(read_header(dir / "e_", h, status), "Error: cannot open freesurfer bhdr file " + dir / "e.bhdr" + ".\n");
    EXPECT_EQ(status, 1);
    EXPECT_EXIT(dup2(STDERR_FILENO, STDOUT_FILENO); read_freesurfer_header("plain", &h),
                ::testing::ExitedWithCode(1), "Programming error: file name should end with '_'");
}
