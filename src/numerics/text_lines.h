// Line reading shared by every text reader: lines of at most 1023 characters
// (longer ones arrive in pieces), comments from the first '#' on.
#pragma once

#include <cstdio>

constexpr int LINE_BUFFER_SIZE = 1024;

// Reads one line (at most 1023 characters, line end kept) into buffer and cuts
// it at its first '#'. Returns buffer, or nullptr at end of file.
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
