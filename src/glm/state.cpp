#include "glm/state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "glm/basis.h"
#include "numerics/arrays.h"

GLMModel GLM;
GLMInputs GLM_input;
HRFModel HRF;

int GLM_EventNumberFromCharID(char c) {
    if (c >= '1' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return 10 + (c - 'a');
    if (c >= 'A' && c <= 'Z') return 36 + (c - 'A');
    if (c == ',') return -1;
    return 0;
}

int GLM_EventCharIDFromInteger(int n, char *out) {
    if (n >= 1 && n <= 9) {
        *out = static_cast<char>('0' + n);
    } else if (n >= 10 && n <= 35) {
        *out = static_cast<char>('a' + (n - 10));
    } else if (n >= 36 && n <= 61) {
        *out = static_cast<char>('A' + (n - 36));
    } else {
        return 1;
    }
    return 0;
}

char GLM_EventCharID(int n) {
    char c;
    if (GLM_EventCharIDFromInteger(n, &c)) {
        std::printf("Programming error: event number %d apparently is not defined!\n", n);
        std::exit(1);
    }
    return c;
}

int GLM_get_event_number(int index) {
    if (index < GLM.nevents) return GLM.event_number[index];
    return 0;
}

int GLM_get_event_index(int number) {
    for (int i = 0; i < GLM.nevents; ++i)
        if (GLM.event_number[i] == number) return i;
    return -1;
}

int GLM_get_tr(int run, float *tr) {
    if (run < 0 || run >= GLM.nruns) return 1;
    *tr = GLM.tr[run];
    return 0;
}

int GLM_get_DOF() {
    int included = 0;
    if (GLM.include)
        for (int t = 0; t < GLM.ntime; ++t) included += GLM.include[t];
    return included - GLM.nbasis;
}

void GLM_reset_model_state() {
    const int notify = GLM_input.notify;
    GLM_input.normalize = 0;
    GLM_input.nbaseline_terms = 3;
    GLM_input.notify = notify;
    GLM_input.multiple_comparisons = 0;
    GLM_input.AR_order = 0;
    GLM_input.AR_smoothing = 1.0f;
    GLM_input.preGLM_frequency_band[0] = GLM_input.preGLM_frequency_band[1] = 0.0f;
    GLM_input.residue_frequency_band[0] = GLM_input.residue_frequency_band[1] = 0.0f;
    GLM_input.preGLM_phase_shift = 0.0f;
    GLM_input.noise_model = NOISE_OLS;
    GLM_input.noise_model_parameter = 0.0f;
    GLM_input.output_format = 1;
    GLM_input.fPET_analysis = 0;
    GLM_input.irf_file[0] = '\0';
    GLM_input.conditions[0] = '\0';
    GLM_input.mask_file[0] = '\0';
    GLM_input.z_maps = 0;
    GLM_input.report = 0;
    GLM_input.report_title[0] = '\0';
    GLM_input.nruns = 0;
    for (int r = 0; r < MAX_RUNS; ++r) {
        GLM_input.fmri_file[r][0] = '\0';
        GLM_input.event_file[r][0] = '\0';
        GLM_input.table_file[r][0] = '\0';
    }

    GLM.nbasis = 0;
    GLM.ntime = 0;
    GLM.nruns = 0;
    GLM.nevents = 0;
    GLM.nexcluded = 0;
    GLM.ntable_events = 0;
    GLM.nbaseline_basis = 0;
    GLM.initialized = 0;
    for (int e = 0; e < MAX_EVENTS; ++e) {
        GLM.convolve_table[e] = 0;
        GLM.drift_correct_terms[e] = -1;
        GLM.event_scale[e] = 1.0f;
        GLM.event_shape[e] = 0;
        GLM.event_number[e] = 0;
        GLM.nstims[e] = 0;
        GLM.time_constant[e] = 0.0f;
        GLM.time_constant2[e] = 0.0f;
        GLM.alpha[e] = 1.0f;
        GLM.drug_irf_length[e] = 0;
        free_float_vector(GLM.drug_irf_rise[e]);
        free_float_vector(GLM.drug_irf_decay[e]);
        GLM.drug_irf_rise[e] = nullptr;
        GLM.drug_irf_decay[e] = nullptr;
    }
    std::memset(GLM.stim_on, 0, sizeof GLM.stim_on);
    std::memset(GLM.stim_off, 0, sizeof GLM.stim_off);
    std::memset(GLM.stim_magnitude, 0, sizeof GLM.stim_magnitude);
    std::memset(GLM.stim_column, 0, sizeof GLM.stim_column);
    std::memset(GLM.excluded_start, 0, sizeof GLM.excluded_start);
    std::memset(GLM.excluded_stop, 0, sizeof GLM.excluded_stop);
    for (int r = 0; r < MAX_RUNS; ++r) {
        GLM.table_ncols[r] = 0;
        GLM.table_nrows[r] = 0;
        if (GLM.table[r]) free_float_matrix(GLM.table[r], MAX_TABLE_COLUMNS);
        GLM.table[r] = nullptr;
    }
    for (int c = 0; c < MAX_TABLE_COLUMNS; ++c) std::strcpy(GLM.table_column_name[c], "undefined");
}

void GLM_release_model_state() {
    GLMInternal_release_model_arrays();
    for (int c = 0; c < MAX_CONDITIONS; ++c) {
        free_int_matrix(GLM.contrast[c], GLM.condition_nrows[c]);
        GLM.contrast[c] = nullptr;
        GLM.condition_nrows[c] = 0;
    }
    GLM.nconditions = 0;
    free_float_vector(HRF.exp_tau);
    free_float_vector(HRF.exp_amplitude);
    free_float_vector(HRF.irf);
    HRF = HRFModel{};
    GLM_input.notify = 0;
    GLM_reset_model_state();
}
