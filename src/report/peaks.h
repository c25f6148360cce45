// Thresholds, clusters and peaks of a statistical map.
#pragma once

#include <vector>

// The value of a condition's map at which its test has an uncorrected p of
// p_value: |t| (one row) or sqrt(F) (several rows) with dof degrees of
// freedom, or, for a z map, the z of the same tail (two-sided for one row).
// NaN when dof is not positive.
double map_threshold(double p_value, int rows, double dof, bool z_map);

struct Peak {
    int x, y, z;
    float value;
    int cluster_size;  // voxels of its cluster
};

// Clusters are sets of voxels beyond the threshold (value > threshold, or
// value < -threshold) of one sign, joined through faces, edges or corners.
// A peak is a voxel of a cluster whose |value| exceeds that of its neighbours
// in the cluster (ties go to the voxel stored first). The peaks come ordered
// by decreasing |value|, at most max_peaks of them.
struct MapPeaks {
    std::vector<Peak> peaks;
    long long voxels = 0;  // beyond the threshold
    int clusters = 0;
};
MapPeaks find_peaks(const float *map, int nx, int ny, int nz, float threshold, int max_peaks);
