#include <nifti1_io.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "scratch_dir.h"

namespace {
// A 4x3x2x5 float header as nifticlib makes it, to be adjusted by each case.
nifti_1_header base_header() {
    const int dims[8] = {4, 4, 3, 2, 5, 1, 1, 1};
    nifti_1_header *made = nifti_make_new_header(dims, NIFTI_TYPE_FLOAT32);
    nifti_1_header h = *made;
    std::free(made);
    h.vox_offset = 368;  // room for an extension of 16 bytes
    return h;
}

// Writes the header, the extender and the given extension ints.
std::string write_raw(const TempDir &dir, const std::string &name, const nifti_1_header &h,
                      std::vector<int> extension = {}) {
    std::string bytes(reinterpret_cast<const char *>(&h), sizeof h);
    bytes += extension.empty() ? std::string(4, '\0') : std::string("\1\0\0\0", 4);
    bytes.append(reinterpret_cast<const char *>(extension.data()), extension.size() * sizeof(int));
    return dir.write(name, bytes);
}

// nifticlib writes an oblique image (3-D or 4-D, optionally with an sform,
// optionally turned big-endian with its own swapper); the header reader must
// agree with nifticlib's own reader.
void expect_agreement_with_nifticlib(int ndim, bool big_endian, int sform_code, bool gzip = false) {
    TempDir dir;
    const int dims[8] = {ndim, 5, 4, 3, 6, 1, 1, 1};
    nifti_image *nim = nifti_make_new_nim(dims, NIFTI_TYPE_INT16, 1);
    nim->dx = nim->pixdim[1] = 2.0f, nim->dy = nim->pixdim[2] = 2.5f, nim->dz = nim->pixdim[3] = 3.0f;
    nim->dt = nim->pixdim[4] = 1.5f;
    nim->qform_code = 1, nim->qfac = -1.0f;
    nim->quatern_b = 0.1f, nim->quatern_c = -0.2f, nim->quatern_d = 0.3f;
    nim->qoffset_x = -90.0f, nim->qoffset_y = 12.0f, nim->qoffset_z = 7.0f;
    nim->sform_code = sform_code;
    const float rows[3][4] = {{-2, 0.1f, 0, 90}, {0, 2.5f, 0.2f, -100}, {0.3f, 0, 3, -40}};
    std::memcpy(nim->sto_xyz.m, rows, sizeof rows);
    ASSERT_EQ(nifti_set_filenames(nim, (dir / "image").c_str(), 0, 1), 0);
    nifti_image_write(nim);
    nifti_image_free(nim);
    const std::string name = dir / "image.nii";
    if (big_endian) {
        std::FILE *f = std::fopen(name.c_str(), "r+b");
        nifti_1_header n;
        ASSERT_EQ(std::fread(&n, sizeof n, 1, f), 1u);
        swap_nifti_header(&n, 1);
        std::rewind(f);
        std::fwrite(&n, sizeof n, 1, f);
        std::fclose(f);
    }

    nifti_image *ref = nifti_image_read(name.c_str(), 0);
    ASSERT_NE(ref, nullptr);
    VolumeHeader h;
    int status;
    if (gzip) { ASSERT_EQ(0, std::system(("gzip '" + name + "'").c_str())); }
    read_header(gzip ? name + ".gz" : name, h, status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(h.byte_order, big_endian ? 1 - machine_byte_order() : machine_byte_order());
    EXPECT_EQ(ref->byteorder != nifti_short_order(), big_endian);
    EXPECT_EQ(h.nx * 100 + h.ny * 10 + h.nz, ref->nx * 100 + ref->ny * 10 + ref->nz);
    EXPECT_EQ(h.nt, ndim < 4 ? 1 : ref->nt);
    EXPECT_EQ(h.storage_type, STORAGE_SHORT);
    EXPECT_EQ(h.resolution[1], ref->dy);
    EXPECT_EQ(h.time_step, ref->dt);
    EXPECT_EQ(h.data_offset, static_cast<float>(ref->iname_offset));
    EXPECT_EQ(h.oblique, 1);
    EXPECT_EQ(h.nifti.sform_code * 10 + h.nifti.qform_code, ref->sform_code * 10 + ref->qform_code);
    const mat44 &m = sform_code ? ref->sto_xyz : ref->qto_xyz;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(h.voxel_to_world.m[i][j], m.m[i][j], 1e-6) << i << j;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(h.origin[i], m.m[i][3]);
        EXPECT_EQ(h.direction[i], m.m[i][i] > 0 ? 1.0f : -1.0f);
    }
    nifti_image_free(ref);
}
}  // namespace

TEST(NiftiHeader, AgreesWithNifticlibOnItsOwnFiles) {
    expect_agreement_with_nifticlib(4, false, 0);
    expect_agreement_with_nifticlib(4, true, 0);
    expect_agreement_with_nifticlib(4, false, 2);
    expect_agreement_with_nifticlib(3, true, 2, true);
}

