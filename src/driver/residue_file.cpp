#include "driver/residue_file.h"

#include <sys/types.h>

#include <cstdlib>

#include "driver/output.h"
#include "glm/state.h"
#include "numerics/temp_files.h"

namespace {

// Truncates toward zero and keeps the value inside the 16-bit range.
std::int16_t to_short(float value) {
    if (!(value == value)) return 0;
    if (value >= 32767.0f) return 32767;
    if (value <= -32768.0f) return -32768;
    return static_cast<std::int16_t>(static_cast<int>(value));
}

}  // namespace

int ResidueWriter::open(int mode, int ntime, int nvoxels) {
    mode_ = mode;
    if (mode == 0) return 0;
    ntime_ = ntime;
    nvoxels_ = nvoxels;
    sample_size_ = mode == 1 ? 2 : 4;
    header_bytes_ = GLM_input.output_format ? 352 : 0;
    std::printf("Initializing residue file ...");
    if (open_output_file(mode == 1 ? -1 : 0, ntime, "residue", &stream_)) return 1;
    return 0;
}

void ResidueWriter::write_block(const float *values, int first, int n) {
    if (mode_ == 1) shorts_.resize(n);
    for (int tau = 0; tau < ntime_; ++tau) {
        const off_t position =
            header_bytes_ + (static_cast<off_t>(tau) * nvoxels_ + first) * static_cast<off_t>(sample_size_);
        const float *row = values + static_cast<std::int64_t>(tau) * n;
        bool ok = fseeko(stream_, position, SEEK_SET) == 0;
        if (ok && mode_ == 1) {
            for (int j = 0; j < n; ++j) shorts_[j] = to_short(row[j]);
            ok = std::fwrite(shorts_.data(), 2, n, stream_) == static_cast<std::size_t>(n);
        } else if (ok) {
            ok = std::fwrite(row, 4, n, stream_) == static_cast<std::size_t>(n);
        }
        if (!ok) {
            std::printf("Error writing the fMRI output file.\n");
            std::exit(1);
        }
    }
}

void ResidueWriter::close() {
    if (stream_ && !close_output(stream_)) {
        std::printf("Error writing the fMRI output file.\n");
        std::exit(1);
    }
    stream_ = nullptr;
}
