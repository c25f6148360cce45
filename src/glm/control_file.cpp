#include "glm/control_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "glm/description_text.h"
#include "glm/event_file.h"
#include "glm/hrf_file.h"
#include "glm/reports.h"
#include "glm/state.h"
#include "glm/table_file.h"
#include "numerics/text_lines.h"
#include "numerics/warnings.h"
#include "volume/volume_header.h"

namespace {

// Returned by a keyword decoder for a number that is not finite; the reader
// names the file and line.
constexpr int NOT_FINITE = -3;

// Event number of an identifier character that names a real event (1..61), else 0.
int target_event(char c) {
    const int e = GLM_EventNumberFromCharID(c);
    return e > 0 ? e : 0;
}

// The identifiers of an argument text: every character above the space
// character (bytes above 127 included, so that they are refused too).
bool is_identifier_position(char c) { return static_cast<unsigned char>(c) > ' '; }

// Checks every identifier of text; prints the keyword's message for the first
// character that names no event and returns false.
bool all_identifiers_valid(const char *text, const char *message) {
    for (const char *p = text; *p; ++p)
        if (is_identifier_position(*p) && !target_event(*p)) {
            std::printf(message, *p);
            return false;
        }
    return true;
}

int decode_time_model(const char *arg) {
    char word[NAME_SIZE] = "";
    TextScanner(arg).word(word, sizeof word);
    if (std::strcmp(word, "glm") && std::strcmp(word, "GLM") && std::strcmp(word, "fMRI-GLM")) {
        print_warning("Warning: the argument of 'time-model' (%s) is not recognized as GLM,\n"
                      "so the -t [file name] option will fail using zep-display.\n"
                      "Valid arguments: GLM, glm, fMRI-GLM\n", word);
    }
    return 0;
}

int decode_baseline_terms(const char *arg) {
    int n;
    if (!TextScanner(arg).integer(&n)) {
        std::printf("Error: `baseline-terms' requires an argument (1,2,3).\n");
        return -1;
    }
    if (n < 0 || n > 4) {
        std::printf("Error: allowed value for `baseline-terms' are 0-4.\n");
        return -1;
    }
    GLM_input.nbaseline_terms = n;
    for (int e = 0; e < MAX_EVENTS; ++e)
        if (GLM.drift_correct_terms[e] == -1) GLM.drift_correct_terms[e] = n;
    return 0;
}

int decode_scale_event(const char *arg) {
    TextScanner scan(arg);
    float scale;
    char word[NAME_SIZE];
    if (!scan.number(&scale) || !scan.word(word, sizeof word) || !target_event(word[0])) {
        std::printf("Error: use `scale-event [scale] [event].\n");
        return -1;
    }
    if (!std::isfinite(scale)) return NOT_FINITE;
    GLM.event_scale[target_event(word[0])] = scale;
    return 0;
}

int decode_AR(const char *arg) {
    TextScanner scan(arg);
    int order;
    float smoothing;
    if (!scan.integer(&order)) {
        std::printf("Error: `AR' requires an integer argument.\n");
        return -1;
    }
    // A negative count of AR coefficients has no meaning and no storage.
    if (order < 0) {
        std::printf("Error: the order of `AR' (%d) must be >= 0.\n", order);
        return -1;
    }
    if (!scan.number(&smoothing)) smoothing = 1.0f;
    if (!std::isfinite(smoothing)) return NOT_FINITE;
    GLM_input.AR_order = order;
    GLM_input.AR_smoothing = smoothing;
    return 0;
}

int decode_noise_model(const char *arg) {
    TextScanner scan(arg);
    char word[NAME_SIZE];
    float parameter;
    if (!scan.word(word, sizeof word)) {
        std::printf("Error: `noise-model' requires a character argument (OLS,iWLS,fPET)\n");
        return -1;
    }
    if (!std::strcmp(word, "none") || !std::strcmp(word, "OLS")) {
        GLM_input.noise_model = NOISE_OLS;
    } else if (!std::strcmp(word, "iWLS")) {
        GLM_input.noise_model = NOISE_IWLS;
    } else if (!std::strcmp(word, "fPET")) {
        GLM_input.noise_model = NOISE_FPET;
    } else {
        std::printf("Error: `noise-model' requires an integer argument (fPET or none).\n");
        return -1;
    }
    if (!scan.number(&parameter)) parameter = 0.0f;
    if (!std::isfinite(parameter)) return NOT_FINITE;
    GLM_input.noise_model_parameter = parameter;
    return 0;
}

int decode_band(const char *arg, float band[2], const char *message) {
    TextScanner scan(arg);
    float low, high;
    if (!scan.number(&low) || !scan.number(&high)) {
        std::printf("%s\n", message);
        return -1;
    }
    if (!std::isfinite(low) || !std::isfinite(high)) return NOT_FINITE;
    band[0] = low;
    band[1] = high;
    return 0;
}

int decode_output_format(const char *arg) {
    char word[NAME_SIZE] = "";
    TextScanner(arg).word(word, sizeof word);
    if (!std::strcmp(word, "nifti") || !std::strcmp(word, "NIFTI"))
        GLM_input.output_format = 1;
    else if (!std::strcmp(word, "zep") || !std::strcmp(word, "ZEP"))
        GLM_input.output_format = 0;
    return 0;
}

int decode_convolve_table(const char *arg) {
    if (!all_identifiers_valid(arg, "Error using convolve-table: event %c is undefined.\n")) return -1;
    for (const char *p = arg; *p; ++p)
        if (is_identifier_position(*p)) GLM.convolve_table[target_event(*p)] = 1;
    return 0;
}

int decode_drift_correct(const char *arg) {
    TextScanner scan(arg);
    int terms;
    if (!scan.integer(&terms)) {
        std::printf("Error: `drift-correct' requires an integer argument, followed by event IDs.\n");
        return -1;
    }
    if (terms < 0 || terms > 4) {
        std::printf("Error: allowed values for `drift-correct' are 0-4.\n");
        return -1;
    }
    const char *ids = scan.position();
    if (!all_identifiers_valid(ids, "Error using drift-correct: event %c is undefined.\n")) return -1;
    for (const char *p = ids; *p; ++p)
        if (is_identifier_position(*p)) GLM.drift_correct_terms[target_event(*p)] = terms;
    return 0;
}

// Reads the run section: one run per non-blank line; 0 or 1.
int read_run_lines(std::FILE *file, const char *path, int *line_number) {
    char line[LINE_BUFFER_SIZE];
    GLM_input.nruns = 0;
    for (;;) {
        const LineStatus status = read_text_line(file, line);
        if (status == LineStatus::end_of_file) return 0;
        ++*line_number;
        if (status == LineStatus::too_long) {
            report_long_line(*line_number, path);
            return 1;
        }
        if (is_blank_line(line)) continue;

        const int r = GLM_input.nruns;
        if (r >= MAX_RUNS) {
            std::printf("Error: at most %d runs are allowed (file %s).\n", MAX_RUNS, path);
            return 1;
        }
        TextScanner scan(line);
        scan.word(GLM_input.fmri_file[r], NAME_SIZE);
        if (!is_regular_file(GLM_input.fmri_file[r], "data file")) return 1;
        VolumeHeader header;
        if (read_volume_header(0, GLM_input.fmri_file[r], &header)) return 1;
        const int ntime_run = header.nt;
        if (!scan.word(GLM_input.event_file[r], NAME_SIZE)) {
            std::printf("Error reading the GLM file name for run %d.\n", r + 1);
            return 1;
        }
        if (!scan.word(GLM_input.table_file[r], NAME_SIZE)) GLM_input.table_file[r][0] = '\0';
        if (GLM_read_table_file(GLM_input.table_file[r], r, ntime_run)) return 1;
        if (GLM_read_event_file(GLM_input.event_file[r], r, ntime_run)) return 1;
        ++GLM_input.nruns;
        ++GLM.nruns;
    }
}

}  // namespace

