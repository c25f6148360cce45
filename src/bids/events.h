// From a BIDS events table to the stimuli of the program's event file.
//
// onset and duration give a stimulus's ON and OFF times; a modulation (or else
// amplitude) column its magnitude. Rows with n/a (or an empty cell) in a
// column used are skipped and counted in a note. The design samples every
// stimulus on its fine time grid (the TR divided into round(TR / IRF step)
// parts, 0.1 s for the built-in responses at common TRs) and covers the grid
// samples within [ON, OFF]: an event shorter than one step could cover none.
// Such an event, duration 0 included, becomes the shortest stimulus the model
// represents: one grid sample, the one nearest its onset (ON and OFF a quarter
// step either side of it, so that rounding cannot take in a neighbour).
// Events that start before the first volume are cut at 0, or dropped when they
// also end before it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "bids/tsv.h"

struct Stimulus {
    double on, off, magnitude;
};

struct RunEvents {
    std::vector<std::string> types;                        // trial types in order of first appearance
    std::map<std::string, std::vector<Stimulus>> stimuli;  // by trial type, by onset
    std::vector<std::string> notes;
};

// The event identifiers of a participant's analyses: trial types first, in
// order of first appearance, then the confound columns.
struct Identifiers {
    std::vector<std::string> trial_types, confounds;

    void add_trial_types(const std::vector<std::string> &types);
    char of_trial_type(const std::string &type) const;
    char of_confound(std::size_t column) const { return of_number(trial_types.size() + column + 1); }
    // The identifier of event number n (1-9, a-z, A-Z).
    static char of_number(std::size_t n);
    // Refuses more events than the program can tell apart.
    void check_capacity() const;
};

// A number as the program reads it (a float): the shortest text that gives the same float.
std::string number_text(double value);

// The step of the design's fine time grid for this TR and IRF time step.
double fine_grid_step(double tr, float irf_resolution);

RunEvents convert_events(const TsvTable &events, double grid_step);

// The program's event file: the TR, a square event per trial type of the run,
// then a table event per confound column (confounds: how many the run's table holds).
std::string event_file_text(double tr, const RunEvents &events, const Identifiers &ids, std::size_t confounds);
