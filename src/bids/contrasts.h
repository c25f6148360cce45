// Contrasts written with trial type names, as the program's condition words:
// "finger-foot" -> "1-2", "finger" -> "1", "finger+foot" -> "12", and
// "finger,foot" (an F test of both rows) -> "1,2".
#pragma once

#include <string>
#include <vector>

#include "bids/events.h"

struct Contrast {
    std::string name;                      // as written
    std::string condition;                 // the program's condition word
    std::string file_name;                 // the name in map file names (Z-<file_name>.nii)
    int rows = 1;                          // 1: a t test; more: an F test of that many rows
    std::vector<std::string> trial_types;  // those it uses
};

// Terms are trial type names joined by + and -, rows are joined by ','; a row
// may start with a sign. A text that reads in no way or in more than one
// (trial types whose names hold +, - or ,) is refused.
Contrast parse_contrast(const std::string &text, const Identifiers &ids);

// The name with every character but letters, digits and . _ , + - replaced by _.
std::string file_name_of(const std::string &name);

// Refuses two contrasts that make the same condition or the same map names.
void check_distinct(const std::vector<Contrast> &contrasts);
