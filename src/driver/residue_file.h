// The residue volume, written block by block while the voxel loop runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// The residue volume holds voxel v at time point tau at byte H + (tau V + v) s.
// A block's residues are kept in the block buffer in the same tau-major order,
// so that each time point's values of the block go out in one write.
class ResidueWriter {
public:
    // mode 0: no residues; 1: 16-bit integers; 2: floats. Returns 1 when the
    // volume cannot be made (after a message).
    int open(int mode, int ntime, int nvoxels);
    bool active() const { return mode_ != 0; }
    // Writes the residues of voxels first .. first + n - 1, stored at values[tau * n + j].
    void write_block(const float *values, int first, int n);
    void close();

private:
    int mode_ = 0, ntime_ = 0, nvoxels_ = 0, sample_size_ = 4, header_bytes_ = 0;
    std::FILE *stream_ = nullptr;
    std::vector<std::int16_t> shorts_;
};
