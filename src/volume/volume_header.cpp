#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "volume/volume_header.h"

namespace {
void set_defaults(VolumeHeader *h) {
    h->nx = h->ny = h->nz = h->nt = 0;
    for (int i = 0; i < 3; ++i) {
        h->resolution[i] = 1.0f;
        h->origin[i] = 0.0f;
        h->direction[i] = 1.0f;
        h->extent[i] = 0.0f;
        h->quatern[i] = 0.0f;
    }
    h->time_step = 0.0f;
    h->slice_size = h->volume_size = h->total_size = 0;
    h->byte_order = machine_byte_order();
    const float zeros[3] = {0.0f, 0.0f, 0.0f}, ones[3] = {1.0f, 1.0f, 1.0f};
    h->voxel_to_world = scale_and_shift_to_mat44(ones, zeros, ones);
    h->world_to_voxel = h->voxel_to_world;
    h->oblique = 0;
    h->file_type = FILE_UNKNOWN;
    h->storage_type = STORAGE_UNKNOWN;
    h->data_kind = 0;
    h->dof = 0;
    h->data_offset = 0.0f;
    h->scale_slope = h->scale_inter = 0.0f;
    h->qfac = 0.0f;
    h->registration = 0;
    h->nifti = NiftiGeometry{};
}

// True when the name has an extension: a '.' after its last '/'.
bool has_extension(const char *name) {
    const char *slash = std::strrchr(name, '/');
    return std::strchr(slash ? slash + 1 : name, '.') != nullptr;
}

// The sizes must be non-negative and the sample count must fit an int; the
// data offset must be a byte position that, together with the samples
// behind it, fits a 64-bit file position.
int check_sizes(const VolumeHeader *h) {
    if (h->nx < 0 || h->ny < 0 || h->nz < 0 || h->nt < 0) {
        std::printf("Error: the header of file %s gives negative dimensions (%d,%d,%d,%d).\n", h->file_name, h->nx,
                    h->ny, h->nz, h->nt);
        return 1;
    }
    const std::int64_t volume = static_cast<std::int64_t>(h->nx) * h->ny * h->nz;
    if (volume > INT_MAX || volume * h->nt > INT_MAX) {
        std::printf("Error: the volume of file %s (%d x %d x %d x %d samples) is too large.\n", h->file_name, h->nx,
                    h->ny, h->nz, h->nt);
        return 1;
    }
    // 8 bytes is the widest sample of any storage type; with at most INT_MAX
    // samples an offset below 2^62 keeps every byte position within 64 bits.
    if (!std::isfinite(h->data_offset) || h->data_offset < 0.0f || h->data_offset >= 0x1p62f) {
        std::printf("Error: the data offset (%g) of file %s is not a valid byte position.\n", h->data_offset,
                    h->file_name);
        return 1;
    }
    return 0;
}

void report(const VolumeHeader *h) {
    switch (h->data_kind) {
        case 0: std::printf("magnitude data, "); break;
        case 1: std::printf("complex data, "); break;
        case 2: std::printf("magnitude-phase data, "); break;
        default: break;
    }
    switch (h->storage_type) {
        case STORAGE_SHORT: std::printf("short ints, "); break;
        case STORAGE_LONG: std::printf("long ints\n"); break;
        case STORAGE_FLOAT: std::printf("floating point\n"); break;
        case STORAGE_UCHAR: std::printf("bytes\n"); break;
        default: break;
    }
    std::printf("voxels (%d,%d,%d,%d), res (%g,%g,%g,%g)\n", h->nx, h->ny, h->nz, h->nt, h->resolution[0],
                h->resolution[1], h->resolution[2], h->time_step);
}
}  // namespace

int read_volume_header(int verbose, const char *file_name, VolumeHeader *h) {
    if (std::snprintf(h->file_name, sizeof h->file_name, "%s", file_name) >= NAME_SIZE) {
        std::printf("Error: the file name %s is too long.\n", file_name);
        return 1;
    }
    set_defaults(h);
    const std::size_t length = std::strlen(h->file_name);

    int status;
    if (length > 0 && h->file_name[length - 1] == '_') {
        status = read_freesurfer_header(h->file_name, h);
    } else if (has_extension(h->file_name)) {
        char extension[NAME_SIZE];
        int code;
        if (get_extension(h->file_name, &code, extension)) return 1;
        if (is_compressed_nifti(h->file_name)) code = FILE_NII;
        if (code == FILE_NII || code == FILE_IMG) {
            h->file_type = code;
            if (code == FILE_IMG && verbose)
                std::printf("Files with .img extensions are assumed to be NIFTI, not ANALYZE\n");
            status = read_nifti_header(verbose, h->file_name, h);
        } else {
            h->file_type = h->storage_type = code;
            status = read_xdisplay_header(h->file_name, h);
            if (status && std::strcmp(extension, "gz") == 0)
                std::printf("Of compressed files only NIfTI-1 files named .nii.gz are read; %s is not one.\n",
                            h->file_name);
        }
    } else {
        char header_name[NAME_SIZE];
        if (std::snprintf(header_name, sizeof header_name, "%s.hdr", h->file_name) >= NAME_SIZE) {
            std::printf("Error: the file name %s is too long.\n", h->file_name);
            return 1;
        }
        h->storage_type = STORAGE_UNKNOWN;
        status = read_xdisplay_header(header_name, h);
        if (status == 0 && h->storage_type < 1) {
            std::printf("Error: the file type is not recognized,\n");
            std::printf("so it was assumed to be an xdisplay file without an extension.\n");
            std::printf("However, the storage type was not read from file %s\n", header_name);
            std::printf("Valid types end in .nii, .img, .bshort, .bfloat, .blong, or _'\n");
            return 1;
        }
        if (status == 0) h->file_type = h->storage_type;
    }
    if (status) return 1;
    if (check_sizes(h)) return 1;

    h->world_to_voxel = invert_mat44(h->voxel_to_world, h->file_name);
    const int n[3] = {h->nx, h->ny, h->nz};
    for (int i = 0; i < 3; ++i) h->extent[i] = static_cast<float>(n[i]) * h->resolution[i];
    h->slice_size = h->nx * h->ny;
    h->volume_size = h->slice_size * h->nz;
    h->total_size = h->volume_size * h->nt;
    if (verbose) report(h);
    return 0;
}
