// Printed descriptions of the model: input files, stimuli, conditions, and the
// design matrix written to basis.dat.
#include "glm/reports.h"

#include <cstdio>
#include <cstring>

#include "glm/state.h"
#include "numerics/temp_files.h"

namespace {

// Identifier character of an event number, '?' for a number that has none
// (a report must not end the program).
char event_char(int number) {
    char c = '?';
    if (GLM_EventCharIDFromInteger(number, &c)) return '?';
    return c;
}

const char *table_column_label(int column) {
    if (column < 0 || column >= MAX_TABLE_COLUMNS) return "undefined";
    return GLM.table_column_name[column];
}

// The annotated first line of an event with stimulus lines.
void print_first_stimulus(int e, float on, float off, float magnitude, char id) {
    const double tau = GLM.time_constant[e];
    switch (GLM.event_shape[e]) {
        case SHAPE_SQUARE:
            std::printf("%5.1f %5.1f %8.2f (square event %c)\n", on, off, magnitude, id);
            break;
        case SHAPE_RAMP_UP:
            std::printf("%5.1f %5.1f %8.2f (ramp-up event %c)\n", on, off, magnitude, id);
            break;
        case SHAPE_RAMP_DOWN:
            std::printf("%5.1f %5.1f %8.2f (ramp-down event %c)\n", on, off, magnitude, id);
            break;
        case SHAPE_EXP_DOWN:
            std::printf("%5.1f %5.1f %8.2f (exponential-down event %c, tau = %5.1f)\n", on, off, magnitude, id, tau);
            break;
        case SHAPE_SINE:
            std::printf("%5.1f %5.1f %8.2f (sine event %c, period = %g)\n", on, off, magnitude, id, tau);
            break;
        case SHAPE_COSINE:
            std::printf("%5.1f %5.1f %8.2f (cosine event %c, period = %g)\n", on, off, magnitude, id, tau);
            break;
        case SHAPE_GAMMA:
            if (GLM.alpha[e] != 1.0f)
                std::printf("%5.1f %5.1f %8.2f (gamma event %c, tau = %5.1f, alpha = %4.1f)\n", on, off, magnitude, id,
                            tau, static_cast<double>(GLM.alpha[e]));
            else
                std::printf("%5.1f %5.1f %8.2f (gamma event %c, tau = %5.1f)\n", on, off, magnitude, id, tau);
            break;
        case SHAPE_SIGMOID:
            std::printf("%5.1f %5.1f %8.2f (sigmoid event %c, tau = %5.1f)\n", on, off, magnitude, id, tau);
            break;
        case SHAPE_DRUG_IRF:
            std::printf("%5.1f %5.1f %8.2f (drug-IRF event %c, tau = %g %g)\n", on, off, magnitude, id, tau,
                        static_cast<double>(GLM.time_constant2[e]));
            break;
        default:
            std::printf("%5.1f %5.1f %8.2f\n", on, off, magnitude);
            break;
    }
}

// Events that span whole runs have no magnitude; every entry is annotated.
// Returns false for shapes with stimulus lines.
bool print_run_entry(int e, int s, double on, double off, char id) {
    switch (GLM.event_shape[e]) {
        case SHAPE_TABLE: {
            const int column = GLM.stim_column[e][s];
            std::printf("%5.1f %5.1f          (table event %c, column %d -> %s)\n", on, off, id, column,
                        table_column_label(column));
            return true;
        }
        case SHAPE_BASELINE0:
            std::printf("%5.1f %5.1f          (baseline event %c, DC term)\n", on, off, id);
            return true;
        case SHAPE_BASELINE1:
            std::printf("%5.1f %5.1f          (baseline event %c, linear term)\n", on, off, id);
            return true;
        case SHAPE_BASELINE2:
            std::printf("%5.1f %5.1f          (baseline event %c, quadratic term)\n", on, off, id);
            return true;
        case SHAPE_BASELINE3:
            std::printf("%5.1f %5.1f          (baseline event %c, cubic term)\n", on, off, id);
            return true;
        case SHAPE_BASELINE_EXP_SAT:
            std::printf("%5.1f %5.1f          (baseline-exp-sat event %c, tau = %g)\n", on, off, id,
                        static_cast<double>(GLM.time_constant[e]));
            return true;
        case SHAPE_INTERACTION:
            std::printf("%5.1f %5.1f          (interaction event %c, event %c times event %c)\n", on, off, id,
                        event_char(static_cast<int>(GLM.time_constant[e])),
                        event_char(static_cast<int>(GLM.time_constant2[e])));
            return true;
        default:
            return false;
    }
}

}  // namespace

void GLM_describe_input_files() {
    std::printf("\nFiles: FMRI (mandatory), GLM (mandatory), TABLE (optional)\n");
    std::printf("---------------------------------------------------------\n");
    for (int r = 0; r < GLM_input.nruns && r < MAX_RUNS; ++r)
        std::printf("%d %s %s %s\n", r + 1, GLM_input.fmri_file[r], GLM_input.event_file[r], GLM_input.table_file[r]);
    std::printf("\n");
}

