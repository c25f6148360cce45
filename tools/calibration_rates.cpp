// False-positive rates and detection power of a P map (signed -log10 p) of a
// generated data set. Voxels outside every active region of regions.txt carry
// no effect: the share of them with |P| > -log10(alpha) is the false-positive
// rate at alpha, checked against the central interval of Binomial(n, alpha)
// that holds the given share of its probability (default 99.9 %). Voxels inside
// the region of the map's event carry the known effect: their share above the
// same thresholds is the detection power.
//
//   fmriglm_calibration_rates [--confidence C] regions.txt P-map event
//   fmriglm_calibration_rates --header
//
// Prints one table line; the exit status is 0 when both rates lie inside
// their intervals, 2 when one does not ("OUT"), 1 when a file cannot be read.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "map_files.h"

namespace {

constexpr double ALPHAS[2] = {0.05, 0.001};

struct Interval {
    std::int64_t lo, hi;  // counts
};

// Smallest counts lo, hi with P(X <= lo) > (1 - c) / 2 and P(X <= hi) >= (1 + c) / 2
// for X ~ Binomial(n, p): P(X < lo) and P(X > hi) are each at most (1 - c) / 2.
Interval binomial_interval(std::int64_t n, double p, double c) {
    const double low_tail = 0.5 * (1.0 - c), high_tail = 0.5 * (1.0 + c);
    const double log_n1 = std::lgamma(static_cast<double>(n) + 1.0);
    Interval in{-1, n};
    double cdf = 0.0;
    for (std::int64_t k = 0; k <= n; ++k) {
        const double kd = static_cast<double>(k), rest = static_cast<double>(n - k);
        cdf += std::exp(log_n1 - std::lgamma(kd + 1.0) - std::lgamma(rest + 1.0) + kd * std::log(p) +
                        rest * std::log1p(-p));
        if (in.lo < 0 && cdf > low_tail) in.lo = k;
        if (cdf >= high_tail) {
            in.hi = k;
            break;
        }
    }
    if (in.lo < 0) in.lo = in.hi;
    return in;
}

[[noreturn]] void usage() {
    std::printf("Usage: fmriglm_calibration_rates [--confidence C] regions.txt P-map event\n"
                "       fmriglm_calibration_rates --header\n");
    std::exit(1);
}

}  // namespace

int main(int argc, char **argv) {
    double confidence = 0.999;
    int first = 1;
    if (argc == 2 && std::strcmp(argv[1], "--header") == 0) {
        std::printf(" voxels   FP rate p<0.05 [interval]        FP rate p<0.001 [interval]        power .05  .001\n");
        return 0;
    }
    if (argc > 2 && std::strcmp(argv[1], "--confidence") == 0) {
        confidence = std::atof(argv[2]);
        first = 3;
    }
    if (argc - first != 3 || !(confidence > 0.0 && confidence < 1.0)) usage();
    const std::vector<Region> regions = read_regions(argv[first]);
    VolumeHeader h;
    const std::vector<float> p = read_map(argv[first + 1], h);
    const int event = std::atoi(argv[first + 2]);
    if (regions.empty() || p.empty()) {
        std::printf("cannot read the regions %s or the float map %s\n", argv[first], argv[first + 1]);
        return 1;
    }

    std::int64_t null_voxels = 0, effect_voxels = 0, false_positives[2] = {0, 0}, detections[2] = {0, 0};
    for (int z = 0; z < h.nz; ++z)
        for (int y = 0; y < h.ny; ++y)
            for (int x = 0; x < h.nx; ++x) {
                const float value = std::fabs(p[static_cast<size_t>(x + h.nx * (y + h.ny * z))]);
                bool in_any = false, in_effect = false;
                for (const Region &r : regions) {
                    in_any = in_any || r.contains(x, y, z);
                    in_effect = in_effect || (r.event == event && r.contains(x, y, z));
                }
                if (in_any && !in_effect) continue;  // another event's effect
                std::int64_t *count = in_effect ? detections : false_positives;
                ++(in_effect ? effect_voxels : null_voxels);
                for (int a = 0; a < 2; ++a)
                    if (value > -std::log10(ALPHAS[a])) ++count[a];  // NaN counts as not significant
            }
    if (null_voxels == 0) {
        std::printf("no voxel of %s lies outside the active regions\n", argv[first + 1]);
        return 1;
    }

    int status = 0;
    std::printf("%7lld", static_cast<long long>(null_voxels));
    for (int a = 0; a < 2; ++a) {
        const Interval in = binomial_interval(null_voxels, ALPHAS[a], confidence);
        const bool ok = false_positives[a] >= in.lo && false_positives[a] <= in.hi;
        if (!ok) status = 2;
        const double scale = 100.0 / static_cast<double>(null_voxels);
        const int digits = a == 0 ? 2 : 3;
        std::printf("   %7.*f %% [%.*f, %.*f] %-3s", digits, false_positives[a] * scale, digits, in.lo * scale, digits,
                    in.hi * scale, ok ? "ok" : "OUT");
    }
    if (effect_voxels > 0)
        std::printf("   %6.1f %% %5.1f %%\n", 100.0 * detections[0] / effect_voxels,
                    100.0 * detections[1] / effect_voxels);
    else
        std::printf("        -       -\n");
    return status;
}
