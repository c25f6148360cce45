// The brain mask: the voxels that are analysed.
#pragma once

#include <cstdint>
#include <vector>

// nullptr when every voxel is analysed; otherwise one byte per voxel of the
// runs' grid, non-zero for a voxel that is analysed.
extern const std::uint8_t *brain_mask;

inline bool voxel_in_mask(std::int64_t v) { return !brain_mask || brain_mask[v] != 0; }

// Sets up the mask named by the control file (keyword mask): read from an
// image on the runs' grid, or with "auto" derived from the first run and
// written to the volume "mask". Returns 0, or 1 after a message.
int set_up_brain_mask();

// The cut between background and brain among voxel means (help text,
// control-file keywords): starting from half the 98th percentile, the cut
// becomes half the median of the means above it until it stays put.
double automatic_mask_cut(std::vector<float> means);

// Drops a kept voxel that has no kept face neighbour and adds a voxel whose
// face neighbours inside the volume are all kept.
void remove_isolated_voxels(std::vector<std::uint8_t> &mask, int nx, int ny, int nz);