// An OFF time that coincides with an ON time of the same event is moved one
// IRF step earlier, so that abutting stimuli stay apart after sampling. The ON
// times are taken in stored order and each OFF time moves at most once per ON
// time, using its value after earlier moves. Each OFF time's history depends
// only on the sequence of ON times, so it is followed on its own through an
// index of the ON times sorted by value: the same result as comparing every
// ON with every OFF, without the quadratic cost. Stimulus times are finite
// (the event reader refuses others), so the ordering below is well defined.
void GLMInternal_separate_abutting_stimuli(int e) {
    const int n = GLM.nstims[e];
    if (n == 0) return;
    struct OnTime {
        float value;
        int index;
    };
    // By value, equal values (0 and -0 included) by stored index.
    const auto before = [](const OnTime &a, const OnTime &b) {
        return a.value < b.value || (!(b.value < a.value) && a.index < b.index);
    };
    std::vector<OnTime> on(n);
    for (int i = 0; i < n; ++i) on[i] = {GLM.stim_on[e][i], i};
    std::sort(on.begin(), on.end(), before);
    for (int j = 0; j < n; ++j) {
        float off = GLM.stim_off[e][j];
        int next_on = 0;  // ON times before this index have been compared
        for (;;) {
            // First ON time equal to off whose index is next_on or later.
            const OnTime key{off, next_on};
            const auto it = std::lower_bound(on.begin(), on.end(), key, before);
            if (it == on.end() || it->value != off) break;
            off = off - HRF.resolution;
            next_on = it->index + 1;
        }
        GLM.stim_off[e][j] = off;
    }
}

