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
    EXPECT_TRUE(h.resolution[0] == 3.125f && h.resolution[1] == 3.125f && h.voxel_to_world.m[2][2] == 4.5f);
    EXPECT_TRUE(h.time_step == 2000.0f && h.total_size == 64 * 64 * 20 * 100);
    dir.write("f_000.bshort", "");  // bshort wins when both exist; without a TR the time step is 0
    dir.write("f.bhdr", "cols: 64\nrows: 64\nnslices: 20\nn_time_points: 100\n" + corners);
    read_header(dir / "f_", h, status);
    EXPECT_TRUE(status == 0 && h.storage_type == STORAGE_SHORT && h.time_step == 0.0f);
}

TEST(FreesurferHeader, Failures) {
    const std::string sizes = "cols: 64\nrows: 64\nnslices: 20\n";
    const std::string cases[][4] = {  // file written, its text, name read, message ('@' stands for the directory)
        {"a.bhdr", sizes + corners, "a_", "Error: Value for t dimension not found in header file '@/a.bhdr'\n"},
        {"b.bhdr", "cols: 64\n\n   \n# c\nrows: 64\nColumns: 3\n", "b_",  // only non-blank lines count
         "Error reading line 3 of file '@/b.bhdr'\n"},
        {"b.bhdr", "cols: 64\nrows: 4294967360\n", "b_", "Error: rows: must be an integer from 1 to 2147483647 (read "
                                                         "4294967360).\nError reading line 2 of file '@/b.bhdr'\n"},
        {"g.bhdr", "\ncols: 64\n#" + std::string(1100, 'c') + "\n", "g_",
         "Error: line 3 of the file @/g.bhdr is longer than 1023 characters.\n"},
        {"c.bhdr", sizes + "n_time_points: 3\ntop_left_r: 1\n", "c_", "Error: the corner positions (top_left, "
         "top_right, bottom_right) are incomplete in header file '@/c.bhdr'\n"},
        {"d.bhdr", sizes + "n_time_points: 3\n" + corners, "d_", "Error: cannot open freesurfer file @/d_000.hdr.\n"},
        {"d_000.hdr", "64 64 3 4294967297\n", "d_", "Error: the byte order must be an integer from 0 to 1 (read "
         "4294967297).\nError: cannot read the byte order from freesurfer file @/d_000.hdr.\n"},
        {"d_000.hdr", "64 64 3 1\n", "d_", "\nError: cannot open file @/d_ as bshort or bfloat.\n"},
        {"e_000.hdr", "", "e_", "Error: cannot open freesurfer bhdr file @/e.bhdr.\n"},
    };
    TempDir dir;
    VolumeHeader h;
    for (const auto &c : cases) {
        dir.write(c[0], c[1]);
        int status = 0;
        EXPECT_EQ(read_header(dir / c[2], h, status), replace_all(c[3], "@", dir.path())) << c[1];
        EXPECT_EQ(status, 1) << c[1];
    }
}
