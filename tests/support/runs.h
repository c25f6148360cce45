// Runs written by tests: xdisplay (keyword header beside raw samples) and
// single-file NIfTI-1, from samples in file order (x fastest, then y, z, time).
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/cli.h"

// Samples stored as type T, in the other byte order when swap is set.
template <typename T, typename V>
std::string sample_bytes(const std::vector<V> &values, bool swap = false) {
    std::string bytes;
    for (V value : values) {
        char raw[sizeof(T)];
        const T stored = static_cast<T>(value);
        std::memcpy(raw, &stored, sizeof(T));
        if (swap) std::reverse(raw, raw + sizeof(T));
        bytes.append(raw, sizeof(T));
    }
    return bytes;
}

// Run dimensions x, y, z and number of volumes.
struct RunSize {
    int nx, ny, nz, nt;
};

// `name` (data file) and its .hdr: matrix, resolution 1 mm and TR, then the extra keyword lines.
std::string write_xdisplay_run(const TempDir &dir, const std::string &name, RunSize n, const std::string &samples,
                               const std::string &extra = "", const std::string &tr = "2");

// A NIfTI-1 file of the given datatype code whose samples start at byte `offset`.
std::string write_nifti_run(const TempDir &dir, const std::string &name, RunSize n, short datatype,
                            const std::string &samples, long long offset = 352);

// The floats stored in bytes from `offset` on.
std::vector<float> floats_of(const std::string &bytes, std::size_t offset = 0);
