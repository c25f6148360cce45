// report.html: the model, the design, each condition's map and peaks, and
// the warnings of the run, with its pictures (PNG files) beside it.
#pragma once

#include <cstdint>
#include <string>

#include "volume/volume_header.h"

struct ReportInputs {
    int nx, ny, nz;
    const float *mean;         // the baseline map (volume 0 of average)
    const float *const *maps;  // per condition: its T map, or its Z map
    bool z_maps;
    const std::uint8_t *mask;  // the voxels analysed; nullptr: all
    Mat44 voxel_to_world;      // of the output maps
    std::string world_source;  // where that matrix comes from
    const char *control_file;
    double seconds;  // run time up to the report
};

// Writes the pictures and report.html through create_output; false after a
// failed write (a message names the file).
bool write_report(const ReportInputs &in);
