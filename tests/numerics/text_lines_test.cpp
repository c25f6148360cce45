#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "numerics/text_lines.h"
#include "support/cli.h"

namespace {

using Lines = std::vector<std::string>;

TEST(TextLines, LongLinesArriveInPiecesLineEndsBecomeNewlinesAndCommentsAreCut) {
    TempDir dir;
    const std::string path =
        dir.write("lines.txt", std::string(1500, 'x') + "\nruns: # the runs follow\r\n# only a comment\r\t \nend");
    auto lines = [&](char *(*read)(std::FILE *, char *)) {
        std::FILE *f = std::fopen(path.c_str(), "r");
        Lines out;
        char buffer[LINE_BUFFER_SIZE];
        while (read(f, buffer)) out.push_back(buffer);
        std::fclose(f);
        return out;
    };
    const std::string x(1023, 'x'), rest = std::string(477, 'x') + "\n";
    EXPECT_EQ(lines(get_line), (Lines{x, rest, "runs: # the runs follow\n", "# only a comment\n", "\t \n", "end"}));
    EXPECT_EQ(lines(get_line_with_comment), (Lines{x, rest, "runs: ", "", "\t \n", "end"}));
    for (const char *text : {"", "\t \r\n"}) EXPECT_TRUE(is_blank_line(text)) << text;
    EXPECT_FALSE(is_blank_line(" \n."));
    char mixed[] = " \t x y", newline[] = "\nx";
    EXPECT_EQ(next_non_white(mixed), mixed + 3);
    EXPECT_EQ(next_non_white(newline), newline);
}

}  // namespace
