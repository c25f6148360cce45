#include "glm/description_text.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "numerics/text_lines.h"

void report_not_finite(int line, const char *path) {
    std::printf("Error: line %d of the file %s holds a value that is not a finite number.\n", line, path);
}

bool TextScanner::number(float *value) {
    char *end = nullptr;
    const float v = std::strtof(p_, &end);
    if (end == p_) return false;
    *value = v;
    p_ = end;
    return true;
}

bool TextScanner::integer(int *value) { return read_int(&p_, value) == IntRead::ok; }

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
