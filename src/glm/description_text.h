// Reading helpers shared by the readers of the analysis description files
// (control, event, IRF and table files): one line at a time with over-long
// lines refused, and numbers and words taken the way formatted input takes
// them (leading white space skipped, the longest numeric prefix accepted).
#pragma once

#include <cstddef>
#include <cstdio>

enum class LineStatus { ok, end_of_file, too_long };

// Reads the next line like get_line_with_comment (line end kept, cut at the
// first '#'), but reports a line of more than 1023 characters as too_long
// instead of handing it over in pieces.
LineStatus read_description_line(std::FILE *stream, char *buffer);

// The message for a line refused by read_description_line.
void report_long_line(int line, const char *path);

// Walks along a text, taking numbers and words one after the other.
class TextScanner {
public:
    explicit TextScanner(const char *text) : p_(text) {}
    // A decimal floating-point number; false (position unchanged) when none.
    bool number(float *value);
    // A decimal integer that fits an int; false (position unchanged) when none.
    bool integer(int *value);
    // A word delimited by white space; false when the text holds no more words.
    // The word is cut at size - 1 characters (lines are shorter than that).
    bool word(char *out, std::size_t size);
    const char *position() const { return p_; }

private:
    const char *p_;
};

// True when word begins with a number, which is stored in *value.
bool word_number(const char *word, float *value);

// Truncation toward zero that saturates instead of overflowing (NaN gives the
// smallest int), for times and column numbers read as floats.
int truncate_to_int(float value);
