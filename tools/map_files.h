// Reading the files of a generated data set and of its analysis: the active
// regions listed in regions.txt and the first volume of a float map.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "volume/volume_header.h"

// Inclusive voxel ranges of the region that an event drives.
struct Region {
    int event, x0, x1, y0, y1, z0, z1;
    bool contains(int x, int y, int z) const {
        return x >= x0 && x <= x1 && y >= y0 && y <= y1 && z >= z0 && z <= z1;
    }
};

// The regions of a regions.txt file; empty when it cannot be read.
inline std::vector<Region> read_regions(const char *path) {
    std::vector<Region> regions;
    std::FILE *f = std::fopen(path, "r");
    if (!f) return regions;
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        Region r;
        if (std::sscanf(line, "%d %d %d %d %d %d %d", &r.event, &r.x0, &r.x1, &r.y0, &r.y1, &r.z0, &r.z1) == 7)
            regions.push_back(r);
    }
    std::fclose(f);
    return regions;
}

// The first volume of a float map; empty when it cannot be read.
inline std::vector<float> read_map(const std::string &name, VolumeHeader &h) {
    std::vector<float> values;
    if (read_volume_header(0, name.c_str(), &h) || h.storage_type != STORAGE_FLOAT) return values;
    std::FILE *f = std::fopen(name.c_str(), "rb");
    if (!f) return values;
    values.resize(static_cast<size_t>(h.volume_size));
    if (std::fseek(f, static_cast<long>(h.data_offset), SEEK_SET) != 0 ||
        std::fread(values.data(), sizeof(float), values.size(), f) != values.size())
        values.clear();
    std::fclose(f);
    return values;
}
