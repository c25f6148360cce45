// PNG files through libpng's simplified writing interface.
#include <png.h>

#include <cstring>

#include "numerics/temp_files.h"
#include "report/rgb_image.h"

bool write_png(const char *name, const RgbImage &image) {
    std::FILE *stream = create_output(name);
    if (!stream) return false;
    png_image description;
    std::memset(&description, 0, sizeof description);
    description.version = PNG_IMAGE_VERSION;
    description.width = static_cast<png_uint_32>(image.width());
    description.height = static_cast<png_uint_32>(image.height());
    description.format = PNG_FORMAT_RGB;
    const bool written =
        png_image_write_to_stdio(&description, stream, 0, image.data(), 3 * image.width(), nullptr) != 0;
    png_image_free(&description);
    return close_output(stream, written);
}