void GLM_describe_stimuli() {
    if (GLM.nruns == 1)
        std::printf("GLM description: %d time points in %d run with TR = %4.1f\n\n  stimuli:\n", GLM.ntime, GLM.nruns,
                    static_cast<double>(GLM.tr[0]));
    else
        std::printf("GLM description: %d time points in %d runs with TR = %4.1f\n\n  stimuli:\n", GLM.ntime, GLM.nruns,
                    static_cast<double>(GLM.tr[0]));
    std::printf("\n# events = %d\n\n", GLM.nevents);
    std::printf(" ON    OFF  STRENGTH\n");
    std::printf("----- ----- --------\n");

    const int nevents = GLM.nevents < MAX_EVENTS ? GLM.nevents : MAX_EVENTS;
    for (int e = 0; e < nevents; ++e) {
        const char id = event_char(GLM.event_number[e]);
        const int nstims = GLM.nstims[e] < MAX_STIMS ? GLM.nstims[e] : MAX_STIMS;
        for (int s = 0; s < nstims; ++s) {
            const double on = GLM.stim_on[e][s];
            const double off = GLM.stim_off[e][s];
            if (print_run_entry(e, s, on, off, id)) continue;
            if (s == 0)
                print_first_stimulus(e, GLM.stim_on[e][s], GLM.stim_off[e][s], GLM.stim_magnitude[e][s], id);
            else
                std::printf("%5.1f %5.1f %8.2f\n", on, off, static_cast<double>(GLM.stim_magnitude[e][s]));
        }
    }

    const int nexcluded = GLM.nexcluded < MAX_EXCLUDED ? GLM.nexcluded : MAX_EXCLUDED;
    for (int j = 0; j < nexcluded; ++j) {
        if (j == 0)
            std::printf("%5d %5d (excluded segments, units = time points)\n", GLM.excluded_start[j],
                        GLM.excluded_stop[j]);
        else
            std::printf("%5d %5d\n", GLM.excluded_start[j], GLM.excluded_stop[j]);
    }
}


void GLM_describe_basis_functions() {
    std::FILE *out = create_output("basis.dat");
    if (!out) {
        std::printf("Cannot open basis function output file ...\n");
        return;
    }
    std::fprintf(out, "x ");
    const int nbaseline = GLM_input.nbaseline_terms < 4 ? GLM_input.nbaseline_terms : 4;
    const int ncolumns = (GLM.nevents < MAX_EVENTS ? GLM.nevents : MAX_EVENTS) + nbaseline * GLM.nruns;
    char label[32];
    for (int b = 0; b < ncolumns; ++b) std::fprintf(out, "%s ", GLM_basis_label(b, label));
    std::fprintf(out, "\n");

    if (GLM.design_unmasked) {
        for (int t = 0; t < GLM.ntime; ++t) {
            std::fprintf(out, "%d ", t);
            const float *row = GLM.design_unmasked[t];
            for (int b = 0; b < GLM.nbasis; ++b) std::fprintf(out, "%f ", static_cast<double>(row[b]));
            std::fprintf(out, "\n");
        }
    }
    // A full disk must not leave a truncated report that looks complete.
    if (!close_output(out)) std::printf("Error writing the basis function output file basis.dat.\n");
}

void GLM_describe_conditions() {
    std::printf("Conditions to be tested: ");
    for (int c = 0; c < GLM.nconditions; ++c) std::printf("%s ", GLM.condition_string[c]);
    std::printf("\n");
    for (int c = 0; c < GLM.nconditions; ++c) {
        std::printf("condition %s (%d contrasts):\n", GLM.condition_string[c], GLM.condition_nrows[c]);
        if (!GLM.contrast[c]) continue;  // counted only, no contrast built
        for (int r = 0; r < GLM.condition_nrows[c]; ++r) {
            for (int b = 0; b < GLM.nbasis; ++b) std::printf("%d ", GLM.contrast[c][r][b]);
            std::printf("\n");
        }
    }
}

const char *GLM_basis_label(int column, char label[32]) {
    static const char *const terms[] = {"offset", "slope", "quad", "triad"};
    const int E = GLM.nevents, R = GLM.nruns;
    if (column >= 0 && column < E && column < MAX_EVENTS)
        std::snprintf(label, 32, "event_%c", event_char(GLM.event_number[column]));
    else if (column >= E && R > 0 && (column - E) / R < 4)
        std::snprintf(label, 32, "%s%d", terms[(column - E) / R], (column - E) % R);
    else
        std::snprintf(label, 32, "column_%d", column);
    return label;
}

int GLM_get_condition_string(int condition, char *out) {
    if (condition < 0 || condition >= GLM.nconditions) return 1;
    const char *text = GLM.condition_string[condition];
    const std::size_t length = strnlen(text, NAME_SIZE - 1);
    std::memcpy(out, text, length);
    out[length] = '\0';
    return 0;
}
