#include "bids/confounds.h"

#include <glob.h>

#include <cstdio>

#include "bids/events.h"
#include "numerics/text_lines.h"

namespace fs = std::filesystem;

namespace {

// A literal text inside a glob pattern.
std::string escape_wildcards(const std::string &text) {
    std::string escaped;
    for (char c : text) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::vector<std::string> matches(const std::string &pattern) {
    glob_t found{};
    std::vector<std::string> files;
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0)
        for (std::size_t i = 0; i < found.gl_pathc; ++i) files.emplace_back(found.gl_pathv[i]);
    globfree(&found);
    return files;
}

// A line of the table file; the program reads lines of at most 1023 characters.
std::string checked_line(const std::string &line) {
    if (line.size() >= LINE_BUFFER_SIZE)
        throw BidsError("a confounds table line would be " + std::to_string(line.size()) +
                        " characters long; the program reads at most " + std::to_string(LINE_BUFFER_SIZE - 1) +
                        " (choose fewer columns)");
    return line + "\n";
}

}  // namespace

fs::path find_confounds_file(const fs::path &root, const BidsRun &run, const std::string &pattern) {
    std::vector<std::string> patterns{pattern};
    if (pattern.empty())
        for (const char *place : {"{dir}/", "derivatives/*/{dir}/"})
            for (const char *kind : {"timeseries", "regressors"})
                patterns.push_back(std::string(place) + "{stem}_desc-confounds_" + kind + ".tsv");
    std::vector<std::string> files;
    for (std::size_t p = pattern.empty() ? 1 : 0; p < patterns.size(); ++p) {
        std::string full = replace_all(patterns[p], "{dir}", escape_wildcards(run.folder.string()));
        full = replace_all(full, "{stem}", escape_wildcards(run.stem));
        if (full.empty() || full[0] != '/') full = escape_wildcards(root.string()) + "/" + full;
        for (const std::string &file : matches(full)) files.push_back(file);
    }
    const std::string wanted = pattern.empty() ? run.stem + "_desc-confounds_timeseries.tsv" : pattern;
    if (files.empty()) throw BidsError("no confounds table " + wanted + " for " + run.image.string());
    if (files.size() > 1)
        throw BidsError("several confounds tables for " + run.stem + ": " + files[0] + " and " + files[1]);
    return files[0];
}

ConfoundTable select_confounds(const TsvTable &table, const std::vector<std::string> &names, int volumes) {
    ConfoundTable result;
    result.columns = names.empty() ? table.columns : names;
    if (static_cast<int>(table.rows.size()) != volumes)
        throw BidsError(table.source + " has " + std::to_string(table.rows.size()) + " rows, but the run has " +
                        std::to_string(volumes) + " volumes");
    std::string filled;
    for (const std::string &name : result.columns) {
        const int c = table.column(name);
        if (c < 0) throw BidsError(table.source + " has no column " + name);
        std::vector<double> column(table.rows.size());
        double sum = 0.0;
        int present = 0, missing = 0;
        for (std::size_t i = 0; i < table.rows.size(); ++i) {
            if (is_missing(table.rows[i][c])) {
                ++missing;
                continue;
            }
            column[i] = cell_number(table, i, c);
            sum += column[i];
            ++present;
        }
        if (present == 0) throw BidsError(table.source + ": column " + name + " holds no number");
        for (std::size_t i = 0; missing > 0 && i < table.rows.size(); ++i)
            if (is_missing(table.rows[i][c])) column[i] = sum / present;
        if (missing > 0) filled += (filled.empty() ? "" : ", ") + name + " (" + std::to_string(missing) + ")";
        result.values.push_back(std::move(column));
    }
    if (!filled.empty()) result.notes.push_back(table.source + ": n/a replaced by the column mean in " + filled);
    return result;
}

std::string table_file_text(const ConfoundTable &table) {
    std::string header;
    for (const std::string &name : table.columns) {
        if (name.empty() || name.find_first_of(" \t#") != std::string::npos)
            throw BidsError("the confound name '" + name + "' holds a blank or '#', which a table file cannot");
        if (!header.empty()) header += ' ';
        header += name;
    }
    std::string text = checked_line(header);
    const std::size_t rows = table.values.empty() ? 0 : table.values[0].size();
    for (std::size_t i = 0; i < rows; ++i) {
        std::string line;
        for (const std::vector<double> &column : table.values) {
            if (!line.empty()) line += ' ';
            line += number_text(column[i]);
        }
        text += checked_line(line);
    }
    return text;
}
