// What the fuzz targets share. Every target writes its input into files of a
// private scratch directory, which is the process's current directory, and
// hands them to a reader through the reader's public entry point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fuzz {

// Part k (from 0) of the input cut at its NUL bytes; empty when there are
// fewer parts. Targets that read several files take one part per file.
std::string_view part(const std::uint8_t *data, std::size_t size, int k);

// Writes text into the named file of the scratch directory.
void write_file(const char *name, std::string_view text);

// Calls the reader and returns its result, or -1 when it ended the program:
// the link wraps exit() so that, inside this call, it jumps back here. Files
// the reader left open are closed and the overlays released afterwards, and
// so is the model state (GLM, HRF) when the reader uses it; every input starts
// from a fresh process's state. (Releasing the model clears its stimulus
// tables, 10 MB, which would dominate the time of a header reader.) Storage
// that only a local of the exiting code pointed to is not freed and is
// reported as a leak: error exits must leave nothing of the kind behind.
int run(int (*reader)(), bool uses_model);

}  // namespace fuzz
