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
