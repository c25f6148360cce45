// Output volumes: xdisplay or NIfTI-1 headers and the result maps.
#pragma once

#include <cstdio>
#include <string>

#include "volume/volume_header.h"

// Output kinds: -1 16-bit samples, 0 float samples, 1 float samples with the
// degrees-of-freedom extension. A NIfTI header carries the intent code and
// its first parameter (xdisplay headers have no place for them). The stream
// writes a temporary file; the caller ends it with close_output
// (numerics/temp_files.h), which gives the volume its name when it is
// complete. A stream merely fclose'd is lost at exit.
int open_output_file(int kind, int nvolumes, const char *name, std::FILE **stream, int intent_code = 0,
                     float intent_p1 = 0.0f);
int write_nifti_header(int kind, int nvolumes, const char *name, std::FILE **stream, int intent_code = 0,
                       float intent_p1 = 0.0f);
int write_output_files(int nconditions);

// The voxel-to-world matrix of the output volumes, as a reader of their
// headers takes it: the sform when its code is set, else the qform when its
// code is set, else the voxel sizes alone (NIfTI); the resolution, origin and
// direction of the header (xdisplay). source names the choice.
Mat44 output_voxel_to_world(std::string *source);
