// Region-of-interest analysis with a grid search over model parameters.
#pragma once

struct Variation {
    char event_id;
    int event_index;  // -1 in vary_root: the list is empty
    int kind;         // 1 time constant, 0 onset shift
    int (*setter)(int event_index, float value);
    Variation *next;
};

extern Variation vary_root;

// Marks the variation list as empty.
void reset_GLM_variations();
int add_GLM_variation(const char *id, int kind);
int analyze_ROIs();
