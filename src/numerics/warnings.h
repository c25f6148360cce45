// Warnings are printed on standard output as they arise and kept for the
// report of the analysis.
#pragma once

#include <string>
#include <vector>

// Prints the message like printf and keeps its text (without the final
// newline; a message of several lines is kept whole).
void print_warning(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The warnings printed since the last clear, in order.
const std::vector<std::string> &printed_warnings();
void clear_printed_warnings();
