#include <unistd.h>

#include <cstring>

#include "scratch_dir.h"
#include "volume/volume_header.h"

namespace {
const char *sizes_xyzt = "x 4\ny 3\nz 2\nt 5\n";

std::string read_with_output(const std::string &name, VolumeHeader &h, int *status, int verbose = 0) {
    return stdout_of([&] { *status = read_volume_header(verbose, name.c_str(), &h); });
}
}  // namespace

TEST(XdisplayHeader, KeywordsFillTheRecordAndDerivedFields) {
    ScratchDir dir;
    dir.write("run1.hdr", std::string("# comment line\n\n") + sizes_xyzt +
                              "byte-order 0\nresolution 2 3 4 2.5\norigin 10 -20 30\ndirection -1 1 1\n"
                              "data-type complex\nregistration PW-rat\ndegrees-of-freedom 17\n");
    VolumeHeader h;
    int status;
    EXPECT_EQ(read_with_output(dir / "run1.bshort", h, &status, 1),
              "complex data, short ints, voxels (4,3,2,5), res (2,3,4,2.5)\n");
    ASSERT_EQ(status, 0);
    EXPECT_EQ(h.file_type, FILE_BSHORT);
    EXPECT_EQ(h.storage_type, STORAGE_SHORT);
    EXPECT_EQ(h.byte_order, 0);
    EXPECT_EQ(h.data_kind, 1);
    EXPECT_EQ(h.registration, 1);
    EXPECT_EQ(h.dof, 17);
    EXPECT_EQ(h.time_step, 2.5f);
    EXPECT_EQ(h.total_size, 120);
    EXPECT_EQ(h.slice_size, 12);
    EXPECT_EQ(h.extent[2], 8.0f);
    EXPECT_EQ(h.voxel_to_world.m[0][0], -2.0f);
    EXPECT_EQ(h.voxel_to_world.m[1][3], -20.0f);
    // world_to_voxel undoes voxel_to_world: world position of voxel (1,2,1) maps back.
    const float world[3] = {-2.0f + 10.0f, 6.0f - 20.0f, 4.0f + 30.0f};
    for (int i = 0; i < 3; ++i) {
        const float *row = h.world_to_voxel.m[i];
        EXPECT_NEAR(row[0] * world[0] + row[1] * world[1] + row[2] * world[2] + row[3], i == 1 ? 2 : 1, 1e-5);
    }
}

