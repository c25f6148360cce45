// Tab-separated tables with a header line (events, confounds) and the cell
// values they hold.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct TsvTable {
    std::string source;  // file name, for messages
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;  // each as wide as columns

    // Index of a column, -1 when the table has none of that name.
    int column(const std::string &name) const;
    // The file line of row i (the header is line 1).
    int line(std::size_t i) const { return static_cast<int>(i) + 2; }
};

// Refuses a file that cannot be read and rows whose width differs from the
// header's; a carriage return before a line end is dropped, and so are empty
// lines at the end.
TsvTable read_tsv(const std::filesystem::path &path);
TsvTable parse_tsv(const std::string &text, const std::string &source);

// A missing value: "n/a" or an empty cell.
bool is_missing(const std::string &cell);

// The cell as a finite number; BidsError naming the table, line and column
// when it is not one.
double cell_number(const TsvTable &table, std::size_t row, int column);

// "3 (lines 4, 9, 12)": a count and the first few line numbers.
std::string describe_lines(const std::vector<int> &lines);
