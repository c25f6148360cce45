#include "numerics/warnings.h"

#include <cstdarg>
#include <cstdio>

namespace {
std::vector<std::string> kept;
}

void print_warning(const char *format, ...) {
    std::va_list args, copy;
    va_start(args, format);
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? length : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    std::fputs(text.c_str(), stdout);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    kept.push_back(text);
}

const std::vector<std::string> &printed_warnings() { return kept; }

void clear_printed_warnings() { kept.clear(); }
