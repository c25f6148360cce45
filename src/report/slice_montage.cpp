#include "report/slice_montage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

std::vector<std::uint8_t> background_levels(const float *image, long long nvoxels) {
    std::vector<float> positive;
    for (long long v = 0; v < nvoxels; ++v)
        if (image[v] > 0.0f && std::isfinite(image[v])) positive.push_back(image[v]);
    float white = 1.0f;
    if (!positive.empty()) {
        auto at = positive.begin() + static_cast<long long>(0.99 * static_cast<double>(positive.size() - 1));
        std::nth_element(positive.begin(), at, positive.end());
        white = *at;
    }
    std::vector<std::uint8_t> levels(nvoxels);
    for (long long v = 0; v < nvoxels; ++v) {
        const float level = image[v] > 0.0f ? std::min(image[v] / white, 1.0f) : 0.0f;
        levels[v] = static_cast<std::uint8_t>(std::lround(220.0f * level));
    }
    return levels;
}

MontageLayout montage_layout(int nx, int ny, int nz) {
    MontageLayout layout{nx, ny, nz, std::clamp(160 / std::max(nx, ny), 1, 8), {}, 1};
    const int count = std::min(nz, 40);
    for (int k = 0; k < count; ++k) layout.slices.push_back(count == nz ? k : k * (nz - 1) / (count - 1));
    layout.columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    return layout;
}

RgbImage slice_montage(const MontageLayout &layout, const std::vector<std::uint8_t> &background, const float *map,
                       float threshold, float top) {
    const int s = layout.scale, tile_w = layout.nx * s + 2, tile_h = layout.ny * s + 2;
    const int count = static_cast<int>(layout.slices.size());
    const int rows = (count + layout.columns - 1) / layout.columns;
    RgbImage image(layout.columns * tile_w, rows * tile_h, {64, 64, 64});
    const float span = top > threshold ? top - threshold : 1.0f;
    for (int k = 0; k < count; ++k) {
        const int z = layout.slices[k], x0 = k % layout.columns * tile_w + 1, y0 = k / layout.columns * tile_h + 1;
        for (int y = 0; y < layout.ny; ++y)
            for (int x = 0; x < layout.nx; ++x) {
                const long long v = (static_cast<long long>(z) * layout.ny + y) * layout.nx + x;
                const std::uint8_t g = background[v];
                Rgb c{g, g, g};
                const float value = map[v];
                if (value > threshold || value < -threshold) {
                    const float f = std::clamp((std::fabs(value) - threshold) / span, 0.0f, 1.0f);
                    const auto rising = static_cast<std::uint8_t>(std::lround(255.0f * f));
                    c = value > 0.0f ? Rgb{255, rising, 0} : Rgb{0, rising, 255};
                }
                image.fill(x0 + x * s, y0 + (layout.ny - 1 - y) * s, s, s, c);
            }
        const std::string number = std::to_string(z);
        image.fill(x0, y0, text_length(number.c_str()) + 3, GLYPH_HEIGHT + 2, {0, 0, 0});
        draw_text(image, x0 + 2, y0 + 2, number.c_str(), {255, 255, 255});
    }
    return image;
}
