#include "glm/description_text.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "numerics/text_lines.h"

LineStatus read_description_line(std::FILE *stream, char *buffer) {
    if (!get_line(stream, buffer)) return LineStatus::end_of_file;
    const std::size_t length = std::strlen(buffer);
    if (length == static_cast<std::size_t>(LINE_BUFFER_SIZE - 1) && buffer[length - 1] != '\n') {
        // A full buffer without a line end: the line goes on unless the file ends here.
        const int next = std::fgetc(stream);
        if (next != EOF) {
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

bool TextScanner::number(float *value) {
    char *end = nullptr;
    const float v = std::strtof(p_, &end);
    if (end == p_) return false;
    *value = v;
    p_ = end;
    return true;
}

bool TextScanner::integer(int *value) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(p_, &end, 10);
    if (end == p_ || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    p_ = end;
    return true;
}

bool TextScanner::word(char *out, std::size_t size) {
    while (*p_ && std::isspace(static_cast<unsigned char>(*p_))) ++p_;
    if (!*p_) return false;
    std::size_t n = 0;
    while (*p_ && !std::isspace(static_cast<unsigned char>(*p_))) {
        if (n + 1 < size) out[n++] = *p_;
        ++p_;
    }
    out[n] = '\0';
    return true;
}

bool word_number(const char *word, float *value) {
    TextScanner scan(word);
    return scan.number(value);
}

int truncate_to_int(float value) {
    if (std::isnan(value)) return INT_MIN;
    if (value >= 2147483648.0f) return INT_MAX;
    if (value <= -2147483648.0f) return INT_MIN;
    return static_cast<int>(value);
}
