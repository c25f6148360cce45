// Line reading shared by every text reader: lines of at most 1023 characters
// (longer ones arrive in pieces), comments from the first '#' on; integer
// fields with their range; the check that a named file is a regular file.
#pragma once

#include <climits>
#include <cstdio>

constexpr int LINE_BUFFER_SIZE = 1024;

// Reads one line (at most 1023 characters, line end kept) into buffer and cuts
// it at its first '#'. Returns buffer, or nullptr at end of file. A line ends
// at LF, CR LF or a lone CR; the line end is stored as '\n'.
char *get_line_with_comment(std::FILE *stream, char *buffer);

// The same without removing comments.
char *get_line(std::FILE *stream, char *buffer);

// First position in text that is neither a space nor a tab.
char *next_non_white(char *text);
const char *next_non_white(const char *text);

// True when the text holds nothing but spaces, tabs and line ends.
bool is_blank_line(const char *text);

enum class LineStatus { ok, end_of_file, too_long };

// Reads the next line like get_line_with_comment (cut at the first '#'), but
// reports a line of more than 1023 characters as too_long instead of handing
// it over in pieces. The line end is kept when it fits the buffer: a line of
// exactly 1023 characters arrives without it.
LineStatus read_text_line(std::FILE *stream, char *buffer);

// The message for a line refused by read_text_line.
void report_long_line(int line, const char *path);

enum class IntRead { ok, missing, out_of_range };

// Reads the decimal integer that begins *text (after spaces and tabs: an
// optional sign and digits, ending at white space or the end of the text) and
// moves *text past it. missing when there is no such integer (nothing
// printed); out_of_range when it lies outside [low, high], values beyond an
// int included, after "Error: <what> must be an integer from low to high
// (read <word>)." when what is given. *value and *text change only on ok.
IntRead read_int(const char **text, int *value, int low = INT_MIN, int high = INT_MAX, const char *what = nullptr);

// False, after a message, when path names a directory or anything else that is
// not a regular file; what names its role ("control file"). A path that does
// not exist passes: opening it reports that.
bool is_regular_file(const char *path, const char *what);
