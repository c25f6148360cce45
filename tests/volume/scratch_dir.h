// Scratch directories, output capture and header reading for the volume tests.
#pragma once

#include <string>

#include "support/cli.h"
#include "volume/volume_header.h"

// Reads a volume header; returns what was printed.
inline std::string read_header(const std::string &name, VolumeHeader &h, int &status, int verbose = 0) {
    return stdout_of([&] { status = read_volume_header(verbose, name.c_str(), &h); });
}
