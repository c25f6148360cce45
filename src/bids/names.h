// BIDS file names (entities, suffix, extension) and the inheritance rule that
// finds the metadata files of a data file.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A fault of the data set or of the request; its text is the whole message.
class BidsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// sub-01_task-motor_run-1_bold.nii.gz: entities {sub 01, task motor, run 1},
// suffix "bold", extension ".nii.gz" (everything from the first dot on).
struct BidsName {
    std::vector<std::pair<std::string, std::string>> entities;
    std::string suffix, extension;
    bool valid = false;  // every part before the suffix is key-value

    // The value of an entity, "" when the name has none.
    std::string entity(const std::string &key) const;
};

BidsName parse_bids_name(const std::string &file_name);

// Whether a metadata file of this name applies to the data file: the same
// suffix and every entity of the metadata name present with the same value.
bool applies_to(const BidsName &metadata, const BidsName &data);

// The files with this suffix and extension that apply to the data file, from
// the data set root down to the data file's folder, so that later ones take
// precedence. Two applicable files in one folder are refused.
std::vector<std::filesystem::path> inherited_files(const std::filesystem::path &root, const std::filesystem::path &data,
                                                   const std::string &suffix, const std::string &extension);
