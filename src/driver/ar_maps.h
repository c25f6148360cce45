// AR noise coefficient maps.
#pragma once

extern float **auto_cor;  // [voxel][AR_order + 1]

int analyze_AR_noise();
int smooth_AR_maps();
