#include <nifti1_io.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "numerics/warnings.h"
#include "volume/volume_header.h"

static_assert(sizeof(nifti_1_header) == 348, "the NIfTI-1 header is 348 bytes");

namespace {
constexpr int NIFTI_HEADER_BYTES = 348;
constexpr int NIFTI2_HEADER_BYTES = 540;
constexpr int EXTENSION_START = NIFTI_HEADER_BYTES + 4;  // after the 4 extender bytes
constexpr int DOF_EXTENSION_CODE = 20;

// Reverses the byte order of every numeric field, for headers written on a
// machine of the other byte order.
void swap_header(nifti_1_header &n) {
    swap_32(&n.sizeof_hdr);
    swap_32(&n.extents);
    swap_16(&n.session_error);
    for (short &d : n.dim) swap_16(&d);
    swap_32(&n.intent_p1);
    swap_32(&n.intent_p2);
    swap_32(&n.intent_p3);
    swap_16(&n.intent_code);
    swap_16(&n.datatype);
    swap_16(&n.bitpix);
    swap_16(&n.slice_start);
    for (float &p : n.pixdim) swap_32(&p);
    swap_32(&n.vox_offset);
    swap_32(&n.scl_slope);
    swap_32(&n.scl_inter);
    swap_16(&n.slice_end);
    swap_32(&n.cal_max);
    swap_32(&n.cal_min);
    swap_32(&n.slice_duration);
    swap_32(&n.toffset);
    swap_32(&n.glmax);
    swap_32(&n.glmin);
    swap_16(&n.qform_code);
    swap_16(&n.sform_code);
    swap_32(&n.quatern_b);
    swap_32(&n.quatern_c);
    swap_32(&n.quatern_d);
    swap_32(&n.qoffset_x);
    swap_32(&n.qoffset_y);
    swap_32(&n.qoffset_z);
    for (int i = 0; i < 4; ++i) {
        swap_32(&n.srow_x[i]);
        swap_32(&n.srow_y[i]);
        swap_32(&n.srow_z[i]);
    }
}

bool read_int(std::FILE *stream, bool swapped, std::int32_t *value) {
    if (std::fread(value, sizeof *value, 1, stream) != 1) return false;
    if (swapped) swap_32(value);
    return true;
}

// Reads the first header extension, when the extender announces one, and takes
// the degrees of freedom from it when its code says so. The extension ints are
// in the byte order of the header. An extension must lie wholly inside the
// file: its size is checked before anything behind its first 8 bytes is read.
// *end is the byte position after the extender and that extension.
int read_extension(std::FILE *stream, const char *header_name, bool swapped, VolumeHeader *h, std::int64_t *end) {
    *end = EXTENSION_START;
    unsigned char extender[4];
    if (std::fread(extender, 1, 4, stream) != 4 || extender[0] == 0) return 0;

    std::int32_t esize, ecode;
    if (!read_int(stream, swapped, &esize)) {
        std::printf("Error: A NIFTI1 extension was indicated, but it is missing.\n");
        return 1;
    }
    if (esize < 8) {
        std::printf("Error: the NIFTI1 extension in file %s has an invalid size (%d).\n", header_name,
                    static_cast<int>(esize));
        return 1;
    }
    const off_t file_size = fseeko(stream, 0, SEEK_END) == 0 ? ftello(stream) : -1;
    if (file_size < 0) {
        std::printf("Error: cannot determine the size of file %s.\n", header_name);
        return 1;
    }
    if (static_cast<std::int64_t>(esize) > static_cast<std::int64_t>(file_size) - EXTENSION_START) {
        std::printf("Error: the NIFTI1 extension in file %s (%d bytes) runs past the end of the file.\n",
                    header_name, static_cast<int>(esize));
        return 1;
    }
    *end = EXTENSION_START + static_cast<std::int64_t>(esize);
    if (fseeko(stream, EXTENSION_START + 4, SEEK_SET) != 0 || !read_int(stream, swapped, &ecode)) {
        std::printf("Error: A NIFTI1 extension was indicated, but the ecode is missing.\n");
        return 1;
    }
    if (ecode != DOF_EXTENSION_CODE) return 0;
    std::int32_t dof;
    if (esize < 12) {
        std::printf("Error: the degrees-of-freedom extension in file %s is too short (%d bytes).\n", header_name,
                    static_cast<int>(esize));
        return 1;
    }
    if (!read_int(stream, swapped, &dof)) {
        std::printf("Error read degrees of freedom.\n");
        return 1;
    }
    h->dof = dof;
    return 0;
}

struct DatatypeEntry {
    int nifti;
    int storage;
    bool complex;
};
constexpr DatatypeEntry datatypes[] = {
    {2, STORAGE_UCHAR, false},  {4, STORAGE_SHORT, false},  {8, STORAGE_LONG, false},    {16, STORAGE_FLOAT, false},
    {32, STORAGE_FLOAT, true},  {64, STORAGE_DOUBLE, false}, {512, STORAGE_USHORT, false},
};

Mat44 from_nifti(const mat44 &m) {
    Mat44 out;
    std::memcpy(out.m, m.m, sizeof out.m);
    return out;
}
}  // namespace

