// The voxel-wise analysis loop and its result maps.
#pragma once

#include <cstdint>

extern float **av_sigma_map;  // [3][V]
extern float **P_map;         // [conditions][V]
extern float **T_map;
extern float **S_map;
extern float **dS_map;
extern float **Z_map;          // [conditions][V], only with z-maps
extern std::int16_t *nAR_map;  // [V]

int analyze_runs(int nconditions, int percent_change, int residue_mode);
