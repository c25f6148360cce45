#include "driver/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/globals.h"

namespace {
int next_word = 1;
}

int my_getopt(int argc, char **argv, const char *options, int *argument_index) {
    if (next_word >= argc) return 0;
    const char *word = argv[next_word];
    if (word[0] != '-') {
        *argument_index = next_word;
        ++next_word;
        return 'i';
    }
    const char option = word[1];
    for (const char *p = options; *p; ++p) {
        if (*p != option) continue;
        if (p[1] == ':') ++next_word;
        *argument_index = next_word < argc ? next_word : argc;
        ++next_word;
        return option;
    }
    *argument_index = next_word;
    return -1;
}

void my_getopt_reset() { next_word = 1; }

void print_syntax() {
    std::printf("Syntax: executable [GLM control file name] [optional arguments]\n");
    std::printf("optional arguments:\n");
    std::printf("-h for this help\n");
    std::printf("-H for more help using a menu\n");
    std::printf("-p to convert to percent change on output for S-n files\n");
    std::printf("-s for small memory allocation\n");
    std::printf("-v for verbose output\n");
    std::printf("-d [divisor]  to divide output by divisor for S-n files\n");
    std::printf("-j [threads]  to analyse voxels on that many threads (default: one per processor)\n");
    std::printf("\n");
}

void apply_memory_rule(int total_time_points) {
    // 64-bit product: long series with the default block size must not wrap.
    const long long estimate = static_cast<long long>(BLOCK_SIZE) * total_time_points * 2;
    if (static_cast<double>(estimate) / 1000000.0 > 500.0) {
        BLOCK_SIZE = static_cast<int>(500000000 / total_time_points / 2.0);
        std::printf("Memory allocation reduced: BLOCK_SIZE = %d\n", BLOCK_SIZE);
    }
}
