// Summarises the P maps of an analysis of a generated data set: for every
// active region of regions.txt, the largest P value (signed -log10 p) of the
// event's map inside the region and outside it.
//
//   fmriglm_map_summary regions.txt [map directory]
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "map_files.h"

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
                    const bool in = r.contains(x, y, z);
                    float &target = in ? inside : outside;
                    if (value > target) target = value;
                }
        std::printf("  event %d (%s): inside its active region %.2f, outside it %.2f\n", r.event, name.c_str(),
                    inside, outside);
    }
    return status;
}
