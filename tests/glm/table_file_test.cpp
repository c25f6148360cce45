// Run tables: names, values, row counting and the messages of bad tables.
#include <gtest/gtest.h>

#include <string>

#include "glm/description_fixture.h"
#include "glm/table_file.h"

namespace {

class TableFile : public DescriptionFiles {
protected:
    std::string load(const std::string &text, int run, int rows, int *result) {
        const std::string path = write("t.txt", text);
        return printed([&] { return GLM_read_table_file(path.c_str(), run, rows); }, result);
    }
};

TEST_F(TableFile, TwoRunsWithWarningsAboutTheirHeaders) {
    int result = 1;
    EXPECT_EQ(load("resp\tcard motion\n  1 2 3\n4\t5 6 extra\n", 0, 2, &result), "");
    ASSERT_EQ(result, 0);
    EXPECT_EQ(GLM.table_ncols[0], 3);
    EXPECT_STREQ(GLM.table_column_name[2], "motion");
    EXPECT_STREQ(GLM.table_column_name[3], "undefined");
    EXPECT_EQ(GLM.table[0][0][1], 4.0f);
    EXPECT_EQ(GLM.table[0][2][1], 6.0f);

    EXPECT_EQ(load("card resp\n1 2\n", 1, 1, &result),
              "Warning: runs 1 & 2 have mismatched names (resp & card) in column 0.\n"
              "Warning: runs 1 & 2 have mismatched names (card & resp) in column 1.\n"
              "Warning: the tables for runs 1/0 have different numbers of columns (2/3)\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GLM.table[1][1][0], 2.0f);
    EXPECT_STREQ(GLM.table_column_name[0], "resp");

    // No name: no table for the run.
    EXPECT_EQ(GLM_read_table_file("", 2, 10), 0);
    EXPECT_EQ(GLM.table_ncols[2], 0);
    EXPECT_EQ(GLM.table[2], nullptr);
}

TEST_F(TableFile, BadTablesFailWithTheirMessages) {
    std::string wide;
    for (int c = 0; c <= MAX_TABLE_COLUMNS; ++c) wide.append("c").append(std::to_string(c)).append(" ");
    const std::string p = dir_.file("t.txt");
    const std::string cases[][2] = {
        {"a b\n1 2\n3 4\n\n", "Error: the number of time points in the table (3) does not match the data file (2).\n"},
        {"a b\n1\n# comment-only row\n", "Error reading line 2 of TABLE file " + p + "\n"},
        {"a b\n1 2\n# comment-only row\n", "Error reading line 3 of TABLE file " + p + "\n"},
        {"a b\n1 2\n3 x\n", "Error reading line 3 of TABLE file " + p + "\n"},
        {"a b\n1 2\n3 nan\n", "Error: line 3 of the file " + p + " holds a value that is not a finite number.\n"},
        {"a b\n1 -inf\n3 4\n", "Error: line 2 of the file " + p + " holds a value that is not a finite number.\n"},
        {wide + "\n1\n2\n", "Error: the TABLE file " + p + " has more than 50 columns.\n"},
        {"", ""},
    };
    for (const auto &c : cases) {
        GLM_reset_model_state();
        int result = 0;
        EXPECT_EQ(load(c[0], 0, 2, &result), c[1]) << c[0];
        EXPECT_EQ(result, 1) << c[0];
    }
    int result = 0;
    EXPECT_EQ(printed([] { return GLM_read_table_file("missing.txt", 0, 2); }, &result),
              "Error attempting to open the TABLE file missing.txt.\n");
    EXPECT_EQ(result, 1);
}

}  // namespace
