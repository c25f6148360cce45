#include "report/peaks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "glm/statistics.h"
#include "glm/z_score.h"

double map_threshold(double p_value, int rows, double dof, bool z_map) {
    if (!(dof > 0.0) || rows < 1) return std::nan("");
    if (z_map) return z_from_log_upper_tail(std::log(rows == 1 ? p_value / 2.0 : p_value));
    // The upper tail of F is ibeta(dof/2, rows/2, x) with x = dof / (dof + rows F),
    // increasing in x: bisection for the x of p_value.
    double low = 0.0, high = 1.0;
    for (int i = 0; i < 200 && high - low > 0.0; ++i) {
        const double middle = 0.5 * (low + high);
        if (middle == low || middle == high) break;
        (ibeta(dof / 2.0, rows / 2.0, middle) < p_value ? low : high) = middle;
    }
    const double x = 0.5 * (low + high);
    return std::sqrt(dof * (1.0 - x) / (rows * x));
}

MapPeaks find_peaks(const float *map, int nx, int ny, int nz, float threshold, int max_peaks) {
    MapPeaks result;
    const std::int64_t V = static_cast<std::int64_t>(nx) * ny * nz;
    // +1 / -1 beyond the threshold, 0 elsewhere (NaN included).
    const auto sign = [&](std::int64_t v) { return map[v] > threshold ? 1 : map[v] < -threshold ? -1 : 0; };
    // Cluster number + 1 of every voxel beyond the threshold, 0 elsewhere.
    std::vector<int> label(V, 0);
    std::vector<int> sizes;
    std::vector<std::int64_t> queue;
    const auto neighbours = [&](std::int64_t v, auto &&visit) {
        const int x = static_cast<int>(v % nx), y = static_cast<int>(v / nx % ny), z = static_cast<int>(v / nx / ny);
        for (int dz = -1; dz <= 1; ++dz)
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int i = x + dx, j = y + dy, k = z + dz;
                    if ((dx || dy || dz) && i >= 0 && j >= 0 && k >= 0 && i < nx && j < ny && k < nz)
                        visit((static_cast<std::int64_t>(k) * ny + j) * nx + i);
                }
    };
    for (std::int64_t seed = 0; seed < V; ++seed) {
        const int s = sign(seed);
        if (!s || label[seed]) continue;
        sizes.push_back(0);
        const int id = static_cast<int>(sizes.size());
        label[seed] = id;
        queue.assign(1, seed);
        while (!queue.empty()) {
            const std::int64_t v = queue.back();
            queue.pop_back();
            ++sizes.back();
            neighbours(v, [&](std::int64_t n) {
                if (!label[n] && sign(n) == s) label[n] = id, queue.push_back(n);
            });
        }
    }
    result.clusters = static_cast<int>(sizes.size());
    for (std::int64_t v = 0; v < V; ++v) {
        if (!label[v]) continue;
        ++result.voxels;
        const float height = std::fabs(map[v]);
        bool peak = true;
        neighbours(v, [&](std::int64_t n) {
            if (label[n] != label[v]) return;
            const float other = std::fabs(map[n]);
            if (other > height || (other == height && n < v)) peak = false;
        });
        if (peak)
            result.peaks.push_back({static_cast<int>(v % nx), static_cast<int>(v / nx % ny),
                                    static_cast<int>(v / nx / ny), map[v], sizes[label[v] - 1]});
    }
    std::stable_sort(result.peaks.begin(), result.peaks.end(),
                     [](const Peak &a, const Peak &b) { return std::fabs(a.value) > std::fabs(b.value); });
    if (static_cast<int>(result.peaks.size()) > max_peaks) result.peaks.resize(max_peaks);
    return result;
}
