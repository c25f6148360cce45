#include "numerics/text_lines.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

char *get_line(std::FILE *stream, char *buffer) {
    // A line ends at a line feed, a carriage return followed by a line feed, or
    // a carriage return alone (old Mac text); each of them arrives as '\n'.
    int n = 0;
    while (n < LINE_BUFFER_SIZE - 1) {
        const int c = std::getc(stream);
        if (c == EOF) break;
        if (c == '\r') {
            const int next = std::getc(stream);
            if (next != '\n' && next != EOF) std::ungetc(next, stream);
            buffer[n++] = '\n';
            break;
        }
        buffer[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buffer[n] = '\0';
    return n > 0 ? buffer : nullptr;
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
        const int next = std::fgetc(stream);
        if (next == '\r') {
            const int after = std::fgetc(stream);
            if (after != '\n' && after != EOF) std::ungetc(after, stream);
        } else if (next != '\n' && next != EOF) {
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

IntRead read_int(const char **text, int *value, int low, int high, const char *what) {
    const char *start = next_non_white(*text);
    const char *digits = (*start == '+' || *start == '-') ? start + 1 : start;
    if (*digits < '0' || *digits > '9') return IntRead::missing;
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(start, &end, 10);
    // The integer is a word of its own: "4.5" or "12ab" is no integer.
    if (*end && !std::isspace(static_cast<unsigned char>(*end))) return IntRead::missing;
    if (errno == ERANGE || v < low || v > high) {
        if (what)
            std::printf("Error: %s must be an integer from %d to %d (read %.*s).\n", what, low, high,
                        static_cast<int>(end - start), start);
        return IntRead::out_of_range;
    }
    *value = static_cast<int>(v);
    *text = end;
    return IntRead::ok;
}

bool is_regular_file(const char *path, const char *what) {
    struct stat status;
    if (stat(path, &status) != 0 || S_ISREG(status.st_mode)) return true;
    std::printf(S_ISDIR(status.st_mode) ? "Error: the %s %s is a directory, not a file.\n"
                                        : "Error: the %s %s is not a regular file.\n",
                what, path);
    return false;
}
