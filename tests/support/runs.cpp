#include "support/runs.h"

#include <nifti1.h>

#include <fstream>

std::string write_xdisplay_run(const TempDir &dir, const std::string &name, RunSize n, const std::string &samples,
                               const std::string &extra, const std::string &tr) {
    dir.write(name.substr(0, name.rfind('.')) + ".hdr", "matrix " + std::to_string(n.nx) + " " + std::to_string(n.ny) +
                                                            " " + std::to_string(n.nz) + " " + std::to_string(n.nt) +
                                                            "\nresolution 1 1 1 " + tr + "\n" + extra);
    return dir.write(name, samples);
}

std::string write_nifti_run(const TempDir &dir, const std::string &name, RunSize n, short datatype,
                            const std::string &samples, long long offset) {
    nifti_1_header h{};
    h.sizeof_hdr = 348;
    h.dim[0] = 4;
    const int dims[4] = {n.nx, n.ny, n.nz, n.nt};
    for (int i = 0; i < 4; ++i) {
        h.dim[i + 1] = static_cast<short>(dims[i]);
        h.pixdim[i + 1] = i < 3 ? 1.0f : 2.0f;
    }
    h.datatype = datatype;
    h.vox_offset = static_cast<float>(offset);
    std::memcpy(h.magic, "n+1", 4);
    std::ofstream out(dir.file(name), std::ios::binary);
    out.write(reinterpret_cast<const char *>(&h), sizeof h);
    out.write("\0\0\0\0", 4);
    out.seekp(offset);
    out << samples;
    return dir.file(name);
}

std::vector<float> floats_of(const std::string &bytes, std::size_t offset) {
    std::vector<float> values((bytes.size() - offset) / sizeof(float));
    std::memcpy(values.data(), bytes.data() + offset, values.size() * sizeof(float));
    return values;
}
