// Command-line option parsing and the messages of the program entry.
#pragma once

// Option parser with one persistent next-word index (starting at 1). Returns 0
// at the end of the command line, 'i' for a bare word, the option character,
// or -1 for a word whose second character is not in the option string. The
// argument index names the option's argument word (or the option word itself
// for options without argument), clamped to argc.
int my_getopt(int argc, char **argv, const char *options, int *argument_index);
// Starts the next-word index again at 1 (for a second command line).
void my_getopt_reset();

void print_syntax();

// Lowers BLOCK_SIZE when BLOCK_SIZE x total time points x 2 bytes would pass
// 500 million, and prints the reduction.
void apply_memory_rule(int total_time_points);

// The whole program: options, analysis, exit status.
int run_program(int argc, char **argv);
