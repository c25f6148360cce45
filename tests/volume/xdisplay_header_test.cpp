#include "scratch_dir.h"
#include "support/exit_output.h"

namespace {
const std::string sizes_xyzt = "x 4\ny 3\nz 2\nt 5\n";
}

TEST(XdisplayHeader, KeywordsFillTheRecordAndDerivedFields) {
    TempDir dir;
    dir.write("run1.hdr", "# comment line\n\n" + sizes_xyzt +
                              "byte-order 0\nresolution 2 3 4 2.5\norigin 10 -20 30\ndirection -1 1 1\n"
                              "data-type complex\nregistration PW-rat\ndegrees-of-freedom 17\ninfo\nfree 1 2 text\n");
    VolumeHeader h;
    int status;
    EXPECT_EQ(read_header(dir / "run1.bshort", h, status, 1),
              "complex data, short ints, voxels (4,3,2,5), res (2,3,4,2.5)\n");
    ASSERT_EQ(status, 0);
    EXPECT_EQ(h.file_type * 10 + h.storage_type, 11);
    EXPECT_EQ(h.byte_order * 100 + h.data_kind * 10 + h.registration, 11);
    EXPECT_EQ(h.dof, 17);
    EXPECT_EQ(h.total_size, 120);
    EXPECT_EQ(h.slice_size, 12);
    EXPECT_EQ(h.extent[2], 8.0f);
    EXPECT_EQ(h.voxel_to_world.m[0][0], -2.0f);
    EXPECT_EQ(h.voxel_to_world.m[1][3], -20.0f);
    EXPECT_EQ(h.world_to_voxel.m[0][0], -0.5f);  // x = 10 - 2i gives i = 5 - x/2
    EXPECT_EQ(h.world_to_voxel.m[0][3], 5.0f);

    // A storage-type line beats the extension; three resolutions give time step 0;
    // a three-value matrix line keeps nt; without an extension the storage type
    // names the file type.
    dir.write("run1.hdr", sizes_xyzt + "storage-type short\nresolution 2 2 2\nmatrix 6 7 8\n");
    for (const char *name : {"run1.bfloat", "run1"}) {
        read_header(dir / name, h, status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(h.storage_type * 10 + h.file_type, std::string(name) == "run1" ? 11 : 12);
        EXPECT_EQ(h.time_step, 0.0f);
        EXPECT_EQ(h.nx * 1000 + h.nz * 10 + h.nt, 6085);
    }
    dir.write("run1.hdr", sizes_xyzt);  // without a resolution line the voxels are 1 mm cubes
    read_header(dir / "run1.bfloat", h, status);
    EXPECT_EQ(std::vector<float>(h.resolution, h.resolution + 3), std::vector<float>(3, 1.0f));
}

TEST(XdisplayHeader, ErrorMessages) {
    struct Case {
        const char *header, *text, *name, *message;  // '@' in a message stands for the directory
    };
    const std::string long_comment = "x 4\n#" + std::string(1100, 'c') + " t 20\n";
    const Case cases[] = {
        {"j.hdr", long_comment.c_str(), "j.bfloat",
         "Error: line 2 of the file @/j.hdr is longer than 1023 characters.\n"},
        {"data.old/r.hdr", "x 4\ny 3\nz 2\nt 5\n", "data.old/r",
         "Error: the file type is not recognized,\nso it was assumed to be an xdisplay file without an extension.\n"
         "However, the storage type was not read from file @/data.old/r.hdr\n"
         "Valid types end in .nii, .img, .bshort, .bfloat, .blong, or _'\n"},
        {"x.hdr", "", "missing.bfloat", "Error: cannot open xdisplay file @/missing.hdr.\n"},
        {"a.hdr", "64 64 20 100\nx 4\ny 3\nz 2\n", "a.blong",
         "Error: Value for t dimension not found in header file '@/a.hdr'\n"},
        {"b.hdr", "64 64 twenty\n", "b.bfloat", "Error reading the 1st line of the xds header file '@/b.hdr'.\n"},
        {"c.hdr", "x 4\n# note\nsize 3\n", "c.bfloat", "Error reading line 3 of file '@/c.hdr'\n"},
        {"d.hdr", "x 4\ndirection 1 -1 0.5\n", "d.bfloat",
         "Error: allowed values for direction (1,-1,0.5) are 1 and -1.\nError reading line 2 of file '@/d.hdr'\n"},
        {"m.hdr", "x 4\ndirection 1 -1\n", "m.bfloat", "Error reading line 2 of file '@/m.hdr'\n"},
        {"e.hdr", "x 1\ndata-type phase\n", "e.bfloat",
         "Error: arguments for data-type are\n1) magnitude (this is the default),\n2) complex (or real-imaginary),\n"
         "3) magnitude-phase\nError reading line 2 of file '@/e.hdr'\n"},
        {"f.hdr", "storage-type double\n", "f.bfloat",
         "Error: arguments for storage-type are ...\n    short, float, long, unsigned-short, unsigned-char\n"
         "Error reading the 1st line of the xds header file '@/f.hdr'.\n"},
        {"g.hdr", "x 1\nregistration\n", "g.bfloat",
         "Error: arguments for registration are\n1) paxinos-rat, and\n2) nothing else (paxinos-monkey later?)\n"
         "Error reading line 2 of file '@/g.hdr'\n"},
        {"h.hdr", "x 4\ny -3\nz 2\nt 5\n", "h.bfloat",
         "Error: y must be an integer from 1 to 2147483647 (read -3).\nError reading line 2 of file '@/h.hdr'\n"},
        {"k.hdr", "x 4\nt 4294967336\n", "k.bfloat",
         "Error: t must be an integer from 1 to 2147483647 (read 4294967336).\nError reading line 2 of file '@/k.hdr'\n"},
        {"l.hdr", "x 4\nbyte-order 2\n", "l.bfloat",
         "Error: byte-order must be an integer from 0 to 1 (read 2).\nError reading line 2 of file '@/l.hdr'\n"},
        {"i.hdr", "matrix 2000 2000 2000 2\n", "i.bfloat",
         "Error: the volume of file @/i.bfloat (2000 x 2000 x 2000 x 2 samples) is too large.\n"},
    };
    TempDir dir;
    for (const Case &c : cases) {
        dir.write(c.header, c.text);
        VolumeHeader h;
        int status = 0;
        EXPECT_EQ(read_header(dir / c.name, h, status), replace_all(c.message, "@", dir.path()))
            << c.name;
        EXPECT_EQ(status, 1);
    }
}

TEST(VolumeFileNames, ExtensionsFollowTheLastDot) {
    char name[64] = "dir.d/run.nii\n", scratch[1024], result[1024];
    int code = 0;
    EXPECT_EQ(get_extension(name, &code, scratch), 0);
    EXPECT_EQ(std::string(name) + "|" + scratch + "|" + std::to_string(code), "dir.d/run.nii|nii|" + std::to_string(FILE_NII));
    EXPECT_EQ(replace_extension("a.b/run.blong", &code, "hdr", result), 0);
    EXPECT_EQ(result + std::to_string(code), "a.b/run.hdr" + std::to_string(FILE_BLONG));
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(replace_extension("run", &code, "hdr", result), 1); }),
              "The file name has no extension!\n");
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
    TempDir dir;
    dir.write("flat.hdr", sizes_xyzt + "resolution 1 0 1\n");
    VolumeHeader h;
    EXPECT_EXIT_PRINTS(read_volume_header(0, (dir / "flat.bfloat").c_str(), &h), 1, "Error: the voxel size along y "
                       "of file .*/flat.bfloat is 0, so its voxel-to-world matrix cannot be inverted.\nfailed on row 1");
}
