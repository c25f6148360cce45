// The participants, sessions and runs of a task in a BIDS data set.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "bids/names.h"

struct BidsRun {
    std::filesystem::path image;   // the 4-D image, .nii or .nii.gz
    std::string stem;              // its name without _bold and the extension
    std::filesystem::path folder;  // its folder relative to the data set root
    BidsName name;
};

struct BidsSession {
    std::string label;  // "" for a participant without sessions
    std::vector<BidsRun> runs;
};

// The labels of the sub-* folders, sorted.
std::vector<std::string> list_participants(const std::filesystem::path &root);

// A participant or session label given with or without its "sub-" or "ses-" prefix.
std::string strip_prefix(const std::string &label, const std::string &prefix);

// The sessions of a participant that hold runs of the task (only those named
// in wanted_sessions when it is not empty), each with its runs in order of
// their run number, then name.
std::vector<BidsSession> find_sessions(const std::filesystem::path &root, const std::string &participant,
                                       const std::string &task, const std::vector<std::string> &wanted_sessions);
