// The number of volumes of a run and its repetition time: RepetitionTime from
// the JSON sidecars the inheritance rule gives, else the image header.
#pragma once

#include <filesystem>
#include <string>

#include "bids/layout.h"

struct RunTiming {
    int volumes = 0;
    double tr = 0.0;        // seconds
    std::string tr_source;  // the sidecar or image that gave it
};

RunTiming read_run_timing(const std::filesystem::path &root, const BidsRun &run);
