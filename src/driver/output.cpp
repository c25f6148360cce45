#include "driver/output.h"

#include <nifti1_io.h>

#include <cstdint>
#include <cstring>

#include "driver/globals.h"
#include "glm/state.h"
#include "numerics/temp_files.h"
#include "volume/volume_header.h"

static_assert(sizeof(nifti_1_header) == 348, "the NIfTI-1 header is 348 bytes");

namespace {
constexpr int DOF_EXTENSION_CODE = 20;

// name + extension into out (NAME_SIZE characters); false when it does not fit.
bool compose_name(char *out, const char *name, const char *extension) {
    if (std::snprintf(out, NAME_SIZE, "%s.%s", name, extension) < NAME_SIZE) return true;
    std::printf("Error: the output file name %s.%s is too long.\n", name, extension);
    return false;
}

int open_xdisplay_output(int kind, int nvolumes, const char *name, std::FILE **stream) {
    const RunEntry &g = file_list_root;
    char file_name[NAME_SIZE];
    if (!compose_name(file_name, name, "hdr")) return 1;
    std::FILE *header = create_output(file_name);
    if (!header) {
        std::printf("Error: cannot open the output file %s\n", file_name);
        return 1;
    }
    std::fprintf(header, "x %d\ny %d\nz %d\nt %d\nbyte-order %d\n", g.nx, g.ny, g.nz, nvolumes, machine_byte_order());
    std::fprintf(header, "resolution %g %g %g\norigin %g %g %g\ndirection %g %g %g\n", g.resolution[0],
                 g.resolution[1], g.resolution[2], g.origin[0], g.origin[1], g.origin[2], g.direction[0],
                 g.direction[1], g.direction[2]);
    std::fprintf(header, "degrees-of-freedom %d\n", GLM_get_DOF());
    char data_name[NAME_SIZE];
    if (!compose_name(data_name, name, kind == 0 || kind == 1 ? "bfloat" : "bshort")) {
        close_output(header, false);
        return 1;
    }
    *stream = create_output(data_name);
    if (!*stream) {
        close_output(header, false);
        std::printf("Error: cannot open the output file %s\n", data_name);
        return 1;
    }
    // The header takes its name after the data file, when that is complete.
    if (!attach_output(header, *stream)) {
        std::printf("Error: cannot write the output file %s\n", file_name);
        close_output(*stream, false);
        *stream = nullptr;
        return 1;
    }
    return 0;
}

// The maps of NIfTI data keep the data's world geometry as stored: both
// transforms with their codes, the voxel sizes and the units.
void copy_geometry(const NiftiGeometry &geometry, nifti_1_header &n) {
    n.qform_code = geometry.qform_code;
    n.sform_code = geometry.sform_code;
    n.quatern_b = geometry.quatern[0];
    n.quatern_c = geometry.quatern[1];
    n.quatern_d = geometry.quatern[2];
    n.qoffset_x = geometry.qoffset[0];
    n.qoffset_y = geometry.qoffset[1];
    n.qoffset_z = geometry.qoffset[2];
    for (int j = 0; j < 4; ++j) {
        n.srow_x[j] = geometry.srow[0][j];
        n.srow_y[j] = geometry.srow[1][j];
        n.srow_z[j] = geometry.srow[2][j];
    }
    std::memcpy(n.pixdim, geometry.pixdim, sizeof n.pixdim);
    n.xyzt_units = geometry.xyzt_units;
}

// Other data: a quaternion transform from the voxel sizes, origin and axis
// directions, with the same diagonal matrix in the (unused) srow rows.
void diagonal_geometry(const RunEntry &g, nifti_1_header &n) {
    mat44 m{};
    const Mat44 voxel_to_world = scale_and_shift_to_mat44(g.resolution, g.origin, g.direction);
    std::memcpy(m.m, voxel_to_world.m, sizeof m.m);
    float qb, qc, qd, qx, qy, qz, dx, dy, dz, qfac;
    nifti_mat44_to_quatern(m, &qb, &qc, &qd, &qx, &qy, &qz, &dx, &dy, &dz, &qfac);
    n.pixdim[0] = qfac;
    for (int i = 0; i < 3; ++i) n.pixdim[i + 1] = g.resolution[i];
    n.pixdim[4] = g.time_step;
    n.xyzt_units = 2;
    n.qform_code = 1;
    n.sform_code = 0;
    n.quatern_b = qb;
    n.quatern_c = qc;
    n.quatern_d = qd;
    n.qoffset_x = qx;
    n.qoffset_y = qy;
    n.qoffset_z = qz;
    n.srow_x[0] = g.resolution[0] * g.direction[0];
    n.srow_x[3] = g.origin[0];
    n.srow_y[1] = g.resolution[1] * g.direction[1];
    n.srow_y[3] = g.origin[1];
    n.srow_z[2] = g.resolution[2] * g.direction[2];
    n.srow_z[3] = g.origin[2];
}

int fail_write(std::FILE **stream) {
    close_output(*stream, false);
    *stream = nullptr;
    return 1;
}
}  // namespace

