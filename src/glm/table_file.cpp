#include "glm/table_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "glm/description_text.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "numerics/text_lines.h"
#include "numerics/warnings.h"

namespace {

// Reads the header line and records the column names of the run; 0 or 1.
int read_table_header(std::FILE *file, const char *name, int run) {
    char line[LINE_BUFFER_SIZE];
    const LineStatus status = read_text_line(file, line);
    if (status == LineStatus::end_of_file) return 1;
    if (status == LineStatus::too_long) {
        report_long_line(1, name);
        return 1;
    }

    char names[MAX_TABLE_COLUMNS][NAME_SIZE];
    char word[NAME_SIZE];
    int ncols = 0;
    TextScanner scan(line);
    while (scan.word(word, sizeof word)) {
        if (ncols == MAX_TABLE_COLUMNS) {
            std::printf("Error: the TABLE file %s has more than %d columns.\n", name, MAX_TABLE_COLUMNS);
            return 1;
        }
        std::strcpy(names[ncols++], word);
    }

    for (int c = 0; c < ncols; ++c) {
        if (run == 0)
            std::strcpy(GLM.table_column_name[c], names[c]);
        else if (std::strcmp(GLM.table_column_name[c], names[c]) != 0)
            print_warning("Warning: runs 1 & %d have mismatched names (%s & %s) in column %d.\n", run + 1,
                        GLM.table_column_name[c], names[c], c);
    }
    GLM.table_ncols[run] = ncols;
    if (run > 0 && ncols != GLM.table_ncols[0])
        print_warning("Warning: the tables for runs %d/%d have different numbers of columns (%d/%d)\n", run, 0, ncols,
                    GLM.table_ncols[0]);
    return 0;
}

// Counts the rows after the header; -1 after a message for an over-long line.
int count_table_rows(std::FILE *file, const char *name) {
    char line[LINE_BUFFER_SIZE];
    int rows = 0;
    for (;;) {
        const LineStatus status = read_text_line(file, line);
        if (status == LineStatus::end_of_file) return rows;
        if (status == LineStatus::too_long) {
            report_long_line(rows + 2, name);
            return -1;
        }
        ++rows;
    }
}

// Reads every row into the run's table; 0 or 1.
int read_table_rows(std::FILE *file, const char *name, int run) {
    char line[LINE_BUFFER_SIZE];
    char word[NAME_SIZE];
    const int ncols = GLM.table_ncols[run];
    float **table = GLM.table[run];
    read_text_line(file, line);  // the header
    for (int i = 0; i < GLM.table_nrows[run]; ++i) {
        if (read_text_line(file, line) != LineStatus::ok) {
            // The file changed between the two passes.
            std::printf("Error reading line %d of TABLE file %s\n", i + 2, name);
            return 1;
        }
        TextScanner scan(line);
        for (int c = 0; c < ncols; ++c) {
            float value;
            // A missing entry and a word that is not a number are both unusable.
            if (!scan.word(word, sizeof word) || !word_number(word, &value)) {
                std::printf("Error reading line %d of TABLE file %s\n", i + 2, name);
                return 1;
            }
            if (!std::isfinite(value)) {
                report_not_finite(i + 2, name);
                return 1;
            }
            table[c][i] = value;
        }
    }
    return 0;
}

}  // namespace

int GLM_read_table_file(const char *name, int run, int ntime_run) {
    if (name[0] == '\0') return 0;
    if (run < 0 || run >= MAX_RUNS) {
        std::printf("Error: run %d is outside the %d runs the model holds.\n", run, MAX_RUNS);
        return 1;
    }
    if (!is_regular_file(name, "table file")) return 1;
    std::FILE *file = std::fopen(name, "r");
    if (!file) {
        std::printf("Error attempting to open the TABLE file %s.\n", name);
        return 1;
    }
    if (read_table_header(file, name, run)) {
        std::fclose(file);
        return 1;
    }
    const int rows = count_table_rows(file, name);
    if (rows < 0) {
        std::fclose(file);
        return 1;
    }
    GLM.table_nrows[run] = rows;
    if (rows != ntime_run) {
        std::printf("Error: the number of time points in the table (%d) does not match the data file (%d).\n", rows,
                    ntime_run);
        std::fclose(file);
        return 1;
    }

    std::rewind(file);
    if (GLM.table[run]) free_float_matrix(GLM.table[run], MAX_TABLE_COLUMNS);
    GLM.table[run] = float_matrix(MAX_TABLE_COLUMNS, rows);
    // Columns beyond the file's own hold zeros rather than whatever memory held.
    for (int c = 0; c < MAX_TABLE_COLUMNS; ++c)
        for (int i = 0; i < rows; ++i) GLM.table[run][c][i] = 0.0f;
    const int result = read_table_rows(file, name, run);
    std::fclose(file);
    return result;
}
