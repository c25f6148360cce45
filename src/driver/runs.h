// Run set-up and block reading of the runs' image data.
#pragma once

#include "driver/globals.h"

int initialize_runs(int *total_time_points);
int read_volume(RunEntry *run, int t, float *out);
int read_block_vector(float *out, int first_voxel, int *count);
// Opens an image that is not a run (image->fmri_file names it, header is its
// header) for read_volume, with the checks and scaling of the runs.
int open_image_file(RunEntry *image, const VolumeHeader &header);
