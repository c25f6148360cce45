// The command line of fmriglm-bids.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The response model of the analyses unless --irf names another.
constexpr const char *DEFAULT_IRF = "BOLD-human";

struct BidsOptions {
    std::filesystem::path root, out;  // absolute
    std::string task;
    std::vector<std::string> participants, sessions;  // labels without sub- and ses-
    std::vector<std::string> contrasts;
    std::vector<std::string> confounds;  // column names
    std::string confounds_file;          // pattern of the confounds tables
    std::string noise = "ar1";           // ols, ar1, ar2 or iwls
    std::string irf = DEFAULT_IRF;       // a built-in name or an absolute file name
    std::string mask = "auto";           // auto, none or an absolute file name

    bool use_confounds() const { return !confounds.empty() || !confounds_file.empty(); }
    // The control file lines of the noise model, the IRF and the mask.
    std::string model_lines() const;
};

// Fills options from the command line; false after printing what is wrong and
// the usage. --help prints the usage and ends the program.
bool parse_bids_options(int argc, char **argv, BidsOptions *options);
