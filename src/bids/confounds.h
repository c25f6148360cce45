// Confound regressors: columns of a run's confounds table (fMRIPrep style)
// chosen by name, with missing entries filled, as the program's table file.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "bids/layout.h"
#include "bids/tsv.h"

struct ConfoundTable {
    std::vector<std::string> columns;
    std::vector<std::vector<double>> values;  // by column, one per volume
    std::vector<std::string> notes;
};

// The confounds table of a run. pattern names it relative to the data set root
// (or absolutely), with {dir} for the run's folder (sub-01/func), {stem} for
// its name without _bold and the extension, and shell wildcards; exactly one
// file must match. An empty pattern looks for
// {stem}_desc-confounds_timeseries.tsv (or _regressors.tsv) beside the run and
// in the same folder under derivatives/*/.
std::filesystem::path find_confounds_file(const std::filesystem::path &root, const BidsRun &run,
                                          const std::string &pattern);

// The named columns (every column when names is empty), one row per volume;
// n/a entries (the first row of derivative columns) become the column's mean.
ConfoundTable select_confounds(const TsvTable &table, const std::vector<std::string> &names, int volumes);

// The program's table file: a line of column names, then one line per volume.
std::string table_file_text(const ConfoundTable &table);
