// Overlays: named, weighted voxel sets and their mean time series.
#pragma once

int read_overlay_list(const char *path);
int read_ROIs();
