#include "roi/overlays.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "driver/globals.h"
#include "driver/runs.h"
#include "numerics/text_lines.h"

Overlay ovl_root = {};

namespace {

void release_arrays(Overlay *overlay) {
    free_ipoint3d_vector(overlay->coordinates);
    free_float_vector(overlay->weights);
    free_float_vector(overlay->time_series);
    overlay->coordinates = nullptr;
    overlay->weights = nullptr;
    overlay->time_series = nullptr;
}

// Overlays behind the list head, with their arrays; they live until
// release_overlays() or the end of the process.
struct OverlayStore {
    std::vector<std::unique_ptr<Overlay>> records;
    void clear() {
        for (auto &overlay : records) release_arrays(overlay.get());
        records.clear();
    }
    ~OverlayStore() { clear(); }
};
OverlayStore overlay_records;

std::int64_t image_voxels() {
    return static_cast<std::int64_t>(file_list_root.nx) * file_list_root.ny * file_list_root.nz;
}

// Reads one line with its comment removed; a line too long for the line
// buffer is refused. Returns 1 with the line, 0 at end of file, -1 after the
// message for a line that is too long.
int read_line(std::FILE *stream, char *buffer, int line_number, const char *path) {
    const LineStatus status = read_text_line(stream, buffer);
    if (status == LineStatus::end_of_file) return 0;
    if (status == LineStatus::ok) return 1;
    std::printf("Error: line %d of file %s is longer than %d characters.\n", line_number, path, LINE_BUFFER_SIZE - 1);
    return -1;
}

}  // namespace

Overlay *new_overlay(const char *name) {
    Overlay *overlay = nullptr;
    try {
        overlay_records.records.push_back(std::make_unique<Overlay>());
        overlay = overlay_records.records.back().get();
    } catch (const std::bad_alloc &) {
        std::printf("Error: memory problem creating a new ovl structure in the list.\n");
        std::exit(1);
    }
    *overlay = Overlay{};
    std::snprintf(overlay->name, NAME_SIZE, "%s", name);
    const std::int64_t capacity = image_voxels();
    if (capacity > INT32_MAX) {
        std::printf("Error: memory problem creating a new ovl structure in the list.\n");
        std::exit(1);
    }
    overlay->capacity = static_cast<int>(capacity);
    overlay->coordinates = ipoint3d_vector(capacity);
    overlay->weights = float_vector(capacity);
    for (std::int64_t k = 0; k < capacity; ++k) {
        overlay->coordinates[k] = ipoint3d{0, 0, 0};
        overlay->weights[k] = 0.0f;
    }
    Overlay *last = &ovl_root;
    while (last->next) last = last->next;
    last->next = overlay;
    return overlay;
}

void release_overlays() {
    overlay_records.clear();
    ovl_root = Overlay{};
}

int read_overlay_file(const char *path, Overlay *overlay) {
    std::FILE *stream = std::fopen(path, "r");
    if (!stream) {
        std::printf("Error opening file %s\n", path);
        return 1;
    }
    const int nx = file_list_root.nx, ny = file_list_root.ny, nz = file_list_root.nz;
    char line[LINE_BUFFER_SIZE];
    float sum = 0.0f;
    int status = 0, line_number = 0;
    while ((status = read_line(stream, line, ++line_number, path)) == 1) {
        // Voxel indices within the image (an index beyond an int is outside
        // too, not wrapped), then an optional weight.
        int v[3];
        const int size[3] = {nx, ny, nz};
        const char *p = line;
        IntRead read = IntRead::ok;
        for (int i = 0; i < 3 && read == IntRead::ok; ++i) read = read_int(&p, &v[i], 0, size[i] - 1);
        if (read == IntRead::missing) {
            std::printf("Error: The syntax in an overlay file can be one of the following:\n");
            std::printf("1)  x y z         (voxel indices), OR\n");
            std::printf("2)  x y z weight  (for variable weight in range 0:1)\n");
            status = -1;
            break;
        }
        if (read == IntRead::out_of_range) {
            std::printf("Error: the overlay in file .ovl does not agree with the image dimensions.\n");
            std::printf("Error reading line %d of file '%s'\n", line_number, path);
            status = -1;
            break;
        }
        const int x = v[0], y = v[1], z = v[2];
        char *end = nullptr;
        float weight = std::strtof(p, &end);
        if (end == p) weight = 1.0f;
        // Written so that a weight that is not a number is refused as well.
        if (!(weight >= 0.0f && weight <= 1.0f)) {
            std::printf("Error: use weight values <= 1. in overlays.\n");
            status = -1;
            break;
        }
        if (overlay->nvoxels >= overlay->capacity) {
            std::printf("Error: the overlay file %s has more voxel lines than the image has voxels (%d).\n", path,
                        overlay->capacity);
            status = -1;
            break;
        }
        overlay->coordinates[overlay->nvoxels] = ipoint3d{x, y, z};
        overlay->weights[overlay->nvoxels] = weight;
        sum += weight;
        ++overlay->nvoxels;
    }
    std::fclose(stream);
    if (status < 0) return 1;
    if (overlay->nvoxels == 0) {
        std::printf("Error: the overlay file %s lists no voxels.\n", path);
        return 1;
    }
    if (sum != 0.0f)
        for (int k = 0; k < overlay->nvoxels; ++k) overlay->weights[k] /= sum;
    return 0;
}

