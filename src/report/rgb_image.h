// An 8-bit RGB picture in memory, the text drawn into it, and its PNG file.
#pragma once

#include <cstdint>
#include <vector>

struct Rgb {
    std::uint8_t r, g, b;
};

class RgbImage {
public:
    RgbImage(int width, int height, Rgb background = {255, 255, 255})
        : width_(width), height_(height), pixels_(3 * static_cast<std::size_t>(width) * height) {
        fill(0, 0, width, height, background);
    }
    int width() const { return width_; }
    int height() const { return height_; }
    const std::uint8_t *data() const { return pixels_.data(); }
    // Pixels outside the picture are left out.
    void set(int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        std::uint8_t *p = &pixels_[3 * (static_cast<std::size_t>(y) * width_ + x)];
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }
    void fill(int x, int y, int w, int h, Rgb c) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) set(i, j, c);
    }

private:
    int width_, height_;
    std::vector<std::uint8_t> pixels_;
};

// Text in a 5 x 7 pixel font on a 6 x 8 grid, every font pixel a scale x
// scale square. (x, y) is the top left corner of the text; text drawn upward
// is turned a quarter turn counterclockwise and starts at (x, y) bottom left.
constexpr int GLYPH_ADVANCE = 6, GLYPH_HEIGHT = 8;
void draw_text(RgbImage &image, int x, int y, const char *text, Rgb color, int scale = 1, bool upward = false);
int text_length(const char *text, int scale = 1);  // pixels along the text

// Writes the picture as an 8-bit RGB PNG file through create_output; false
// (nothing under the name) on failure.
bool write_png(const char *name, const RgbImage &image);
