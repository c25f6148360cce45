// The files of an analysis folder: written whole or not at all, and the
// program's maps renamed after the contrasts.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "bids/contrasts.h"

// Writes text under a temporary name and renames it to path when complete.
void write_whole_file(const std::filesystem::path &path, const std::string &text);

// Removes the contrast-named maps and contrasts.tsv of an earlier analysis.
void remove_named_outputs(const std::filesystem::path &dir, const std::vector<Contrast> &contrasts);

// Renames the program's maps of each contrast (P-, T-, S- and Z-<condition>.nii)
// to P-, T-, S- and Z-<file name>.nii. Each rename is atomic, and names that
// another contrast's condition word uses are cleared first.
void name_maps(const std::filesystem::path &dir, const std::vector<Contrast> &contrasts);

// The degrees of freedom a program's S- map records in its header extension; -1 when it records none.
int recorded_dof(const std::filesystem::path &s_map);

// contrasts.tsv: name, condition word, rows (1: t test, more: F test), DOF, z map.
std::string contrasts_tsv(const std::vector<Contrast> &contrasts, int dof);
