// Axial slices of a statistical map over an anatomical background.
#pragma once

#include <vector>

#include "report/rgb_image.h"

// The background of every montage: the image's values as gray levels
// (0 black, the 99th percentile of the positive values white).
std::vector<std::uint8_t> background_levels(const float *image, long long nvoxels);

// The slices z (at most 40 of them, evenly spread) side by side in rows, each
// with x to the right and y upward and its z number in a corner. Map values
// beyond +threshold go from red to yellow at +top, beyond -threshold from
// blue to cyan at -top.
struct MontageLayout {
    int nx, ny, nz;
    int scale;                // pixels per voxel edge
    std::vector<int> slices;  // the z of each tile
    int columns;
};
MontageLayout montage_layout(int nx, int ny, int nz);
RgbImage slice_montage(const MontageLayout &layout, const std::vector<std::uint8_t> &background, const float *map,
                       float threshold, float top);