TEST(NiftiHeader, MethodsMessagesAndRejections) {
    TempDir dir;
    VolumeHeader h;
    int status;
    nifti_1_header n = base_header();
    n.qform_code = 0, n.sform_code = 1;
    const std::string m1 = write_raw(dir, "m1.nii", n);
    EXPECT_EQ(read_header(m1, h, status, 1), "The NIFTI header for file " + m1 +
                                                 " uses Method 1: the old analyze format\nmagnitude data, floating "
                                                 "point\nvoxels (4,3,2,5), res (1,1,1,1)\n");
    n.qform_code = 1, n.sform_code = 2;
    const float rows[3][4] = {{2, 0, 0, -10}, {0, 0, 0, 5}, {0, 0, 4, 20}};
    std::memcpy(n.srow_x, rows[0], 16), std::memcpy(n.srow_y, rows[1], 16), std::memcpy(n.srow_z, rows[2], 16);
    EXPECT_EQ(read_header(write_raw(dir, "m3.nii", n), h, status),
              "Invalid Affine transformation matrix: resetting to identity matrix.\n");
    EXPECT_EQ(h.voxel_to_world.m[0][0] + h.voxel_to_world.m[1][1] + h.voxel_to_world.m[2][2], 3.0f);
    EXPECT_EQ(h.origin[1] * 10 + h.oblique, 50.0f);  // a shifted identity is not oblique

    // An .img name reads its .hdr half; with verbose the format note comes first.
    n.dim[0] = 6, n.dim[5] = 3, n.datatype = 32;
    write_raw(dir, "pair.hdr", n);
    const std::string notes =
        "Files with .img extensions are assumed to be NIFTI, not ANALYZE\n"
        "Warning: zep does not currently handle data of dimensionality (6) > 5.\n"
        "Proceeding using the 1st 5 dimensions...\n";
    EXPECT_EQ(read_header(dir / "pair.img", h, status, 1).substr(0, notes.size()), notes);
    EXPECT_EQ(h.data_kind * 10 + h.file_type, 18);
    n.dim[0] = 5;
    read_header(write_raw(dir, "vector.nii", n), h, status);
    EXPECT_EQ(h.data_kind, 3);

    n.datatype = 128;
    EXPECT_EQ(read_header(write_raw(dir, "rgb.nii", n), h, status),
              "Error: the Nifti data storage type 128 is not supported.\n");
    n.datatype = 16, n.dim[4] = 0;
    const std::string no_t = write_raw(dir, "no_t.nii", n);
    EXPECT_EQ(read_header(no_t, h, status), "Error: Value for t dimension not found in header file '" + no_t + "'\n");
    EXPECT_EQ(read_header(dir / "none.nii", h, status), "Error: cannot open Nifti file " + dir / "none.nii" + ".\n");
    EXPECT_EQ(status, 1);
    n.dim[4] = 5, n.vox_offset = 351;
    const std::string inside = write_raw(dir, "inside.nii", n);
    EXPECT_EQ(read_header(inside, h, status),
              "Error: the data offset (351) of file " + inside + " lies within its header and extensions (352 bytes).\n");
    n.sizeof_hdr = 540;
    const std::string two = write_raw(dir, "two.nii", n);
    EXPECT_EQ(read_header(two, h, status), "Error: " + two + " is a NIfTI-2 file; only NIfTI-1 is read.\n");
}

TEST(NiftiHeader, ExtensionsAreCheckedBeforeUse) {
    TempDir dir;
    VolumeHeader h;
    int status;
    nifti_1_header n = base_header();
    const std::string tiny = write_raw(dir, "tiny.nii", n, {4, 20, 9, 0});
    EXPECT_EQ(read_header(tiny, h, status), "Error: the NIFTI1 extension in file " + tiny + " has an invalid size (4).\n");
    EXPECT_EQ(status, 1);
    const std::string past = write_raw(dir, "past.nii", n, {32, 20, 9, 0});
    EXPECT_EQ(read_header(past, h, status),
              "Error: the NIFTI1 extension in file " + past + " (32 bytes) runs past the end of the file.\n");
    const std::string cut = write_raw(dir, "short.nii", n, {8, 20});
    EXPECT_EQ(read_header(cut, h, status),
              "Error: the degrees-of-freedom extension in file " + cut + " is too short (8 bytes).\n");
    read_header(write_raw(dir, "other.nii", n, {16, 6, 9, 0}), h, status);
    EXPECT_EQ(status * 10 + h.dof, 0);
    n.vox_offset = 364;  // inside the extension
    EXPECT_NE(read_header(write_raw(dir, "in.nii", n, {16, 6, 9, 0}), h, status).find("(368 bytes)"), std::string::npos);
    n.vox_offset = 368;
    // The extension of an other-endian header is in that byte order too.
    nifti_1_header swapped = n;
    swap_nifti_header(&swapped, 1);
    int extension[4] = {16, 20, 42, 0};
    for (int &v : extension) swap_32(&v);
    read_header(write_raw(dir, "swapped.nii", swapped, {extension, extension + 4}), h, status);
    EXPECT_EQ(status * 100 + h.dof, 42);
    dir.write("cut.nii", std::string(100, '\0'));
    EXPECT_EXIT(read_header(dir / "cut.nii", h, status), ::testing::ExitedWithCode(1), "Error reading header file");
}
