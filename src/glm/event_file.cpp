#include "glm/event_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "glm/description_text.h"
#include "glm/drug_kernels.h"
#include "glm/paradigm.h"
#include "glm/polynomial.h"
#include "glm/state.h"
#include "numerics/text_lines.h"
#include "numerics/warnings.h"

namespace {

bool is_baseline_shape(int shape) { return shape >= SHAPE_BASELINE0 && shape <= SHAPE_BASELINE_EXP_SAT; }

// Shapes whose blocks list stimuli with an ON and an OFF time.
bool takes_on_off(int shape) {
    switch (shape) {
        case SHAPE_SQUARE: case SHAPE_DRUG_IRF: case SHAPE_SINE: case SHAPE_COSINE:
        case SHAPE_RAMP_UP: case SHAPE_RAMP_DOWN: case SHAPE_EXP_DOWN:
            return true;
        default:
            return false;
    }
}

// Shapes whose blocks list stimuli with an ON time only.
bool takes_on_only(int shape) { return shape == SHAPE_GAMMA || shape == SHAPE_SIGMOID; }

// State of one event file while it is read.
struct EventFileReader {
    const char *path;
    int run;
    std::FILE *file = nullptr;
    char line[LINE_BUFFER_SIZE];
    int line_number = 0;

    // The current block: no block before the first header.
    bool have_block = false;
    int event = 0;   // event number, -1 for an exclusion block
    char id = ' ';   // identifier character of the block
    int shape = SHAPE_SQUARE;
    int index = -1;  // event index of a defined event
    int stim_count = 0;
    // Alpha last set by a gamma, sigmoid or exponential-down header of this file.
    float alpha = 1.0f;

    // Reads the next line; -1 at end of file, 1 after a message for an over-long line.
    int next_line() {
        const LineStatus status = read_text_line(file, line);
        if (status == LineStatus::end_of_file) return -1;
        ++line_number;
        if (status == LineStatus::too_long) {
            report_long_line(line_number, path);
            return 1;
        }
        return 0;
    }