TEST(XdisplayHeader, StorageTypeAndNameRules) {
    ScratchDir dir;
    // A storage-type line beats the extension; three resolution values give time step 0.
    dir.write("run1.hdr", std::string(sizes_xyzt) + "storage-type float\nresolution 2 2 2\n");
    VolumeHeader h;
    int status;
    read_with_output(dir / "run1.bshort", h, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(h.storage_type, STORAGE_FLOAT);
    EXPECT_EQ(h.time_step, 0.0f);
    // No extension: the storage type must come from the header; it names the file type.
    read_with_output(dir / "run1", h, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(h.file_type, STORAGE_FLOAT);
    // The only '.' in a directory name is not an extension.
    dir.write("data.old/run2.hdr", sizes_xyzt);
    EXPECT_EQ(read_with_output(dir / "data.old/run2", h, &status),
              "Error: the file type is not recognized,\nso it was assumed to be an xdisplay file without an "
              "extension.\nHowever, the storage type was not read from file " +
                  dir / "data.old/run2.hdr" + "\nValid types end in .nii, .img, .bshort, .bfloat, .blong, or _'\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(read_with_output(dir / "missing.bfloat", h, &status),
              "Error: cannot open xdisplay file " + dir / "missing.hdr" + ".\n");
}

TEST(XdisplayHeader, FirstLineInfoAndLineErrors) {
    ScratchDir dir;
    VolumeHeader h;
    int status;
    // An old-style size line is accepted but its values are not used.
    dir.write("a.hdr", "64 64 20 100\nx 4\ny 3\nz 2\n");
    EXPECT_EQ(read_with_output(dir / "a.bfloat", h, &status),
              "Error: Value for t dimension not found in header file '" + dir / "a.hdr" + "'\n");
    dir.write("b.hdr", std::string(sizes_xyzt) + "info\nthis is free text: 1 2 3\n");
    read_with_output(dir / "b.bfloat", h, &status);
    EXPECT_EQ(status, 0);
    dir.write("c.hdr", "x 4\n# note\nsize 3\n");
    EXPECT_EQ(read_with_output(dir / "c.bfloat", h, &status),
              "Error reading line 3 of file '" + dir / "c.hdr" + "'\n");
    dir.write("d.hdr", "64 64 twenty\n");
    EXPECT_EQ(read_with_output(dir / "d.bfloat", h, &status),
              "Error reading the 1st line of the xds header file '" + dir / "d.hdr" + "'.\n");
    EXPECT_EQ(status, 1);
    // Sizes that are negative or whose product overflows are refused.
    dir.write("e.hdr", "x 4\ny -3\nz 2\nt 5\n");
    EXPECT_EQ(read_with_output(dir / "e.bfloat", h, &status),
              "Error: the header of file " + dir / "e.bfloat" + " gives negative dimensions (4,-3,2,5).\n");
    dir.write("f.hdr", "matrix 2000 2000 2000 2\n");
    EXPECT_NE(read_with_output(dir / "f.bfloat", h, &status).find("is too large"), std::string::npos);
    EXPECT_EQ(status, 1);
}

TEST(XdisplayHeader, KeywordDecoderMessages) {
    VolumeHeader h{};
    auto decode = [&](const char *text, int expected) {
        char line[1024];
        std::strcpy(line, text);
        int status = 99;
        std::string out = stdout_of([&] { status = decode_xdisplay_header_keyword(line, &h); });
        EXPECT_EQ(status, expected) << text;
        return out;
    };
    EXPECT_EQ(decode("direction 1 -1 0.5\n", 1), "Error: allowed values for direction (1,-1,0.5) are 1 and -1.\n");
    EXPECT_EQ(decode("data-type phase\n", 1), "Error: arguments for data-type are\n1) magnitude (this is the "
                                              "default),\n2) complex (or real-imaginary),\n3) magnitude-phase\n");
    EXPECT_EQ(decode("storage-type double\n", 1),
              "Error: arguments for storage-type are ...\n    short, float, long, unsigned-short, unsigned-char\n");
    EXPECT_EQ(decode("registration human\n", 1), "Error: arguments for registration are\n1) paxinos-rat, and\n"
                                                 "2) nothing else (paxinos-monkey later?)\n");
    decode("matrix 5 6 7\n", 0);
    decode("X 5\n", 1);
    decode("information: anything\n", -1);
    EXPECT_EQ(h.nx * 100 + h.ny * 10 + h.nz, 567);
    EXPECT_EQ(h.data_kind, 0);
}

TEST(VolumeFileNames, ExtensionsAndByteOrder) {
    char name[64] = "dir.d/run.nii\n";
    char scratch[1024];
    int code = 0;
    EXPECT_EQ(get_extension(name, &code, scratch), 0);
    EXPECT_STREQ(name, "dir.d/run.nii");
    EXPECT_STREQ(scratch, "nii");
    EXPECT_EQ(code, FILE_NII);
    char result[1024];
    EXPECT_EQ(replace_extension("a.b/run.blong", &code, "hdr", result), 0);
    EXPECT_STREQ(result, "a.b/run.hdr");
    EXPECT_EQ(code, FILE_BLONG);
    char bare[] = "run";
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(get_extension(bare, &code, scratch), 1); }),
              "The file name has no extension!\n");
    unsigned char b[4] = {1, 2, 3, 4};
    swap_32(b);
    swap_16(b + 1);
    EXPECT_EQ(b[0] * 1000 + b[1] * 100 + b[2] * 10 + b[3], 4231);
    const unsigned value = 1;
    EXPECT_EQ(machine_byte_order(), *reinterpret_cast<const unsigned char *>(&value));
}

TEST(VolumeMatrices, InverseAndSingularMatrix) {
    const float rows[3][4] = {{0, 2, 0, 1}, {0, 0, 4, 2}, {1, 0, 0, 3}};
    const Mat44 m = general_affine_to_mat44(rows[0], rows[1], rows[2]);
    const Mat44 inverse = invert_mat44(m);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += m.m[i][k] * inverse.m[k][j];
            EXPECT_NEAR(sum, i == j ? 1.0f : 0.0f, 1e-6) << i << j;
        }
    ScratchDir dir;
    dir.write("flat.hdr", std::string(sizes_xyzt) + "resolution 1 0 1\n");
    VolumeHeader h;
    // The message goes to standard output; send it where the death test looks.
    EXPECT_EXIT(dup2(STDERR_FILENO, STDOUT_FILENO); read_volume_header(0, (dir / "flat.bfloat").c_str(), &h),
                ::testing::ExitedWithCode(1), "failed on row 1");
}
