#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "numerics/text_lines.h"
#include "volume/volume_header.h"

namespace {
struct WordCode {
    const char *word;
    int code;
};

constexpr WordCode data_kinds[] = {
    {"magnitude", 0}, {"complex", 1}, {"real-imaginary", 1}, {"magnitude-phase", 2}, {"vector", 3},
};
constexpr WordCode storage_types[] = {
    {"short", STORAGE_SHORT},           {"float", STORAGE_FLOAT},          {"long", STORAGE_LONG},
    {"unsigned-short", STORAGE_USHORT}, {"unsigned-char", STORAGE_UCHAR},
};
constexpr WordCode registrations[] = {{"paxinos-rat", -1}, {"PW-rat", 1}};

// Looks the first word of text up in a table; false when there is no word or
// it is not in the table.
template <std::size_t N>
bool lookup_word(const char *text, const WordCode (&table)[N], int *code) {
    char word[LINE_BUFFER_SIZE];
    if (std::sscanf(text, "%1023s", word) != 1) return false;
    for (const WordCode &entry : table)
        if (std::strcmp(word, entry.word) == 0) {
            *code = entry.code;
            return true;
        }
    return false;
}

bool is_info_keyword(const char *keyword) {
    return std::strcmp(keyword, "info") == 0 || std::strcmp(keyword, "info:") == 0 ||
           std::strcmp(keyword, "information") == 0 || std::strcmp(keyword, "information:") == 0;
}

// One keyword line of an xdisplay header: 0 decoded, 1 error, -1 end of the
// keyword part.
int decode_keyword(const char *keyword, const char *args, VolumeHeader *h) {
    if (is_info_keyword(keyword)) return -1;
    // Integer fields: a value beyond an int or its field's range is refused,
    // not wrapped.
    struct IntField {
        const char *keyword;
        int *target;
        int low;
        int high;
    };
    const IntField fields[] = {
        {"x", &h->nx, 1, INT_MAX}, {"y", &h->ny, 1, INT_MAX},           {"z", &h->nz, 1, INT_MAX},
        {"t", &h->nt, 1, INT_MAX}, {"byte-order", &h->byte_order, 0, 1}, {"degrees-of-freedom", &h->dof, 0, INT_MAX},
    };
    for (const IntField &f : fields)
        if (std::strcmp(keyword, f.keyword) == 0)
            return read_int(&args, f.target, f.low, f.high, f.keyword) == IntRead::ok ? 0 : 1;
    if (std::strcmp(keyword, "matrix") == 0) {
        int n[4];
        for (int i = 0; i < 3; ++i)
            if (read_int(&args, &n[i], 1, INT_MAX, "matrix") != IntRead::ok) return 1;
        const IntRead fourth = read_int(&args, &n[3], 1, INT_MAX, "matrix");
        if (fourth == IntRead::out_of_range) return 1;
        h->nx = n[0];
        h->ny = n[1];
        h->nz = n[2];
        if (fourth == IntRead::ok) h->nt = n[3];
        return 0;
    }
    if (std::strcmp(keyword, "resolution") == 0) {
        float r[4];
        const int count = std::sscanf(args, "%f %f %f %f", &r[0], &r[1], &r[2], &r[3]);
        if (count < 3) return 1;
        for (int i = 0; i < 3; ++i) h->resolution[i] = r[i];
        h->time_step = count == 4 ? r[3] : 0.0f;
        return 0;
    }
    if (std::strcmp(keyword, "origin") == 0) {
        float o[3];
        if (std::sscanf(args, "%f %f %f", &o[0], &o[1], &o[2]) != 3) return 1;
        for (int i = 0; i < 3; ++i) h->origin[i] = o[i];
        return 0;
    }
    if (std::strcmp(keyword, "direction") == 0) {
        float d[3];
        if (std::sscanf(args, "%f %f %f", &d[0], &d[1], &d[2]) != 3) return 1;
        for (float v : d)
            if (std::fabs(v) != 1.0f) {
                std::printf("Error: allowed values for direction (%g,%g,%g) are 1 and -1.\n", d[0], d[1], d[2]);
                return 1;
            }
        for (int i = 0; i < 3; ++i) h->direction[i] = d[i];
        return 0;
    }
    if (std::strcmp(keyword, "data-type") == 0) {
        h->data_kind = 0;
        if (lookup_word(args, data_kinds, &h->data_kind)) return 0;
        std::printf("Error: arguments for data-type are\n"
                    "1) magnitude (this is the default),\n"
                    "2) complex (or real-imaginary),\n"
                    "3) magnitude-phase\n");
        return 1;
    }
    if (std::strcmp(keyword, "storage-type") == 0) {
        if (lookup_word(args, storage_types, &h->storage_type)) return 0;
        std::printf("Error: arguments for storage-type are ...\n"
                    "    short, float, long, unsigned-short, unsigned-char\n");
        return 1;
    }
    if (std::strcmp(keyword, "registration") == 0) {
        if (lookup_word(args, registrations, &h->registration)) return 0;
        std::printf("Error: arguments for registration are\n"
                    "1) paxinos-rat, and\n"
                    "2) nothing else (paxinos-monkey later?)\n");
        return 1;
    }
    return 1;
}
}  // namespace

int decode_xdisplay_header_keyword(char *line, VolumeHeader *header) {
    char keyword[LINE_BUFFER_SIZE];
    int consumed = 0;
    // A line is at most 1023 characters, so the keyword always fits.
    if (std::sscanf(line, " %1023s%n", keyword, &consumed) != 1) return 1;
    return decode_keyword(keyword, next_non_white(line + consumed), header);
}

int read_xdisplay_header(const char *file_name, VolumeHeader *header) {
    char header_name[NAME_SIZE];
    int extension_code;
    if (replace_extension(file_name, &extension_code, "hdr", header_name)) return 1;
    std::FILE *stream = std::fopen(header_name, "r");
    if (!stream) {
        std::printf("Error: cannot open xdisplay file %s.\n", header_name);
        return 1;
    }

    char line[LINE_BUFFER_SIZE];
    int line_number = 0;
    for (LineStatus read; (read = read_text_line(stream, line)) != LineStatus::end_of_file;) {
        ++line_number;
        if (read == LineStatus::too_long) {
            report_long_line(line_number, header_name);
            std::fclose(stream);
            return 1;
        }
        if (is_blank_line(line)) continue;
        const int status = decode_xdisplay_header_keyword(line, header);
        if (status == 0) continue;
        if (line_number == 1) {
            // An old-style first line holds the four sizes; they are repeated
            // by keyword lines later, so the values themselves are not used.
            int size[4];
            if (std::sscanf(line, "%d %d %d %d", &size[0], &size[1], &size[2], &size[3]) == 4) continue;
            std::printf("Error reading the 1st line of the xds header file '%s'.\n", header_name);
            std::fclose(stream);
            return 1;
        }
        if (status == -1) break;
        std::printf("Error reading line %d of file '%s'\n", line_number, header_name);
        std::fclose(stream);
        return 1;
    }
    std::fclose(stream);

    const int sizes[4] = {header->nx, header->ny, header->nz, header->nt};
    const char axes[4] = {'x', 'y', 'z', 't'};
    for (int i = 0; i < 4; ++i)
        if (sizes[i] == 0) {
            std::printf("Error: Value for %c dimension not found in header file '%s'\n", axes[i], header_name);
            return 1;
        }
    header->voxel_to_world = scale_and_shift_to_mat44(header->resolution, header->origin, header->direction);
    return 0;
}