int GLMInternal_decode_keyword(char *line) {
    const char *start = next_non_white(line);
    char keyword[NAME_SIZE];
    TextScanner scan(start);
    if (!scan.word(keyword, sizeof keyword)) return -1;
    const char *arg = next_non_white(scan.position());

    if (!std::strcmp(keyword, "time-model")) return decode_time_model(arg);
    if (!std::strcmp(keyword, "baseline-terms")) return decode_baseline_terms(arg);
    if (!std::strcmp(keyword, "scale-event")) return decode_scale_event(arg);
    if (!std::strcmp(keyword, "AR")) return decode_AR(arg);
    if (!std::strcmp(keyword, "noise-model")) return decode_noise_model(arg);
    if (!std::strcmp(keyword, "frequency-filter"))
        return decode_band(arg, GLM_input.preGLM_frequency_band, "Error: `frequency-filter' requires two arguments.");
    if (!std::strcmp(keyword, "residue-filter"))
        return decode_band(arg, GLM_input.residue_frequency_band, "Error: `residue-filter' requires two arguments.");
    if (!std::strcmp(keyword, "multiple-comparisons")) {
        int n;
        if (!TextScanner(arg).integer(&n)) {
            std::printf("Error: `multiple-comparisons' requires an integer argument.\n");
            return -1;
        }
        if (n < 0) {
            char word[NAME_SIZE];
            TextScanner(arg).word(word, sizeof word);
            std::printf("Error: `multiple-comparisons' needs a number of resolution elements >= 0 (read %s).\n",
                        word);
            return -1;
        }
        GLM_input.multiple_comparisons = n;
        return 0;
    }
    if (!std::strcmp(keyword, "normalize-BOLD")) {
        GLM_input.normalize = 1;
        return 0;
    }
    if (!std::strcmp(keyword, "normalize-IRON")) {
        GLM_input.normalize = 2;
        return 0;
    }
    if (!std::strcmp(keyword, "notify")) {
        GLM_input.notify = 1;
        return 0;
    }
    if (!std::strcmp(keyword, "fPET-analysis")) {
        GLM_input.fPET_analysis = 1;
        GLM_input.nbaseline_terms = 0;
        return 0;
    }
    if (!std::strcmp(keyword, "output-format")) return decode_output_format(arg);
    if (!std::strcmp(keyword, "IRF") || !std::strcmp(keyword, "HRF-file")) {
        TextScanner(arg).word(GLM_input.irf_file, NAME_SIZE);
        return 0;
    }
    if (!std::strcmp(keyword, "conditions")) {
        std::strcpy(GLM_input.conditions, arg);
        return 0;
    }
    if (!std::strcmp(keyword, "mask")) {
        if (TextScanner(arg).word(GLM_input.mask_file, NAME_SIZE)) return 0;
        std::printf("Error: `mask' requires a file name or the word auto.\n");
        return -1;
    }
    if (!std::strcmp(keyword, "z-maps")) {
        GLM_input.z_maps = 1;
        return 0;
    }
    if (!std::strcmp(keyword, "report")) {
        GLM_input.report = 1;
        // The rest of the line, if any, heads the report.
        std::snprintf(GLM_input.report_title, NAME_SIZE, "%s", arg);
        for (std::size_t n = std::strlen(GLM_input.report_title);
             n > 0 && static_cast<unsigned char>(GLM_input.report_title[n - 1]) <= ' ';)
            GLM_input.report_title[--n] = '\0';
        return 0;
    }
    if (!std::strcmp(keyword, "convolve-table")) return decode_convolve_table(arg);
    if (!std::strcmp(keyword, "drift-correct")) return decode_drift_correct(arg);
    if (!std::strcmp(keyword, "files:") || !std::strcmp(keyword, "files") || !std::strcmp(keyword, "runs:") ||
        !std::strcmp(keyword, "runs"))
        return 1;
    return -2;
}