int open_output_file(int kind, int nvolumes, const char *name, std::FILE **stream, int intent_code,
                     float intent_p1) {
    if (GLM_input.output_format) return write_nifti_header(kind, nvolumes, name, stream, intent_code, intent_p1);
    return open_xdisplay_output(kind, nvolumes, name, stream);
}

Mat44 output_voxel_to_world(std::string *source) {
    const RunEntry &g = file_list_root;
    if (!GLM_input.output_format) {
        *source = "the resolution, origin and direction of the xdisplay header";
        return scale_and_shift_to_mat44(g.resolution, g.origin, g.direction);
    }
    nifti_1_header n;
    std::memset(&n, 0, sizeof n);
    if (g.file_type == FILE_NII || g.file_type == FILE_IMG)
        copy_geometry(g.nifti, n);
    else
        diagonal_geometry(g, n);
    Mat44 a{};
    a.m[3][3] = 1.0f;
    if (n.sform_code > 0) {
        *source = "the sform (code " + std::to_string(n.sform_code) + ")";
        for (int j = 0; j < 4; ++j) a.m[0][j] = n.srow_x[j], a.m[1][j] = n.srow_y[j], a.m[2][j] = n.srow_z[j];
    } else if (n.qform_code > 0) {
        *source = "the qform (code " + std::to_string(n.qform_code) + ")";
        const mat44 q = nifti_quatern_to_mat44(n.quatern_b, n.quatern_c, n.quatern_d, n.qoffset_x, n.qoffset_y,
                                               n.qoffset_z, n.pixdim[1], n.pixdim[2], n.pixdim[3], n.pixdim[0]);
        std::memcpy(a.m, q.m, sizeof a.m);
    } else {
        *source = "the voxel sizes (no qform or sform)";
        for (int i = 0; i < 3; ++i) a.m[i][i] = n.pixdim[i + 1];
    }
    return a;
}

int write_nifti_header(int kind, int nvolumes, const char *name, std::FILE **stream, int intent_code,
                       float intent_p1) {
    const RunEntry &g = file_list_root;
    const bool with_dof = kind == 1;
    // The header stores the sizes as 16-bit integers.
    const int sizes[4] = {g.nx, g.ny, g.nz, nvolumes};
    for (int s : sizes)
        if (s < 1 || s > 32767) {
            std::printf("Error: the dimensions (%d,%d,%d,%d) of %s.nii cannot be stored in a NIFTI-1 header.\n",
                        g.nx, g.ny, g.nz, nvolumes, name);
            return 1;
        }

    nifti_1_header n;
    std::memset(&n, 0, sizeof n);
    n.sizeof_hdr = 348;
    n.regular = 'r';
    const short dims[8] = {4, static_cast<short>(g.nx), static_cast<short>(g.ny), static_cast<short>(g.nz),
                           static_cast<short>(nvolumes), 1, 1, 1};
    std::memcpy(n.dim, dims, sizeof n.dim);
    n.intent_code = static_cast<short>(intent_code);
    n.intent_p1 = intent_p1;
    n.datatype = kind == -1 ? 4 : 16;
    n.bitpix = kind == -1 ? 16 : 32;
    n.vox_offset = with_dof ? 368.0f : 352.0f;
    if (g.file_type == FILE_NII || g.file_type == FILE_IMG)
        copy_geometry(g.nifti, n);
    else
        diagonal_geometry(g, n);
    std::memcpy(n.magic, "n+1", 4);

    char file_name[NAME_SIZE];
    if (!compose_name(file_name, name, "nii")) return 1;
    *stream = create_output(file_name);
    if (!*stream) {
        std::printf("Error: cannot open the header file %s.\n", file_name);
        return 1;
    }
    if (std::fwrite(&n, sizeof n, 1, *stream) != 1) {
        std::fprintf(stderr, "Error writing the NIFTI header into file %s\n", file_name);
        return fail_write(stream);
    }
    const unsigned char extender[4] = {static_cast<unsigned char>(with_dof ? 1 : 0), 0, 0, 0};
    if (std::fwrite(extender, 1, 4, *stream) != 4) {
        std::fprintf(stderr, "\nError writing header file extension pad %s\n", file_name);
        return fail_write(stream);
    }
    if (with_dof) {
        const std::int32_t extension[4] = {16, DOF_EXTENSION_CODE, GLM_get_DOF(), 0};
        if (std::fwrite(extension, sizeof extension[0], 4, *stream) != 4) {
            std::fprintf(stderr, "\nError writing nifti header extension for DOF %s\n", file_name);
            return fail_write(stream);
        }
    }
    return 0;
}
