// Process-wide settings of the driver and the run list.
#pragma once

#include <cstdio>

#include "glm/state.h"
#include "volume/volume_header.h"

extern int Verbose;
extern float S_divisor;
extern int BLOCK_SIZE;
extern int Threads;  // threads of the voxel passes (option -j); 0: one per online processor
extern int resels;

// One run of the analysis, in control-file order.
struct RunEntry {
    char fmri_file[NAME_SIZE];
    char event_file[NAME_SIZE];
    std::FILE *stream;
    int nx, ny, nz;
    int nt;
    int byte_order;
    int file_type;
    int storage_type;
    long long data_offset;  // byte position of the first sample
    float multiplier;
    // NIfTI scaling of the stored samples (value = slope x stored + inter);
    // a slope of 0 means the samples are used as stored.
    float scale_slope, scale_inter;
    float resolution[3];
    float origin[3];
    float direction[3];
    float time_step;
    NiftiGeometry nifti;  // world geometry as stored, for NIfTI runs
    RunEntry *next;
};

// The first run entry is the global itself; further entries are linked behind it.
extern RunEntry file_list_root;

class WorkerPool;
// The threads of the voxel passes, made at the first call with Threads threads.
WorkerPool &analysis_pool();

// Builds the run list from the run names of the control file.
void build_run_list();
