#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/globals.h"
#include "driver/options.h"

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
    testing::internal::CaptureStdout();
    BLOCK_SIZE = 50000;
    apply_memory_rule(100);
    EXPECT_EQ(BLOCK_SIZE, 50000);
    apply_memory_rule(5000);  // exactly 500 million: kept
    EXPECT_EQ(BLOCK_SIZE, 50000);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    testing::internal::CaptureStdout();
    apply_memory_rule(6000);
    EXPECT_EQ(BLOCK_SIZE, 41666);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Memory allocation reduced: BLOCK_SIZE = 41666\n");

    // 50000 x 30000 x 2 does not fit 32 bits; the estimate must not wrap.
    testing::internal::CaptureStdout();
    BLOCK_SIZE = 50000;
    apply_memory_rule(30000);
    EXPECT_EQ(BLOCK_SIZE, 8333);
    testing::internal::GetCapturedStdout();
}

}  // namespace
