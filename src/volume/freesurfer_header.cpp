#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "numerics/text_lines.h"
#include "volume/volume_header.h"

namespace {
enum Target { COLS, ROWS, NSLICES, NTIME, THICKNESS, GEOMETRY };

struct Keyword {
    const char *word;
    Target target;
    int geometry_index;  // position in the geometry array, -1 when not kept there
};

// The geometry array holds the three corners (top left, top right, bottom
// right; r, a, s each), the slice normal, TE, TR, TI and the flip angle.
constexpr Keyword keywords[] = {
    {"cols:", COLS, -1},
    {"rows:", ROWS, -1},
    {"nslices:", NSLICES, -1},
    {"n_time_points:", NTIME, -1},
    {"slice_thick:", THICKNESS, -1},
    {"top_left_r:", GEOMETRY, 0},
    {"top_left_a:", GEOMETRY, 1},
    {"top_left_s:", GEOMETRY, 2},
    {"top_right_r:", GEOMETRY, 3},
    {"top_right_a:", GEOMETRY, 4},
    {"top_right_s:", GEOMETRY, 5},
    {"bottom_right_r:", GEOMETRY, 6},
    {"bottom_right_a:", GEOMETRY, 7},
    {"bottom_right_s:", GEOMETRY, 8},
    {"normal_r:", GEOMETRY, 9},
    {"normal_a:", GEOMETRY, 10},
    {"normal_s:", GEOMETRY, 11},
    {"image_te:", GEOMETRY, 12},
    {"image_tr:", GEOMETRY, 13},
    {"image_ti:", GEOMETRY, 14},
    {"flip_angle:", GEOMETRY, 15},
};
constexpr int TR_INDEX = 13;
constexpr int NCORNER_VALUES = 9;

bool file_exists(const char *name) {
    std::FILE *f = std::fopen(name, "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

// Decodes one line; corner_seen records which corner values were given.
int decode_line(char *line, VolumeHeader *h, float geometry[FREESURFER_GEOMETRY_VALUES], bool *corner_seen) {
    char word[LINE_BUFFER_SIZE];
    int consumed = 0;
    if (std::sscanf(line, " %1023s%n", word, &consumed) != 1) return 1;
    const char *value = next_non_white(line + consumed);
    int *const sizes[] = {&h->nx, &h->ny, &h->nz, &h->nt};  // by target, COLS to NTIME
    for (const Keyword &k : keywords) {
        if (std::strcmp(word, k.word) != 0) continue;
        switch (k.target) {
            case COLS: case ROWS: case NSLICES: case NTIME:
                // A size below 1 or beyond an int is refused, not wrapped; no
                // number leaves the size unset.
                if (read_int(&value, sizes[k.target], 1, INT_MAX, k.word) == IntRead::out_of_range) return 1;
                break;
            case THICKNESS: std::sscanf(value, "%f", &h->resolution[2]); break;
            case GEOMETRY:
                if (std::sscanf(value, "%f", &geometry[k.geometry_index]) == 1) {
                    if (k.geometry_index < NCORNER_VALUES && corner_seen) corner_seen[k.geometry_index] = true;
                    if (k.geometry_index == TR_INDEX) h->time_step = geometry[TR_INDEX];
                }
                break;
        }
        return 0;
    }
    return 1;
}
}  // namespace

int decode_freesurfer_header_keyword(char *line, VolumeHeader *header, float geometry[FREESURFER_GEOMETRY_VALUES]) {
    return decode_line(line, header, geometry, nullptr);
}

int read_freesurfer_header(const char *file_name, VolumeHeader *h) {
    h->file_type = FILE_FREESURFER;
    const std::size_t length = std::strlen(file_name);
    if (length == 0 || file_name[length - 1] != '_') {
        std::printf("Programming error: file name should end with '_' in read_freesurfer_header\n");
        std::exit(1);
    }
    // Room for the longest derived name: the stem with ".bhdr", or the name
    // with "000.bshort".
    if (length + 10 >= static_cast<std::size_t>(NAME_SIZE)) {
        std::printf("Error: the file name %s is too long.\n", file_name);
        return 1;
    }
    char bhdr_name[NAME_SIZE];
    std::snprintf(bhdr_name, sizeof bhdr_name, "%.*s.bhdr", static_cast<int>(length - 1), file_name);
    std::FILE *stream = std::fopen(bhdr_name, "r");
    if (!stream) {
        std::printf("Error: cannot open freesurfer bhdr file %s.\n", bhdr_name);
        return 1;
    }

    float geometry[FREESURFER_GEOMETRY_VALUES] = {};
    bool corner_seen[NCORNER_VALUES] = {};
    char line[LINE_BUFFER_SIZE];
    int line_number = 0, physical_line = 0;
    for (LineStatus read; (read = read_text_line(stream, line)) != LineStatus::end_of_file;) {
        ++physical_line;  // long lines are reported by their place in the file
        if (read == LineStatus::too_long) {
            report_long_line(physical_line, bhdr_name);
            std::fclose(stream);
            return 1;
        }
        if (is_blank_line(line)) continue;
        ++line_number;
        if (decode_line(line, h, geometry, corner_seen)) {
            std::printf("Error reading line %d of file '%s'\n", line_number, bhdr_name);
            std::fclose(stream);
            return 1;
        }
    }
    std::fclose(stream);

    const int sizes[4] = {h->nx, h->ny, h->nz, h->nt};
    const char axes[4] = {'x', 'y', 'z', 't'};
    for (int i = 0; i < 4; ++i)
        if (sizes[i] == 0) {
            std::printf("Error: Value for %c dimension not found in header file '%s'\n", axes[i], bhdr_name);
            return 1;
        }
    // Without all three corners the in-plane voxel size is unknown.
    for (bool seen : corner_seen)
        if (!seen) {
            std::printf("Error: the corner positions (top_left, top_right, bottom_right) are incomplete in header "
                        "file '%s'\n",
                        bhdr_name);
            return 1;
        }

    const float *top_left = &geometry[0], *top_right = &geometry[3], *bottom_right = &geometry[6];
    float column_step[3], row_step[3];
    for (int i = 0; i < 3; ++i) {
        column_step[i] = (top_right[i] - top_left[i]) / static_cast<float>(h->nx);
        row_step[i] = (bottom_right[i] - top_right[i]) / static_cast<float>(h->ny);
    }
    h->resolution[0] = std::sqrt(column_step[0] * column_step[0] + column_step[1] * column_step[1] +
                                 column_step[2] * column_step[2]);
    h->resolution[1] = std::sqrt(row_step[0] * row_step[0] + row_step[1] * row_step[1] + row_step[2] * row_step[2]);

    char slice_name[NAME_SIZE];
    std::snprintf(slice_name, sizeof slice_name, "%s000.hdr", file_name);
    stream = std::fopen(slice_name, "r");
    if (!stream) {
        std::printf("Error: cannot open freesurfer file %s.\n", slice_name);
        return 1;
    }
    // The first line holds the sizes and then the byte order, 0 or 1.
    char first[LINE_BUFFER_SIZE];
    const bool have_line = read_text_line(stream, first) == LineStatus::ok;
    std::fclose(stream);
    const char *p = first;
    int values[4];
    IntRead read = have_line ? IntRead::ok : IntRead::missing;
    for (int i = 0; i < 4 && read == IntRead::ok; ++i)
        read = read_int(&p, &values[i], i < 3 ? INT_MIN : 0, i < 3 ? INT_MAX : 1, i < 3 ? nullptr : "the byte order");
    if (read != IntRead::ok) {
        std::printf("Error: cannot read the byte order from freesurfer file %s.\n", slice_name);
        return 1;
    }
    h->byte_order = values[3];

    std::snprintf(slice_name, sizeof slice_name, "%s000.bshort", file_name);
    if (file_exists(slice_name)) {
        h->storage_type = STORAGE_SHORT;
    } else {
        std::snprintf(slice_name, sizeof slice_name, "%s000.bfloat", file_name);
        if (!file_exists(slice_name)) {
            std::printf("\nError: cannot open file %s as bshort or bfloat.\n", file_name);
            return 1;
        }
        h->storage_type = STORAGE_FLOAT;
    }
    h->voxel_to_world = scale_and_shift_to_mat44(h->resolution, h->origin, h->direction);
    return 0;
}