int read_nifti_header(int verbose, const char *file_name, VolumeHeader *h) {
    char header_name[NAME_SIZE];
    if (h->file_type == FILE_IMG) {
        int extension_code;
        if (replace_extension(file_name, &extension_code, "hdr", header_name)) return 1;
    } else if (std::snprintf(header_name, sizeof header_name, "%s", file_name) >= NAME_SIZE) {
        std::printf("Error: the file name %s is too long.\n", file_name);
        return 1;
    }
    const char *path = uncompressed_name(header_name);
    if (!path) return 1;
    std::FILE *stream = std::fopen(path, "rb");
    if (!stream) {
        std::printf("Error: cannot open Nifti file %s.\n", header_name);
        return 1;
    }
    nifti_1_header n;
    if (std::fread(&n, NIFTI_HEADER_BYTES, 1, stream) != 1) {
        std::fprintf(stderr, "\nError reading header file %s\n", header_name);
        std::exit(1);
    }
    // A NIfTI-2 header starts with its size, 540, in either byte order.
    std::int32_t size = n.sizeof_hdr;
    swap_32(&size);
    if (n.sizeof_hdr == NIFTI2_HEADER_BYTES || size == NIFTI2_HEADER_BYTES) {
        std::fclose(stream);
        std::printf("Error: %s is a NIfTI-2 file; only NIfTI-1 is read.\n", header_name);
        return 1;
    }
    // A dimension count outside 1..7 means the header was written in the
    // other byte order.
    const bool swapped = n.dim[0] < 1 || n.dim[0] > 7;
    std::int64_t extensions_end = 0;
    const int extension_status = read_extension(stream, header_name, swapped, h, &extensions_end);
    std::fclose(stream);
    if (extension_status) return 1;
    if (swapped) {
        swap_header(n);
        h->byte_order = 1 - machine_byte_order();
    } else {
        h->byte_order = machine_byte_order();
    }

    if (n.dim[0] > 5) {
        print_warning("Warning: zep does not currently handle data of dimensionality (%d) > 5.\n"
                      "Proceeding using the 1st 5 dimensions...\n", n.dim[0]);
    }
    h->nx = n.dim[1];
    h->ny = n.dim[2];
    h->nz = n.dim[3];
    h->nt = n.dim[0] < 4 ? 1 : n.dim[4];
    for (int i = 0; i < 3; ++i) h->resolution[i] = n.pixdim[i + 1];
    h->time_step = n.pixdim[4];
    h->scale_slope = n.scl_slope;
    h->scale_inter = n.scl_inter;
    h->qfac = n.pixdim[0];
    h->quatern[0] = n.quatern_b;
    h->quatern[1] = n.quatern_c;
    h->quatern[2] = n.quatern_d;
    NiftiGeometry &g = h->nifti;
    g.qform_code = n.qform_code;
    g.sform_code = n.sform_code;
    const float quatern[3] = {n.quatern_b, n.quatern_c, n.quatern_d};
    const float qoffset[3] = {n.qoffset_x, n.qoffset_y, n.qoffset_z};
    const float *srow[3] = {n.srow_x, n.srow_y, n.srow_z};
    for (int i = 0; i < 3; ++i) {
        g.quatern[i] = quatern[i];
        g.qoffset[i] = qoffset[i];
        for (int j = 0; j < 4; ++j) g.srow[i][j] = srow[i][j];
    }
    for (int i = 0; i < 8; ++i) g.pixdim[i] = n.pixdim[i];
    g.xyzt_units = n.xyzt_units;

    const DatatypeEntry *type = nullptr;
    for (const DatatypeEntry &entry : datatypes)
        if (entry.nifti == n.datatype) type = &entry;
    if (!type) {
        std::printf("Error: the Nifti data storage type %d is not supported.\n", n.datatype);
        return 1;
    }
    h->storage_type = type->storage;
    if (type->complex) h->data_kind = 1;
    if (n.dim[0] == 5 && n.dim[5] == 3) h->data_kind = 3;
    h->data_offset = n.vox_offset;
    // In a single file the samples follow the header and its extension.
    if (h->file_type == FILE_NII && !(n.vox_offset >= static_cast<float>(extensions_end))) {
        std::printf("Error: the data offset (%g) of file %s lies within its header and extensions (%lld bytes).\n",
                    static_cast<double>(n.vox_offset), header_name, static_cast<long long>(extensions_end));
        return 1;
    }

    const int sizes[4] = {h->nx, h->ny, h->nz, h->nt};
    const char axes[4] = {'x', 'y', 'z', 't'};
    for (int i = 0; i < 4; ++i)
        if (sizes[i] < 1) {
            std::printf("Error: Value for %c dimension not found in header file '%s'\n", axes[i], header_name);
            return 1;
        }

    Mat44 m;
    if (n.qform_code == 0) {
        if (verbose) std::printf("The NIFTI header for file %s uses Method 1: the old analyze format\n", file_name);
        for (float &o : h->origin) o = 0.0f;
        m = scale_and_shift_to_mat44(h->resolution, h->origin, h->direction);
    } else if (n.sform_code == 0) {
        if (verbose) std::printf("The NIFTI header for file %s uses Method 2: quaternion rotations\n", file_name);
        m = from_nifti(nifti_quatern_to_mat44(n.quatern_b, n.quatern_c, n.quatern_d, n.qoffset_x, n.qoffset_y,
                                              n.qoffset_z, n.pixdim[1], n.pixdim[2], n.pixdim[3], n.pixdim[0]));
    } else {
        if (verbose)
            std::printf("The NIFTI header for file %s uses Method 3: affine transformation of voxel indices\n",
                        file_name);
        m = general_affine_to_mat44(n.srow_x, n.srow_y, n.srow_z);
    }

    h->voxel_to_world = m;
    h->oblique = 0;
    for (int i = 0; i < 3; ++i) {
        h->origin[i] = m.m[i][3];
        h->direction[i] = m.m[i][i] > 0.0f ? 1.0f : -1.0f;
        for (int j = 0; j < 3; ++j)
            if (i != j && m.m[i][j] != 0.0f) h->oblique = 1;
    }
    return 0;
}
