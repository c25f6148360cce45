#include "bids/tsv.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "bids/names.h"

namespace {

std::vector<std::string> split_tabs(const std::string &line) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        cells.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return cells;
        start = tab + 1;
    }
}

}  // namespace

int TsvTable::column(const std::string &name) const {
    for (std::size_t c = 0; c < columns.size(); ++c)
        if (columns[c] == name) return static_cast<int>(c);
    return -1;
}

TsvTable parse_tsv(const std::string &text, const std::string &source) {
    TsvTable table;
    table.source = source;
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.empty()) throw BidsError(source + " is empty; it needs a header line");
    table.columns = split_tabs(lines[0]);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        table.rows.push_back(split_tabs(lines[i]));
        if (table.rows.back().size() != table.columns.size())
            throw BidsError(source + " line " + std::to_string(i + 1) + " has " +
                            std::to_string(table.rows.back().size()) + " cells, the header " +
                            std::to_string(table.columns.size()));
    }
    return table;
}

TsvTable read_tsv(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) throw BidsError("cannot read " + path.string());
    std::ostringstream text;
    text << in.rdbuf();
    return parse_tsv(text.str(), path.string());
}

bool is_missing(const std::string &cell) { return cell.empty() || cell == "n/a"; }

double cell_number(const TsvTable &table, std::size_t row, int column) {
    const std::string &cell = table.rows[row][column];
    char *end = nullptr;
    const double value = std::strtod(cell.c_str(), &end);
    if (cell.empty() || *end != '\0' || !std::isfinite(value))
        throw BidsError(table.source + " line " + std::to_string(table.line(row)) + ": " + table.columns[column] +
                        " '" + cell + "' is not a finite number");
    return value;
}

std::string describe_lines(const std::vector<int> &lines) {
    std::string text = std::to_string(lines.size()) + (lines.size() == 1 ? " (line " : " (lines ");
    for (std::size_t i = 0; i < lines.size() && i < 5; ++i) text += (i ? ", " : "") + std::to_string(lines[i]);
    return text + (lines.size() > 5 ? ", ...)" : ")");
}
