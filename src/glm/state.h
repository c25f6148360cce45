// The model state of one analysis: three process-wide records with fixed
// capacities. Only the per-time-point and per-basis-function arrays are
// allocated at run time. What a fit changes is kept per thread in a fit
// context (glm/fit_context.h).
#pragma once

constexpr int MAX_RUNS = 50;
constexpr int MAX_EVENTS = 62;  // slots for event numbers 1..61
constexpr int MAX_STIMS = 10000;
constexpr int MAX_EXCLUDED = 10000;
constexpr int MAX_CONDITIONS = 100;
constexpr int MAX_TABLE_COLUMNS = 50;
constexpr int NAME_SIZE = 1024;  // every name, condition text and input line

// Shape codes of events.
enum EventShape {
    SHAPE_SQUARE = 0,
    SHAPE_GAMMA = 1,
    SHAPE_SIGMOID = 2,
    SHAPE_TABLE = 3,
    SHAPE_DRUG_IRF = 4,
    SHAPE_SINE = 5,
    SHAPE_COSINE = 6,
    SHAPE_RAMP_UP = 7,
    SHAPE_RAMP_DOWN = 8,
    SHAPE_EXP_DOWN = 9,
    SHAPE_BASELINE0 = 10,
    SHAPE_BASELINE1 = 11,
    SHAPE_BASELINE2 = 12,
    SHAPE_BASELINE3 = 13,
    SHAPE_BASELINE_EXP_SAT = 14,
    SHAPE_INTERACTION = 15,
};

// Noise-model codes.
enum NoiseModel { NOISE_OLS = 0, NOISE_IWLS = 1, NOISE_FPET = 2 };

struct GLMModel {
    int initialized;  // 0 empty, 1 description read, 2 basis functions defined
    int ntime;
    int nbaseline_basis;
    int nevents;
    int ntable_events;
    int nruns;
    float tr[MAX_RUNS];
    int run_start[MAX_RUNS];
    int run_stop[MAX_RUNS];
    int table_ncols[MAX_RUNS];
    int table_nrows[MAX_RUNS];
    char table_column_name[MAX_TABLE_COLUMNS][NAME_SIZE];
    float **table[MAX_RUNS];  // [column 0..49][row], null when the run has no table
    int event_number[MAX_EVENTS];  // by event index
    int event_shape[MAX_EVENTS];
    int nstims[MAX_EVENTS];
    float time_constant[MAX_EVENTS];
    float time_constant2[MAX_EVENTS];
    float alpha[MAX_EVENTS];
    int drug_irf_length[MAX_EVENTS];
    float *drug_irf_rise[MAX_EVENTS];
    float *drug_irf_decay[MAX_EVENTS];
    int convolve_table[MAX_EVENTS];        // by event number
    int drift_correct_terms[MAX_EVENTS];   // by event number, -1 = not set
    float event_scale[MAX_EVENTS];         // by event number
    float stim_on[MAX_EVENTS][MAX_STIMS];  // seconds on the concatenated axis
    float stim_off[MAX_EVENTS][MAX_STIMS];
    float stim_magnitude[MAX_EVENTS][MAX_STIMS];
    int stim_column[MAX_EVENTS][MAX_STIMS];
    int nexcluded;
    int excluded_start[MAX_EXCLUDED];  // time-point indices on the concatenated axis
    int excluded_stop[MAX_EXCLUDED];   // inclusive
    int ninclude;
    int nbasis;
    float DOF;                 // ninclude - nbasis of the build
    int *include;              // [ntime]
    float **design_unmasked;   // [ntime][nbasis]
    float **design_matrix;     // [ntime][nbasis], excluded rows zeroed (unwhitened)
    float **residual_matrix;   // [ntime][ntime], only with an AR model
    float **AR_mixing_matrix;  // [AR_order+1][AR_order+1]
    int nconditions;
    int condition_nrows[MAX_CONDITIONS];
    int **contrast[MAX_CONDITIONS];  // [row][basis function]
    char condition_string[MAX_CONDITIONS][NAME_SIZE];
};

struct GLMInputs {
    int normalize;
    int nbaseline_terms;
    int notify;
    int multiple_comparisons;
    int AR_order;
    float AR_smoothing;
    float preGLM_frequency_band[2];
    float residue_frequency_band[2];
    float preGLM_phase_shift;
    int noise_model;
    float noise_model_parameter;
    int output_format;  // 1 NIfTI, 0 xdisplay
    int fPET_analysis;
    char irf_file[NAME_SIZE];
    char conditions[NAME_SIZE];
    char mask_file[NAME_SIZE];  // brain mask image, "auto" (from the data) or empty (none)
    int z_maps;                 // 1: write a z map per condition
    int report;                 // 1: write report.html and its pictures
    char report_title[NAME_SIZE];  // heading of the report, may be empty
    int nruns;
    char fmri_file[MAX_RUNS][NAME_SIZE];
    char event_file[MAX_RUNS][NAME_SIZE];
    char table_file[MAX_RUNS][NAME_SIZE];
};

struct HRFModel {
    int type;  // 0 a sum of exponentials, 1 the double gamma of BOLD-human
    float length;      // seconds
    float resolution;  // seconds per sample
    int npoints;
    int nexp;  // always 3
    int active;
    float *exp_tau;        // [3]
    float *exp_amplitude;  // [3]
    float *irf;            // [npoints]
    char name[NAME_SIZE];
};

extern GLMModel GLM;
extern GLMInputs GLM_input;
extern HRFModel HRF;

// Event identifiers: '1'..'9' -> 1..9, 'a'..'z' -> 10..35, 'A'..'Z' -> 36..61,
// ',' -> -1, anything else -> 0.
int GLM_EventNumberFromCharID(char c);
int GLM_EventCharIDFromInteger(int n, char *out);
char GLM_EventCharID(int n);  // ends the program for a number without a character
int GLM_get_event_number(int index);
int GLM_get_event_index(int number);
int GLM_get_tr(int run, float *tr);
int GLM_get_DOF();

// Resets everything the control file reader owns (all GLM_input fields but
// notify, the counts, the per-event and per-run arrays, released tables and
// drug kernels) before a control file is read.
void GLM_reset_model_state();

// Releases every array the model state holds (design and fit set-up,
// conditions, tables, drug kernels, impulse response) and leaves GLM, HRF and
// GLM_input as a fresh process has them.
void GLM_release_model_state();
