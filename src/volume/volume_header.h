// The record that describes one image volume file, and the readers that fill
// it from xdisplay, NIfTI-1 and freesurfer headers.
#pragma once

#include "glm/state.h"

struct Mat44 {
    float m[4][4];
};

// File type codes, from the file name's extension.
enum FileType {
    FILE_UNKNOWN = -1,
    FILE_BSHORT = 1,
    FILE_BFLOAT = 2,
    FILE_BLONG = 3,
    FILE_USHORT = 4,
    FILE_BDOUBLE = 6,
    FILE_NII = 7,
    FILE_IMG = 8,
    FILE_FREESURFER = 9,
};

// Storage type codes of the samples.
enum StorageType {
    STORAGE_UNKNOWN = -1,
    STORAGE_SHORT = 1,
    STORAGE_FLOAT = 2,
    STORAGE_LONG = 3,
    STORAGE_USHORT = 4,
    STORAGE_UCHAR = 5,
    STORAGE_DOUBLE = 6,
};

// The world geometry fields of a NIfTI-1 header as stored (after any byte
// swap). The output volumes of an analysis whose first run is NIfTI carry them
// unchanged.
struct NiftiGeometry {
    short qform_code, sform_code;
    float quatern[3];  // b, c, d
    float qoffset[3];
    float srow[3][4];
    float pixdim[8];  // pixdim[0] is qfac
    char xyzt_units;
};

struct VolumeHeader {
    char file_name[NAME_SIZE];
    int nx, ny, nz;
    float resolution[3];
    float origin[3];
    float direction[3];
    float extent[3];
    float time_step;
    int nt;
    int slice_size;
    int volume_size;
    int total_size;
    int byte_order;  // 1 least significant byte first, 0 most significant first
    Mat44 voxel_to_world;
    Mat44 world_to_voxel;
    int oblique;
    int file_type;
    int storage_type;
    int data_kind;  // 0 magnitude, 1 complex, 2 magnitude-phase, 3 vector
    int dof;
    float data_offset;
    float scale_slope, scale_inter;
    float qfac;
    float quatern[3];
    int registration;
    NiftiGeometry nifti;  // zero unless the file is NIfTI
};

int read_volume_header(int verbose, const char *file_name, VolumeHeader *header);
int read_xdisplay_header(const char *file_name, VolumeHeader *header);
int decode_xdisplay_header_keyword(char *line, VolumeHeader *header);
int read_nifti_header(int verbose, const char *file_name, VolumeHeader *header);
int read_freesurfer_header(const char *file_name, VolumeHeader *header);

// One keyword line of a freesurfer .bhdr file into the header or the geometry
// values (three corners, slice normal, TE, TR, TI, flip angle): 0, or 1 for an
// unknown keyword.
constexpr int FREESURFER_GEOMETRY_VALUES = 16;
int decode_freesurfer_header_keyword(char *line, VolumeHeader *header, float geometry[FREESURFER_GEOMETRY_VALUES]);

// The extension (text after the last '.') goes into scratch and its code into
// file_type; scratch and result hold NAME_SIZE characters.
int get_extension(char *file_name, int *file_type, char *scratch);
int replace_extension(const char *file_name, int *file_type, const char *new_extension, char *result);

// A gzip-compressed NIfTI-1 file (a name ending in .nii.gz) is read through an
// uncompressed copy, made on the first call for the name: uncompressed_name
// gives the name to open for reading (the copy's, or the name itself for other
// files), or nullptr after a message. release_uncompressed removes the copy;
// streams open on it keep reading it.
bool is_compressed_nifti(const char *file_name);
const char *uncompressed_name(const char *file_name);
void release_uncompressed(const char *file_name);

int machine_byte_order();
void swap_16(void *two_bytes);
void swap_32(void *four_bytes);

Mat44 scale_and_shift_to_mat44(const float resolution[3], const float origin[3], const float direction[3]);
Mat44 general_affine_to_mat44(const float row_x[4], const float row_y[4], const float row_z[4]);
// Ends the program when m is singular; a file name given is named, with the
// cause, before the failing row.
Mat44 invert_mat44(const Mat44 &m, const char *file_name = nullptr);
