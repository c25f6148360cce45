#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "numerics/text_lines.h"
#include "support/cli.h"

namespace {

TEST(TextLines, LongLinesArriveInPiecesAndCommentsAreCut) {
    TempDir dir;
    const std::string long_line(1500, 'x');
    const std::string path = dir.write("lines.txt", long_line + "\nruns: # the runs follow\n# only a comment\n\t \n");
    std::FILE *f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buffer[LINE_BUFFER_SIZE];

    ASSERT_NE(get_line_with_comment(f, buffer), nullptr);
    EXPECT_EQ(std::string(buffer), std::string(1023, 'x'));
    ASSERT_NE(get_line_with_comment(f, buffer), nullptr);
    EXPECT_EQ(std::string(buffer), std::string(477, 'x') + "\n");

    ASSERT_NE(get_line_with_comment(f, buffer), nullptr);
    EXPECT_EQ(std::string(buffer), "runs: ");
    ASSERT_NE(get_line_with_comment(f, buffer), nullptr);
    EXPECT_TRUE(is_blank_line(buffer));
    ASSERT_NE(get_line_with_comment(f, buffer), nullptr);
    EXPECT_TRUE(is_blank_line(buffer));
    EXPECT_EQ(get_line_with_comment(f, buffer), nullptr);

    std::rewind(f);
    get_line(f, buffer);
    get_line(f, buffer);
    get_line(f, buffer);
    EXPECT_EQ(std::string(buffer), "runs: # the runs follow\n");
    std::fclose(f);
}

TEST(TextLines, NextNonWhiteSkipsBlanksAndTabsOnly) {
    char mixed[] = " \t x y";
    EXPECT_EQ(next_non_white(mixed), mixed + 3);
    char blank[] = "\t  \t";
    EXPECT_EQ(*next_non_white(blank), '\0');
    char newline[] = "\nx";
    EXPECT_EQ(next_non_white(newline), newline);
}

}  // namespace
