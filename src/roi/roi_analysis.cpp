// Exhaustive grid search over up to four model parameters (time constants and
// onset shifts of events), fitting every overlay's mean series at each point.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "glm/design_search.h"
#include "glm/fit.h"
#include "glm/parameters.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "roi/overlays.h"
#include "roi/roi_analysis.h"

namespace {

constexpr int MAX_VARIED = 4;
// A grid has nominally 51 values; float accumulation may add one. Anything
// beyond this bound would mean a grid that does not advance.
constexpr int MAX_GRID_VALUES = 64;

struct Level {
    Variation *variation;
    std::vector<float> values;  // grid values, by repeated float addition
    float current;
    float best;
    // Onsets of the shifted event before the shift of this level, so that the
    // undo restores them exactly instead of leaving float rounding behind.
    OwnedVector<float> saved_on, saved_off;
};

struct Search {
    std::vector<Level> levels;
    OwnedVector<float> fit;
    float best_objective = std::numeric_limits<float>::infinity();
    bool found = false;
};

// The grid of one parameter around the event's time constant tau (all float).
bool make_grid(Level &level, float tau) {
    float start, stop;
    if (level.variation->kind == 1) {
        start = tau / 10.0f;
        stop = tau * 4.0f;
    } else {
        start = -tau / 2.0f;
        stop = tau / 2.0f;
    }
    const float increment = (stop - start) / 50.0f;
    if (!(increment > 0.0f) || !std::isfinite(stop) || !std::isfinite(increment)) return false;
    for (float value = start; value <= stop; value += increment) {
        if (static_cast<int>(level.values.size()) == MAX_GRID_VALUES) return false;
        level.values.push_back(value);
    }
    return true;
}

void save_onsets(Level &level) {
    const int e = level.variation->event_index, n = GLM.nstims[e];
    std::memcpy(level.saved_on.get(), GLM.stim_on[e], sizeof(float) * n);
    std::memcpy(level.saved_off.get(), GLM.stim_off[e], sizeof(float) * n);
}

void restore_onsets(const Level &level) {
    const int e = level.variation->event_index, n = GLM.nstims[e];
    std::memcpy(GLM.stim_on[e], level.saved_on.get(), sizeof(float) * n);
    std::memcpy(GLM.stim_off[e], level.saved_off.get(), sizeof(float) * n);
}

void evaluate(Search &search) {
    float S = 0.0f;
    for (Overlay *overlay = ovl_root.next; overlay; overlay = overlay->next) {
        float chi2 = 0.0f;
        GLM_fit_data(overlay->ntimepoints, overlay->time_series, search.fit.get(), &chi2);
        S += chi2;
    }
    const int P = static_cast<int>(search.levels.size());
    const float measure = P <= 2 ? GLM_DrugEfficiency() : GLM_Trace_XTXm1();
    const float objective = S * measure;
    if (measure > 0.0f && objective < search.best_objective) {
        search.best_objective = objective;
        search.found = true;
        for (Level &level : search.levels) level.best = level.current;
    }
}

void search_level(Search &search, std::size_t depth) {
    Level &level = search.levels[depth];
    Variation *v = level.variation;
    const bool shift = v->kind == 0;
    for (std::size_t i = 0; i < level.values.size(); ++i) {
        level.current = level.values[i];
        if (shift) save_onsets(level);
        v->setter(v->event_index, level.current);
        if (depth + 1 < search.levels.size())
            search_level(search, depth + 1);
        else
            evaluate(search);
        if (shift) {
            v->setter(v->event_index, -level.current);
            restore_onsets(level);
        }
        if (depth == 0 && search.levels.size() > 1) {
            std::printf("\r %d percent done", 2 * static_cast<int>(i));
            std::fflush(stdout);
        }
    }
}

}  // namespace

int analyze_ROIs() {
    std::vector<Variation *> varied;
    if (vary_root.event_index != -1)
        for (Variation *v = &vary_root; v; v = v->next) {
            const int number = GLM_EventNumberFromCharID(v->event_id);
            const int index = number > 0 ? GLM_get_event_index(number) : -1;
            if (index < 0) {
                std::printf("Error: event %c is not defined in the GLM.\n", v->event_id);
                return 1;
            }
            v->event_index = index;
            if (!GLM_shape_for_drug(index)) {
                std::printf("Error: only vary parameters (starting time, tau) for drug shapes\n");
                std::printf("       including gamma, sigmoid, and drug-IRF shapes.\n");
                return 1;
            }
            varied.push_back(v);
        }
    const int P = static_cast<int>(varied.size());
    if (P == 0) return 0;
    if (P > MAX_VARIED) {
        std::printf("Error: I can only vary up to 4 parameters simultaneously (not %d)\n", P);
        return 1;
    }
    Search search;
    search.levels.resize(P);
    for (int p = 0; p < P; ++p) {
        Level &level = search.levels[p];
        level.variation = varied[p];
        const float tau = GLM_get_time_constant(varied[p]->event_index);
        if (!make_grid(level, tau)) {
            std::printf("Error: event %c has the time constant %g; a parameter search needs a positive one.\n",
                        varied[p]->event_id, tau);
            return 1;
        }
        // The starting parameters stand until a combination qualifies.
        level.best = varied[p]->kind == 1 ? tau : 0.0f;
        if (varied[p]->kind == 0) {
            level.saved_on = OwnedVector<float>(MAX_STIMS);
            level.saved_off = OwnedVector<float>(MAX_STIMS);
        }
    }
    if (!ovl_root.next) {
        std::printf("Error: no regions of interest to analyse.\n");
        return 1;
    }
    search.fit = OwnedVector<float>(ovl_root.next->ntimepoints > 0 ? ovl_root.next->ntimepoints : 1);

    {
        // The combinations' designs agree with fresh builds to float rounding;
        // the model is left at the best values by exact builds below.
        GLMDesignSearchScope scope;
        search_level(search, 0);
    }
    std::printf("\n");

    // Every shift has been undone, so best shifts apply once to the original
    // onsets; without a qualifying combination this restores the start.
    for (const Level &level : search.levels) level.variation->setter(level.variation->event_index, level.best);

    if (!search.found) {
        std::printf("No parameter combination gave a positive design efficiency; no best values.\n");
        return 0;
    }
    std::printf("min chi2 / DOF = %g\n", search.best_objective);
    for (const Level &level : search.levels) {
        if (level.variation->kind == 1)
            std::printf("best tau for event %c = %g\n", level.variation->event_id, level.best);
        else
            std::printf("best onset increment for event %c = %g\n", level.variation->event_id, level.best);
    }
    return 0;
}