int read_overlay_list(const char *path) {
    std::FILE *stream = std::fopen(path, "r");
    if (!stream) {
        std::printf("Error: cannot open the file %s.\n", path);
        return 1;
    }
    char line[LINE_BUFFER_SIZE];
    int status = 0, line_number = 0, count = 0;
    while ((status = read_line(stream, line, ++line_number, path)) == 1) {
        if (is_blank_line(line)) continue;
        ++count;
        // The name is the first word and the file name the word after it,
        // wherever on the line the name begins.
        char name[LINE_BUFFER_SIZE], file_name[LINE_BUFFER_SIZE];
        int name_end = 0;
        if (std::sscanf(line, " %1023s%n", name, &name_end) != 1 ||
            std::sscanf(line + name_end, "%1023s", file_name) != 1) {
            std::printf("Error reading the file name for overlay %d.\n", count);
            status = -1;
            break;
        }
        Overlay *overlay = new_overlay(name);
        if (read_overlay_file(file_name, overlay)) {
            status = -1;
            break;
        }
    }
    std::fclose(stream);
    if (status < 0) return 1;
    if (count == 0) {
        std::printf("Error: the overlay list %s names no overlays.\n", path);
        return 1;
    }
    return 0;
}

int read_ROIs() {
    std::printf("\nRead ROIs from file(s) ...\n\n");
    const std::int64_t V = image_voxels();
    std::int64_t total = 0;
    for (RunEntry *run = &file_list_root; run; run = run->next) total += run->nt;
    if (total > INT32_MAX) {
        std::printf("Error: too many time points (%lld) for the ROI time series.\n", static_cast<long long>(total));
        return 1;
    }
    const int T = static_cast<int>(total);

    // Linear voxel positions, worked out once rather than for every volume.
    std::vector<OwnedVector<std::int64_t>> positions;
    for (Overlay *overlay = ovl_root.next; overlay; overlay = overlay->next) {
        free_float_vector(overlay->time_series);
        overlay->ntimepoints = T;
        overlay->time_series = float_vector(T);
        for (int t = 0; t < T; ++t) overlay->time_series[t] = 0.0f;
        OwnedVector<std::int64_t> position(overlay->nvoxels > 0 ? overlay->nvoxels : 1);
        for (int k = 0; k < overlay->nvoxels; ++k) {
            const ipoint3d &c = overlay->coordinates[k];
            position[k] = c.x + static_cast<std::int64_t>(file_list_root.nx) * (c.y + static_cast<std::int64_t>(file_list_root.ny) * c.z);
            if (position[k] < 0 || position[k] >= V) {
                std::printf("Error: overlay dimensions exceed voxel dimensions.\n");
                return 1;
            }
        }
        positions.push_back(std::move(position));
    }

    OwnedVector<float> volume(V > 0 ? V : 1);
    int t = 0;
    for (RunEntry *run = &file_list_root; run; run = run->next)
        for (int i = 0; i < run->nt; ++i, ++t) {
            if (read_volume(run, i, volume.get())) return 1;
            std::size_t o = 0;
            for (Overlay *overlay = ovl_root.next; overlay; overlay = overlay->next, ++o) {
                const std::int64_t *position = positions[o].get();
                float sum = overlay->time_series[t];
                for (int k = 0; k < overlay->nvoxels; ++k) sum += volume[position[k]] * overlay->weights[k];
                overlay->time_series[t] = sum;
            }
            std::printf("\r %d percent done", static_cast<int>(100LL * t / T));
            std::fflush(stdout);
        }
    std::printf("\n\n");
    return 0;
}