void GLMInternal_describe_glm_format() {
    std::printf("\nExample glm input file:\n\n");
    std::printf("notify                # optional; turn on output information\n");
    std::printf("baseline-terms 3      # optional; allowed options are 0-4 (default = 3)\n");
    std::printf("normalize-BOLD        # optional; normalize raw signal for BOLD\n");
    std::printf("IRF BOLD.irf          # optional; use an I.R.F. for F.I.R. analyses\n");
    std::printf("convolve-table 8 9    # optional; convolve table events 8 & 9 with IRF\n");
    std::printf("conditions 1 2 12 1-2 # optional; Statistical tests to compute\n");
    std::printf("runs:                 # mandatory; This means that runs follow.\n");
    std::printf("../fMRI-run1.bshort run1.glm table1.dat # start listing runs, tables optional\n");
    std::printf("../fMRI-run2.bshort run2.glm            # ... and so on ...\n\n");
}

int GLM_read_control_file(const char *path, int verbose) {
    GLM_reset_model_state();
    if (!is_regular_file(path, "control file")) return 1;
    std::FILE *file = std::fopen(path, "r");
    if (!file) {
        std::printf("Error: cannot open the file %s.\n", path);
        return 1;
    }

    char line[LINE_BUFFER_SIZE];
    int physical_line = 0;
    for (;;) {
        const LineStatus status = read_text_line(file, line);
        if (status == LineStatus::end_of_file) break;
        ++physical_line;
        if (status == LineStatus::too_long) {
            report_long_line(physical_line, path);
            std::fclose(file);
            return 1;
        }
        if (is_blank_line(line)) continue;
        const int decoded = GLMInternal_decode_keyword(line);
        if (decoded == NOT_FINITE) {
            report_not_finite(physical_line, path);
            std::fclose(file);
            return 1;
        }
        if (decoded < 0) {
            std::printf("Error reading line %d of file '%s':\n", physical_line, path);
            if (decoded == -2) {
                char keyword[NAME_SIZE];
                TextScanner(line).word(keyword, sizeof keyword);
                std::printf("The keyword `%s' is not understood.\n", keyword);
            }
            GLMInternal_describe_glm_format();
            std::fclose(file);
            return 1;
        }
        if (decoded == 1) break;
    }

    const int report = (verbose || GLM_input.notify) ? 1 : 0;
    if (GLM_read_hrf_file(report, GLM_input.irf_file)) {
        std::fclose(file);
        return 1;
    }
    const int failed = read_run_lines(file, path, &physical_line);
    std::fclose(file);
    if (failed) return 1;
    // The whitening filter of an AR model needs more time points than coefficients.
    if (GLM.nruns > 0 && GLM_input.AR_order > 0 && GLM_input.AR_order >= GLM.ntime) {
        std::printf("Error: the order of `AR' (%d) must be less than the number of time points (%d).\n",
                    GLM_input.AR_order, GLM.ntime);
        return 1;
    }

    if (HRF.active == 1)
        for (int e = 0; e < GLM.nevents; ++e)
            switch (GLM.event_shape[e]) {
                case SHAPE_SQUARE: case SHAPE_RAMP_UP: case SHAPE_RAMP_DOWN: case SHAPE_EXP_DOWN: case SHAPE_DRUG_IRF:
                    GLMInternal_separate_abutting_stimuli(e);
                    break;
                default:
                    break;
            }

    if (report) GLM_describe_stimuli();

    for (int number = 1; number < MAX_EVENTS; ++number) {
        if (!GLM.convolve_table[number]) continue;
        const int e = GLM_get_event_index(number);
        if (e >= 0 && GLM.event_shape[e] == SHAPE_TABLE) continue;
        std::printf("Error: Convolution for table event %c was requested\n", GLM_EventCharID(number));
        std::printf(e >= 0 ? "using `convolve-table', but this event is not a table.\n"
                           : "using `convolve-table', but this event is not defined.\n");
        return 1;
    }

    GLM.initialized = 1;
    return 0;
}
