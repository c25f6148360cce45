// Reading helpers shared by the readers of the analysis description files
// (control, event, IRF and table files): one line at a time with over-long
// lines refused, and numbers and words taken the way formatted input takes
// them (leading white space skipped, the longest numeric prefix accepted).
#pragma once

#include <cstddef>
#include <cstdio>

#include "numerics/text_lines.h"

// The message for a line that holds a number that is not finite.
void report_not_finite(int line, const char *path);

// Walks along a text, taking numbers and words one after the other.
class TextScanner {
public:
    explicit TextScanner(const char *text) : p_(text) {}
    // A decimal floating-point number; false (position unchanged) when none.
    bool number(float *value);
    // A decimal integer word that fits an int; false (position unchanged) when
    // none ("4.5" and "12ab" are none).
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