    int read(int ntime_run);
    int stimulus_line();
    int header_line();
    int define_or_check(int shape_code, float p1, float p2, int nwords, int column);
    int append_run_entry(int column);
};

// Message of an event whose stimulus list outgrew the model.
int too_many_stimuli(int count, char id) {
    std::printf("Error: the number of stimuli (%d) for event %c > max dimension in program (%d).\n", count, id,
                MAX_STIMS);
    return 1;
}

int EventFileReader::stimulus_line() {
    if (!have_block) {
        std::printf("Error reading line %d of the GLM file %s\n", line_number, path);
        std::printf("A blank line and an event header must come before stimulus lines.\n");
        return 1;
    }
    const float run_offset = static_cast<float>(GLM.run_start[run]) * GLM.tr[run];
    float on = 0.0f, off = 0.0f, magnitude = 1.0f;
    TextScanner scan(line);
    if (event < 0 || takes_on_off(shape)) {
        if (!scan.number(&on) || !scan.number(&off)) {
            std::printf("Error reading line %d of the GLM file %s\n", line_number, path);
            std::printf("This should be on time & off time for event %c and stim %d.\n", id, stim_count);
            GLMInternal_describe_event_format(shape);
            return 1;
        }
        scan.number(&magnitude);
    } else if (takes_on_only(shape)) {
        if (!scan.number(&on)) {
            std::printf("Error reading line %d of the GLM file %s\n", line_number, path);
            std::printf("This line should at least give the ON time for event %c and stim %d.\n", id, stim_count);
            GLMInternal_describe_event_format(shape);
            return 1;
        }
        scan.number(&magnitude);
        off = static_cast<float>(GLM.run_stop[run] - GLM.run_start[run]) * GLM.tr[run];
    } else {
        std::printf("Error interpretting line %d of the GLM file %s\n", line_number, path);
        std::printf("Only a blank line should follow a table, baseline, or interaction event.\n");
        GLMInternal_describe_event_format(shape);
        return 1;
    }
    if (!std::isfinite(magnitude)) {
        report_not_finite(line_number, path);
        return 1;
    }

    // Written as negated comparisons so that NaN and infinite times are refused too.
    if (!(on >= 0.0f) || std::isinf(on)) {
        std::printf("Error: ON time must be > 0 for stim %d of event %c.\n", stim_count, id);
        return 1;
    }
    if (event > 0) {
        if (!(on < off) || std::isinf(off)) {
            std::printf("Error: OFF time must be > ON time for stim %d of event %c.\n", stim_count, id);
            return 1;
        }
        const int n = GLM.nstims[index];
        if (n >= MAX_STIMS) return too_many_stimuli(n + 1, id);
        // The run ends where its last time point's interval ends: its number of
        // points times TR. A stimulus starting there or later lands in the next
        // run (a mis-paired or cut event file, most likely): say so, counting
        // the stimuli of the block from 1.
        const float run_end = static_cast<float>(GLM.run_stop[run] - GLM.run_start[run] + 1) * GLM.tr[run];
        if (on >= run_end - GLMInternal_time_slack(run_end, GLM.tr[run]))
            print_warning("Warning: stimulus %d of event %c in %s starts at %g s, after the end of its run (%g s).\n",
                        stim_count + 1, id, path, static_cast<double>(on), static_cast<double>(run_end));
        GLM.stim_on[index][n] = run_offset + on;
        GLM.stim_off[index][n] = run_offset + off;
        GLM.stim_magnitude[index][n] = magnitude;
        GLM.nstims[index] = n + 1;
        ++stim_count;
    } else {
        if (!(on <= off) || std::isinf(off)) {
            std::printf("Error: OFF time must be >= ON time for exclusion segments (event %c).\n", id);
            return 1;
        }
        if (GLM.nexcluded >= MAX_EXCLUDED) {
            std::printf("Error: the number of segments to exclude (%d) > max dimension in program (%d).\n",
                        GLM.nexcluded + 1, MAX_EXCLUDED);
            return 1;
        }
        const float start = static_cast<float>(GLM.run_start[run]);
        GLM.excluded_start[GLM.nexcluded] = truncate_to_int(start + on);
        GLM.excluded_stop[GLM.nexcluded] = truncate_to_int(start + off);
        // Points beyond the run belong to the next run (or to none): say so,
        // counting the segments of the block from 1.
        if (GLM.excluded_stop[GLM.nexcluded] > GLM.run_stop[run])
            print_warning("Warning: excluded segment %d in %s ends at time point %g, after the end of its run (%d "
                          "points).\n",
                          stim_count + 1, path, static_cast<double>(off), GLM.run_stop[run] - GLM.run_start[run] + 1);
        ++GLM.nexcluded;
        ++stim_count;
    }
    return 0;
}

// One entry spanning the whole run, for table, baseline and interaction events.
int EventFileReader::append_run_entry(int column) {
    const int n = GLM.nstims[index];
    if (n >= MAX_STIMS) return too_many_stimuli(n + 1, id);
    GLM.stim_on[index][n] = static_cast<float>(GLM.run_start[run]) * GLM.tr[0];
    GLM.stim_off[index][n] = static_cast<float>(GLM.run_stop[run]) * GLM.tr[0];
    GLM.stim_magnitude[index][n] = 1.0f;
    GLM.stim_column[index][n] = column;
    GLM.nstims[index] = n + 1;
    return 0;
}

// Takes a checked header of a real event into the model: defines the event or
// checks it against its earlier definition, then adds its whole-run entry.
int EventFileReader::define_or_check(int shape_code, float p1, float p2, int nwords, int column) {
    const int found = GLM_get_event_index(event);
    if (found >= 0) {
        index = found;
        if (GLM.event_shape[found] != shape_code) {
            std::printf("Error: event %c does not have a consistent shape.\n", id);
            std::printf("The shape is %d in the 1st run and %d in run %d\n", GLM.event_shape[found], shape_code, run);
            return 1;
        }
        bool consistent = true;
        switch (shape_code) {
            case SHAPE_GAMMA: case SHAPE_SIGMOID: case SHAPE_EXP_DOWN:
                consistent = GLM.time_constant[found] == p1 && GLM.alpha[found] == alpha;
                break;
            case SHAPE_SINE: case SHAPE_COSINE:
                consistent = GLM.time_constant[found] == p1;
                break;
            case SHAPE_DRUG_IRF:
                consistent = GLM.time_constant[found] == p1 && GLM.time_constant2[found] == (nwords == 4 ? p2 : 0.0f);
                break;
            case SHAPE_INTERACTION:
                // The interacting pair is the event's definition too.
                consistent = GLM.time_constant[found] == p1 && GLM.time_constant2[found] == p2;
                break;
            default:
                break;
        }
        if (!consistent) {
            std::printf("Error: event %c does not have a consistent time constant.\n", id);
            return 1;
        }
        if (is_baseline_shape(shape_code)) {
            std::printf("Error: event %c is a baseline regressor and must be unique.\n", id);
            std::printf("Use different regressors in different runs.\n");
            return 1;
        }
    } else {
        index = GLM.nevents++;
        GLM.event_number[index] = event;
        GLM.event_shape[index] = shape_code;
        GLM.time_constant[index] = p1;
        GLM.time_constant2[index] = (shape_code == SHAPE_DRUG_IRF && nwords < 4) ? 0.0f : p2;
        GLM.alpha[index] = alpha;
        GLM.drug_irf_length[index] = 0;
        if (shape_code == SHAPE_DRUG_IRF) GLMInternal_make_drug_kernels(index);
    }

    if (shape_code == SHAPE_TABLE) {
        if (column >= GLM.table_ncols[run]) {
            std::printf("Error: column number (%d) for event %c\n", column, id);
            std::printf("       >= number of columns (%d) for run %d\n", GLM.table_ncols[run], run);
            return 1;
        }
        if (GLM.drift_correct_terms[event] == -1) GLM.drift_correct_terms[event] = GLM_input.nbaseline_terms;
        const int terms = GLM.drift_correct_terms[event];
        if (terms > 0) {
            if (GLM_input.notify)
                std::printf("drift-correct table event %c for run %d and column %d using %d terms\n", id, run, column,
                            terms);
            GLMInternal_drift_correct_table(run, column, terms);
        }
        return append_run_entry(column);
    }
    if (is_baseline_shape(shape_code) || shape_code == SHAPE_INTERACTION) return append_run_entry(0);
    return 0;
}

int EventFileReader::header_line() {
    char words[4][NAME_SIZE];
    int nwords = 0;
    TextScanner scan(line);
    while (nwords < 4 && scan.word(words[nwords], NAME_SIZE)) ++nwords;
    // Words 3 and 4 as numbers; has_p tells which of them are numbers at all.
    float p1 = 0.0f, p2 = 0.0f;
    const bool has_p1 = nwords >= 3 && word_number(words[2], &p1);
    const bool has_p2 = nwords >= 4 && word_number(words[3], &p2);
    if (!has_p1) p1 = 0.0f;
    if (!has_p2) p2 = 0.0f;

    id = words[0][0];
    event = (id == '-') ? -1 : GLM_EventNumberFromCharID(id);
    if (event == 0) {
        std::printf("Event number (%d) for event (%c) is not allowed on line %d in file %s\n", 0, id, line_number,
                    path);
        return 1;
    }

    const char *word = nwords >= 2 ? words[1] : "";
    // Time constants, alpha, column and order must be finite; an interaction names events instead.
    if (std::strcmp(word, "interaction") != 0 && ((has_p1 && !std::isfinite(p1)) || (has_p2 && !std::isfinite(p2)))) {
        report_not_finite(line_number, path);
        return 1;
    }
    int shape_code = -1;
    int column = 0;
    if (nwords == 1 || std::strcmp(word, "square") == 0) {
        shape_code = SHAPE_SQUARE;
    } else if (std::strcmp(word, "ramp-up") == 0) {
        shape_code = SHAPE_RAMP_UP;
    } else if (std::strcmp(word, "ramp-down") == 0) {
        shape_code = SHAPE_RAMP_DOWN;
    } else if (std::strcmp(word, "gamma") == 0 || std::strcmp(word, "sigmoid") == 0 ||
               std::strcmp(word, "exponential-down") == 0) {
        shape_code = word[0] == 'g' ? SHAPE_GAMMA : word[0] == 's' ? SHAPE_SIGMOID : SHAPE_EXP_DOWN;
        if ((nwords != 3 && nwords != 4) || !has_p1 || (nwords == 4 && !has_p2)) {
            std::printf("Error on line %d for event type %d in file %s\n", line_number, event, path);
            std::printf("For gamma & sigmoid shapes, specify the time constant and optionally alpha.\n");
            GLMInternal_describe_event_format(shape_code);
            return 1;
        }
        if (!(p1 > 0.0f)) {
            std::printf("Error reading stim %d of event %c:\n", stim_count, id);
            std::printf("Gamma & sigmoid time constants (%f) must be > 0\n", static_cast<double>(p1));
            GLMInternal_describe_event_format(shape_code);
            return 1;
        }
        alpha = (nwords == 4) ? p2 : 1.0f;
    } else if (std::strcmp(word, "sine") == 0 || std::strcmp(word, "cosine") == 0) {
        shape_code = word[0] == 's' ? SHAPE_SINE : SHAPE_COSINE;
        if (nwords != 3 || !has_p1) {
            std::printf("Error on line %d for event type %d in file %s, # words read = %d\n", line_number, event, path,
                        nwords);
            std::printf("For sine or cosine shapes, specify the period.\n");
            return 1;
        }
        if (!(p1 > 0.0f)) {
            std::printf("Error reading stim %d of event %c:\n", stim_count, id);
            std::printf("Sine and cosine events must have a period (%g) must be > 0\n", static_cast<double>(p1));
            GLMInternal_describe_event_format(shape_code);
            return 1;
        }
    } else if (std::strcmp(word, "drug-IRF") == 0) {
        shape_code = SHAPE_DRUG_IRF;
        if (nwords < 3 || !has_p1 || (nwords == 4 && !has_p2)) {
            std::printf("Error on line %d for event type %d in file %s\n", line_number, event, path);
            std::printf("Error: for drug-IRF shape, specify the convolution time constant.\n");
            GLMInternal_describe_event_format(SHAPE_DRUG_IRF);
            return 1;
        }
        if (!(p1 >= 0.0f) || (nwords == 4 && p2 < 0.0f)) {
            std::printf("Error reading stim %d of event %c:\n", stim_count, id);
            std::printf("Time constant for shape drug-IRF (%f) must be >= 0.\n",
                        static_cast<double>(p1 < 0.0f ? p1 : p2));
            GLMInternal_describe_event_format(SHAPE_DRUG_IRF);
            return 1;
        }
    } else if (std::strcmp(word, "table") == 0) {
        shape_code = SHAPE_TABLE;
        if (nwords != 3 || !has_p1) {
            std::printf("Error on line %d for event type %d in file %s, # words read = %d\n", line_number, event, path,
                        nwords);
            std::printf("For table events, give the column entry.\n");
            GLMInternal_describe_event_format(SHAPE_TABLE);
            return 1;
        }
        column = truncate_to_int(p1);
        if (column < 0 || column > GLM.table_ncols[run]) {
            std::printf("Error: The TABLE event %c refers to column %d for run %d,\n", id, column, run);
            std::printf("...but allowed values are 0 to %d.\n", GLM.table_ncols[run]);
            GLMInternal_describe_event_format(SHAPE_TABLE);
            return 1;
        }
    } else if (std::strcmp(word, "baseline") == 0) {
        if (nwords != 3 || !has_p1) {
            std::printf("Error on line %d for event type %d in file %s, # words read = %d\n", line_number, event, path,
                        nwords);
            std::printf("For baseline events, give the polynomial order.\n");
            GLMInternal_describe_event_format(SHAPE_BASELINE1);
            return 1;
        }
        const int order = truncate_to_int(p1);
        if (order < 0 || order > 3) {
            std::printf("Error: The BASELINE event %c refers to order %d for run %d,\n", id, order, run);
            std::printf("...but allowed values are 0 to 3.\n");
            GLMInternal_describe_event_format(SHAPE_BASELINE1);
            return 1;
        }
        if (order < GLM_input.nbaseline_terms) {
            std::printf("Error: redundant baseline terms: `baseline-terms %d'\n", GLM_input.nbaseline_terms);
            std::printf("is not compatible with an explicit baseline event of order %d.\n", order);
            return 1;
        }
        shape_code = SHAPE_BASELINE0 + order;
    } else if (std::strcmp(word, "baseline-exp-sat") == 0) {
        shape_code = SHAPE_BASELINE_EXP_SAT;
        if (nwords != 3 || !has_p1) {
            std::printf("Error on line %d for event type %d in file %s, # words read = %d\n", line_number, event, path,
                        nwords);
            std::printf("For baseline-exp-sat events, give the exponential time constant.\n");
            GLMInternal_describe_event_format(SHAPE_BASELINE_EXP_SAT);
            return 1;
        }
        if (!(p1 > 0.0f)) {
            std::printf("Error: The baseline-exp-sat event %c uses a tau value (%g) <= 1 for run %d,\n", id,
                        static_cast<double>(p1), run);
            GLMInternal_describe_event_format(SHAPE_BASELINE_EXP_SAT);
            return 1;
        }
    } else if (std::strcmp(word, "interaction") == 0) {
        shape_code = SHAPE_INTERACTION;
        if (nwords != 4) {
            std::printf("Error on line %d for event type %d in file %s, # words read = %d\n", line_number, event, path,
                        nwords);
            std::printf("For interaction events, give two event types that interact.\n");
            GLMInternal_describe_event_format(SHAPE_INTERACTION);
            return 1;
        }
        const char id1 = words[2][0], id2 = words[3][0];
        const int e1 = GLM_EventNumberFromCharID(id1), e2 = GLM_EventNumberFromCharID(id2);
        if (e1 == 0 || e2 == 0) {
            std::printf("One of the interacting events (%c, %c) is not allowed\n", id1, id2);
            std::printf("on line %d in file %s\n", line_number, path);
            return 1;
        }
        if (GLM_get_event_index(e1) < 0 || GLM_get_event_index(e2) < 0) {
            std::printf("For event %c, interacting events must be previously defined.\n", id);
            GLMInternal_describe_event_format(SHAPE_INTERACTION);
            return 1;
        }
        if (e1 == e2) {
            std::printf("For event %c, the two interacting events are the same!\n", id);
            GLMInternal_describe_event_format(SHAPE_INTERACTION);
            return 1;
        }
        p1 = static_cast<float>(e1);
        p2 = static_cast<float>(e2);
    } else {
        std::printf("Error: stimulus shapes are 'square' (default), 'gamma', 'sigmoid', 'drug-IRF'\n");
        std::printf("or `table' (error on line %d).\n", line_number);
        return 1;
    }

    if (event > 0) {
        if (shape_code == SHAPE_DRUG_IRF && GLM_get_event_index(event) < 0) {
            // Without an IRF the kernels are sampled once per TR.
            if (HRF.resolution == 0.0f) HRF.resolution = GLM.tr[0];
            if (GLMInternal_drug_kernel_length(p1, nwords == 4 ? p2 : 0.0f) < 0) {
                std::printf("Error on line %d for event type %d in file %s\n", line_number, event, path);
                std::printf("The drug-IRF time constants need kernels of more than %d samples at a resolution of %g "
                            "seconds.\n",
                            MAX_KERNEL_SAMPLES, static_cast<double>(HRF.resolution));
                return 1;
            }
        }
        if (define_or_check(shape_code, p1, p2, nwords, column)) return 1;
    }
    have_block = true;
    shape = shape_code;
    stim_count = 0;
    return 0;
}

int EventFileReader::read(int ntime_run) {
    file = std::fopen(path, "r");
    if (!file) {
        std::printf("Error attempting to open the GLM file %s.\n", path);
        return 1;
    }
    int status = next_line();
    if (status < 0) {
        std::printf("Error reading the 1st line of GLM file %s\n", path);
        return 1;
    }
    if (status > 0) return 1;
    float tr = 0.0f;
    TextScanner scan(line);
    if (!scan.number(&tr)) {
        std::printf("Error reading line %d of the GLM file %s (TR).\n", 1, path);
        return 1;
    }
    // A TR that is not a positive time leaves no time axis.
    if (!(tr > 0.0f) || std::isinf(tr)) {
        std::printf("Error: the TR (%g) on line 1 of the GLM file %s must be > 0.\n", static_cast<double>(tr), path);
        return 1;
    }
    if (run > 0 && tr != GLM.tr[0]) {
        std::printf("Error: TR (%f) is not the same as the first run (%f).\n", static_cast<double>(tr),
                    static_cast<double>(GLM.tr[0]));
        std::exit(1);
    }
    GLM.tr[run] = tr;
    GLM.ntime += ntime_run;
    GLM.run_stop[run] = GLM.ntime - 1;
    GLM.run_start[run] = (run == 0) ? 0 : GLM.run_stop[run - 1] + 1;

    for (;;) {
        status = next_line();
        if (status < 0) break;
        if (status > 0) return 1;
        if (!is_blank_line(line)) {
            if (stimulus_line()) return 1;
            continue;
        }
        // One or more blank lines, then a header.
        do {
            status = next_line();
        } while (status == 0 && is_blank_line(line));
        if (status < 0) break;
        if (status > 0) return 1;
        if (header_line()) return 1;
    }

    for (int i = 0; i < GLM.nevents; ++i)
        if (GLM.nstims[i] < 1) {
            std::printf("Error checking problem: # stims < 1 for event %c.\n", GLM_EventCharID(GLM.event_number[i]));
            std::printf("Check format of event description file.\n");
            std::exit(1);
        }
    return 0;
}

}  // namespace

int GLM_read_event_file(const char *path, int run, int ntime_run) {
    // The per-run arrays hold MAX_RUNS runs, and a run spans at least one time point.
    if (run < 0 || run >= MAX_RUNS) {
        std::printf("Error: run %d is outside the %d runs the model holds.\n", run, MAX_RUNS);
        return 1;
    }
    if (ntime_run < 1) {
        std::printf("Error: run %d has no time points.\n", run);
        return 1;
    }
    if (!is_regular_file(path, "event file")) return 1;
    EventFileReader reader;
    reader.path = path;
    reader.run = run;
    const int result = reader.read(ntime_run);
    if (reader.file) std::fclose(reader.file);
    return result;
}
