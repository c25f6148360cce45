// Summarises the P maps of an analysis of a generated data set: for every
// active region of regions.txt, the largest P value (signed -log10 p) of the
// event's map inside the region and outside it.
//
//   fmriglm_map_summary regions.txt [map directory]
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "volume/volume_header.h"

namespace {

struct Region {
    int event, x0, x1, y0, y1, z0, z1;
};

std::vector<Region> read_regions(const char *path) {
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

// Reads the first volume of a float map; empty when it cannot be read.
std::vector<float> read_map(const std::string &name, VolumeHeader &h) {
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

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::printf("Usage: fmriglm_map_summary regions.txt [map directory]\n");
        return 1;
    }
    const std::string dir = argc > 2 ? std::string(argv[2]) + "/" : "";
    const std::vector<Region> regions = read_regions(argv[1]);
    if (regions.empty()) {
        std::printf("No regions found in %s\n", argv[1]);
        return 1;
    }
    std::printf("Largest P values (signed -log10 p) per event map:\n");
    int status = 0;
    for (const Region &r : regions) {
        VolumeHeader h;
        const std::string name = dir + "P-" + std::to_string(r.event) + ".nii";
        const std::vector<float> p = read_map(name, h);
        if (p.empty()) {
            std::printf("  cannot read %s\n", name.c_str());
            status = 1;
            continue;
        }
        float inside = -INFINITY, outside = -INFINITY;
        for (int z = 0; z < h.nz; ++z)
            for (int y = 0; y < h.ny; ++y)
                for (int x = 0; x < h.nx; ++x) {
                    const float value = p[static_cast<size_t>(x + h.nx * (y + h.ny * z))];
                    const bool in = x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1 && z >= r.z0 && z <= r.z1;
                    float &target = in ? inside : outside;
                    if (value > target) target = value;
                }
        std::printf("  event %d (%s): inside its active region %.2f, outside it %.2f\n", r.event, name.c_str(),
                    inside, outside);
    }
    return status;
}
