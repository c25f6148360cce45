#include <unistd.h>

#include <cstring>

#include "scratch_dir.h"
#include "volume/volume_header.h"

namespace {
const char *corners =
    "top_left_r: -100\ntop_left_a: 100\ntop_left_s: 0\ntop_right_r: 100\ntop_right_a: 100\n"
    "top_right_s: 0\nbottom_right_r: 100\nbottom_right_a: -100\nbottom_right_s: 0\n";

int read_fs(const std::string &name, VolumeHeader &h, std::string *out = nullptr) {
    int status = 0;
    std::string printed = stdout_of([&] { status = read_volume_header(0, name.c_str(), &h); });
    if (out) *out = printed;
    return status;
}
}  // namespace

TEST(FreesurferHeader, GeometryFromCornersAndSliceFiles) {
    ScratchDir dir;
    dir.write("f.bhdr", std::string("cols: 64\n\nrows: 64\nnslices: 20\nn_time_points: 100\nslice_thick: 4.5\n") +
                            corners + "image_tr: 2000\nflip_angle: 90 # degrees\n");
    dir.write("f_000.hdr", "64 64 100 0\n");
    dir.write("f_000.bfloat", "");
    VolumeHeader h;
    ASSERT_EQ(read_fs(dir / "f_", h), 0);
    EXPECT_EQ(h.file_type, FILE_FREESURFER);
    EXPECT_EQ(h.storage_type, STORAGE_FLOAT);
    EXPECT_EQ(h.byte_order, 0);
    EXPECT_EQ(h.resolution[0], 3.125f);
    EXPECT_EQ(h.resolution[1], 3.125f);
    EXPECT_EQ(h.voxel_to_world.m[2][2], 4.5f);
    EXPECT_EQ(h.time_step, 2000.0f);
    EXPECT_EQ(h.total_size, 64 * 64 * 20 * 100);
    dir.write("f_000.bshort", "");  // bshort wins when both exist
    ASSERT_EQ(read_fs(dir / "f_", h), 0);
    EXPECT_EQ(h.storage_type, STORAGE_SHORT);
}

TEST(FreesurferHeader, Failures) {
    ScratchDir dir;
    VolumeHeader h;
    std::string out;
    dir.write("a.bhdr", std::string("cols: 64\nrows: 64\nnslices: 20\n") + corners);
    EXPECT_EQ(read_fs(dir / "a_", h, &out), 1);
    EXPECT_EQ(out, "Error: Value for t dimension not found in header file '" + dir / "a.bhdr" + "'\n");
    // Only non-blank lines are counted.
    dir.write("b.bhdr", "cols: 64\n\n   \n# c\nrows: 64\nColumns: 3\n");
    EXPECT_EQ(read_fs(dir / "b_", h, &out), 1);
    EXPECT_EQ(out, "Error reading line 3 of file '" + dir / "b.bhdr" + "'\n");
    dir.write("c.bhdr", "cols: 64\nrows: 64\nnslices: 20\nn_time_points: 3\ntop_left_r: 1\n");
    EXPECT_EQ(read_fs(dir / "c_", h, &out), 1);
    EXPECT_NE(out.find("corner positions"), std::string::npos);
    dir.write("d.bhdr", std::string("cols: 64\nrows: 64\nnslices: 20\nn_time_points: 3\n") + corners);
    EXPECT_EQ(read_fs(dir / "d_", h, &out), 1);
    EXPECT_EQ(out, "Error: cannot open freesurfer file " + dir / "d_000.hdr" + ".\n");
    dir.write("d_000.hdr", "64 64 3 1\n");
    EXPECT_EQ(read_fs(dir / "d_", h, &out), 1);
    EXPECT_EQ(out, "\nError: cannot open file " + dir / "d_" + " as bshort or bfloat.\n");
    EXPECT_EQ(read_fs(dir / "e_", h, &out), 1);
    EXPECT_EQ(out, "Error: cannot open freesurfer bhdr file " + dir / "e.bhdr" + ".\n");
    EXPECT_EXIT(dup2(STDERR_FILENO, STDOUT_FILENO); read_freesurfer_header("plain", &h),
                ::testing::ExitedWithCode(1), "Programming error: file name should end with '_'");
}

TEST(FreesurferHeader, KeywordDecoder) {
    VolumeHeader h{};
    float geometry[FREESURFER_GEOMETRY_VALUES] = {};
    char line[64];
    std::strcpy(line, "image_tr: 1500\n");
    EXPECT_EQ(decode_freesurfer_header_keyword(line, &h, geometry), 0);
    EXPECT_EQ(geometry[13], 1500.0f);
    EXPECT_EQ(h.time_step, 1500.0f);
    std::strcpy(line, "cols: many\n");  // an unparsable value leaves the target alone
    h.nx = 7;
    EXPECT_EQ(decode_freesurfer_header_keyword(line, &h, geometry), 0);
    EXPECT_EQ(h.nx, 7);
    std::strcpy(line, "cols 64\n");
    EXPECT_EQ(decode_freesurfer_header_keyword(line, &h, geometry), 1);
}
