#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/globals.h"
#include "driver/options.h"
#include "support/cli.h"

namespace {

struct Parsed {
    int option;
    int index;
};

std::vector<Parsed> parse(std::vector<std::string> words) {
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    my_getopt_reset();
    std::vector<Parsed> result;
    int index = -5, c;
    while ((c = my_getopt(static_cast<int>(argv.size()), argv.data(), "hHpsvd:rR:i:o:T:S:", &index)) != 0) {
        result.push_back({c, index});
        if (c == -1) break;
    }
    return result;
}

TEST(Getopt, BareWordsOptionsAndArgumentIndices) {
    auto r = parse({"prog", "ctl.glm", "-verbose", "-d", "2", "-R", "word", "-r"});
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].option, 'i');
    EXPECT_EQ(r[0].index, 1);
    EXPECT_EQ(r[1].option, 'v');  // only the second character counts
    EXPECT_EQ(r[1].index, 2);
    EXPECT_EQ(r[2].option, 'd');
    EXPECT_EQ(r[2].index, 4);  // names the argument word
    EXPECT_EQ(r[3].option, 'R');
    EXPECT_EQ(r[3].index, 6);  // -R consumes its word
    EXPECT_EQ(r[4].option, 'r');
    EXPECT_EQ(r[4].index, 7);
}

TEST(Getopt, InvalidWordStopsWithoutAdvancingAndMissingArgumentIsClamped) {
    auto bad = parse({"prog", "-q", "x"});
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0].option, -1);
    EXPECT_EQ(bad[0].index, 1);

    auto last = parse({"prog", "-o"});
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].option, 'o');
    EXPECT_EQ(last[0].index, 2);  // clamped to argc: there is no argument word
}

TEST(MemoryRule, BlockSizeIsLoweredOnlyAboveFiveHundredMillion) {
    // 5000 points make exactly 500 million: kept; 50000 x 30000 x 2 does not fit 32 bits and must not wrap.
    const int cases[][2] = {{100, 50000}, {5000, 50000}, {6000, 41666}, {30000, 8333}};
    for (const auto &c : cases) {
        BLOCK_SIZE = 50000;
        const std::string out = stdout_of([&] { apply_memory_rule(c[0]); });
        EXPECT_EQ(BLOCK_SIZE, c[1]) << c[0];
        EXPECT_EQ(out, c[1] == 50000 ? "" : "Memory allocation reduced: BLOCK_SIZE = " + std::to_string(c[1]) + "\n");
    }
}

}  // namespace
