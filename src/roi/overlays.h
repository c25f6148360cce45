// Overlays: named, weighted voxel sets and their mean time series.
#pragma once

#include "glm/state.h"
#include "numerics/arrays.h"

// One region of interest. The global ovl_root is a record of the same form
// that only heads the list: its next-link points to the first overlay.
struct Overlay {
    char name[NAME_SIZE];
    int nvoxels;
    int capacity;             // voxel lines the arrays can hold: nx * ny * nz of the first run
    ipoint3d *coordinates;    // [capacity] voxel indices, in file order
    float *weights;           // [capacity] normalised to sum 1 (unless they sum to 0)
    int ntimepoints;          // time points of all runs
    float *time_series;       // [ntimepoints] weighted mean signal, runs concatenated
    Overlay *next;
};

extern Overlay ovl_root;

// Reads the overlay list (lines "name file") and every overlay file it names.
// Returns 0, or 1 after a message.
int read_overlay_list(const char *path);
// Appends the voxels of one overlay file ("x y z" or "x y z weight" lines) to
// the overlay and normalises the weights. Returns 0, or 1 after a message.
int read_overlay_file(const char *path, Overlay *overlay);
// Builds every overlay's weighted mean time series from the runs' volumes.
// Returns 0, or 1 after a message.
int read_ROIs();

// Creates an empty overlay sized for the image of the first run and links it
// at the end of the list.
Overlay *new_overlay(const char *name);
// Releases every overlay and empties the list.
void release_overlays();
