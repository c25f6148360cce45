#include <nifti1_io.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "driver/globals.h"
#include "driver/output.h"
#include "numerics/arrays.h"
#include "glm/state.h"
#include "numerics/temp_files.h"
#include "volume/scratch_dir.h"

namespace {
constexpr int V = 5 * 4 * 3;

// First run geometry and a fit with 10 included time points and 3 basis
// functions, so 7 degrees of freedom.
// Each kind of map gets axis directions whose quaternion has another non-zero
// component (c, b, d).
void set_geometry(int output_format, int kind = -1) {
    GLM_release_model_state();
    GLM.ntime = 10, GLM.nbasis = 3;
    GLM.include = int_vector(10);  // released with the model state
    for (int t = 0; t < 10; ++t) GLM.include[t] = 1;
    GLM_input.output_format = output_format;
    file_list_root = RunEntry{};
    file_list_root.nx = 5, file_list_root.ny = 4, file_list_root.nz = 3;
    const float resolution[3] = {2.0f, 2.5f, 3.0f}, origin[3] = {-10.0f, 20.0f, 5.5f};
    const float directions[3][3] = {{-1, 1, 1}, {1, -1, -1}, {-1, -1, -1}};
    std::memcpy(file_list_root.resolution, resolution, sizeof resolution);
    std::memcpy(file_list_root.origin, origin, sizeof origin);
    std::memcpy(file_list_root.direction, directions[kind + 1], sizeof directions[0]);
    file_list_root.time_step = 2.0f;
}

// Creates the volume, writes its samples and returns the data file's name.
std::string write_volume(const std::string &name, int kind, int nvolumes) {
    std::FILE *stream = nullptr;
    EXPECT_EQ(open_output_file(kind, nvolumes, name.c_str(), &stream), 0);
    const std::vector<char> samples(static_cast<std::size_t>(V) * nvolumes * (kind == -1 ? 2 : 4), 7);
    EXPECT_EQ(std::fwrite(samples.data(), 1, samples.size(), stream), samples.size());
    EXPECT_TRUE(close_output(stream));
    return name + (GLM_input.output_format ? ".nii" : kind == -1 ? ".bshort" : ".bfloat");
}
// What nifticlib, an independent reader, finds in a NIfTI map: type, size,
// offset and extension, units (mm), the qform of the run's geometry and the same
// matrix in the (unused) srow rows.
void expect_nifticlib_reads(const std::string &file, int kind, int nvolumes) {
    nifti_image *nim = nifti_image_read(file.c_str(), 0);
    ASSERT_NE(nim, nullptr);
    nifti_1_header n;  // the fields nifticlib does not expose
    std::ifstream(file, std::ios::binary).read(reinterpret_cast<char *>(&n), sizeof n);
    EXPECT_EQ(std::vector<int>({nim->datatype, nim->nt, static_cast<int>(nim->iname_offset), nim->num_ext,
                                nim->num_ext ? nim->ext_list[0].ecode * 100 + nim->ext_list[0].esize : 0,
                                nim->qform_code * 10 + nim->sform_code, n.xyzt_units, n.regular, n.bitpix}),
              std::vector<int>({kind == -1 ? 4 : 16, nvolumes, kind == 1 ? 368 : 352, kind == 1, kind == 1 ? 2016 : 0,
                                10, NIFTI_UNITS_MM, 'r', kind == -1 ? 16 : 32}));
    const Mat44 m = scale_and_shift_to_mat44(file_list_root.resolution, file_list_root.origin, file_list_root.direction);
    const float *srow[3] = {n.srow_x, n.srow_y, n.srow_z};
    for (int i = 0; i < 12; ++i) {
        EXPECT_NEAR(nim->qto_xyz.m[i / 4][i % 4], m.m[i / 4][i % 4], 1e-6) << i;
        EXPECT_EQ(srow[i / 4][i % 4], m.m[i / 4][i % 4]) << i;
    }
    nifti_image_free(nim);
}
}  // namespace

TEST(OutputVolumes, EveryKindReadsBackThroughTheHeaderReader) {
    TempDir dir;
    for (int format : {0, 1})
        for (int kind : {-1, 0, 1}) {
            set_geometry(format, kind);
            const int nvolumes = kind == 1 ? 2 : 3;
            const std::string file = write_volume(dir / ("S-1-2_" + std::to_string(format) + std::to_string(kind)),
                                                  kind, nvolumes);
            SCOPED_TRACE(file);
            VolumeHeader h;
            int status;
            read_header(file, h, status);
            ASSERT_EQ(status, 0);
            EXPECT_EQ(h.nx * 1000 + h.ny * 100 + h.nz * 10 + h.nt, 5430 + nvolumes);
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(h.resolution[i], file_list_root.resolution[i]);
                EXPECT_EQ(h.origin[i], file_list_root.origin[i]);
                EXPECT_EQ(h.direction[i], file_list_root.direction[i]);
            }
            EXPECT_EQ(h.storage_type, kind == -1 ? STORAGE_SHORT : STORAGE_FLOAT);
            // xdisplay headers carry no time step; NIfTI keeps it and the offset.
            EXPECT_EQ(h.time_step, format ? 2.0f : 0.0f);
            const float offset = format == 0 ? 0.0f : kind == 1 ? 368.0f : 352.0f;
            EXPECT_EQ(h.data_offset, offset);
            EXPECT_EQ(h.dof, format == 0 || kind == 1 ? 7 : 0);
            EXPECT_EQ(std::filesystem::file_size(file), offset + V * nvolumes * (kind == -1 ? 2 : 4));
            if (format == 1) expect_nifticlib_reads(file, kind, nvolumes);
        }
    EXPECT_EQ(read_file(dir / "S-1-2_0-1.hdr"), "x 5\ny 4\nz 3\nt 3\nbyte-order " + std::to_string(machine_byte_order()) +
                        "\nresolution 2 2.5 3\norigin -10 20 5.5\ndirection -1 1 1\ndegrees-of-freedom 7\n");
}

TEST(OutputVolumes, FailuresToCreate) {
    TempDir dir;
    std::FILE *stream = nullptr;
    for (int format : {1, 0}) {
        set_geometry(format);
        const std::string name = dir / "missing/P-1";
        EXPECT_EQ(stdout_of([&] { EXPECT_EQ(open_output_file(0, 1, name.c_str(), &stream), 1); }),
                  format ? "Error: cannot open the header file " + name + ".nii.\n"
                         : "Error: cannot open the output file " + name + ".hdr\n");
    }
    // (xdisplay) Temporary names of 254 (header, "<name>.hdr.<pid>.tmp") and 257 characters (data): only the
    // header's fits a folder entry of 255. The run fails and leaves no file.
    const std::string longer = dir / std::string(245 - std::to_string(getpid()).size(), 'n');
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(open_output_file(0, 1, longer.c_str(), &stream), 1); }),
              "Error: cannot open the output file " + longer + ".bfloat\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    file_list_root.nx = 40000;  // does not fit the header's 16-bit sizes
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(write_nifti_header(0, 1, (dir / "big").c_str(), &stream), 1); }),
              "Error: the dimensions (40000,4,3,1) of " + dir / "big" + ".nii cannot be stored in a NIFTI-1 header.\n");
}
