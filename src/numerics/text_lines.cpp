#include "numerics/text_lines.h"

#include <cstring>

char *get_line(std::FILE *stream, char *buffer) {
    return std::fgets(buffer, LINE_BUFFER_SIZE, stream);
}

char *get_line_with_comment(std::FILE *stream, char *buffer) {
    if (!get_line(stream, buffer)) return nullptr;
    if (char *hash = std::strchr(buffer, '#')) *hash = '\0';
    return buffer;
}

char *next_non_white(char *text) {
    while (*text == ' ' || *text == '\t') ++text;
    return text;
}

const char *next_non_white(const char *text) {
    while (*text == ' ' || *text == '\t') ++text;
    return text;
}

bool is_blank_line(const char *text) {
    for (; *text; ++text)
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
    return true;
}

LineStatus read_text_line(std::FILE *stream, char *buffer) {
    if (!get_line(stream, buffer)) return LineStatus::end_of_file;
    const std::size_t length = std::strlen(buffer);
    if (length == static_cast<std::size_t>(LINE_BUFFER_SIZE - 1) && buffer[length - 1] != '\n') {
        // A full buffer without a line end: the line is complete only when its
        // end (or the end of the file) comes next.
        int next = std::fgetc(stream);
        if (next == '\r') next = std::fgetc(stream);
        if (next != '\n' && next != EOF) {
            std::ungetc(next, stream);
            return LineStatus::too_long;
        }
    }
    if (char *hash = std::strchr(buffer, '#')) *hash = '\0';
    return LineStatus::ok;
}

void report_long_line(int line, const char *path) {
    std::printf("Error: line %d of the file %s is longer than %d characters.\n", line, path, LINE_BUFFER_SIZE - 1);
}
