#include "glm/basis.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "glm/ar_model.h"
#include "glm/design_search.h"
#include "glm/fit.h"
#include "glm/fit_context.h"
#include "glm/paradigm.h"
#include "glm/reports.h"
#include "glm/state.h"
#include "numerics/arrays.h"

namespace {

// The most samples of the fine time grid (time points x samples per TR): the
// paradigms and their convolution work on arrays of that length.
constexpr std::int64_t MAX_GRID_SAMPLES = 10000000;

// Sizes of the arrays in force, so that they are released with the
// dimensions they were made with.
struct BuildSizes {
    bool allocated = false;
    int ntime = 0;
    int nbasis = 0;
    int ar_order = 0;
};
BuildSizes previous;

}  // namespace

void GLMInternal_release_model_arrays() {
    if (previous.allocated) {
        const int nt = previous.ntime;
        free_float_matrix(GLM.design_unmasked, nt);
        free_float_matrix(GLM.design_matrix, nt);
        free_float_matrix(GLM.residual_matrix, nt);
        free_float_matrix(GLM.AR_mixing_matrix, previous.ar_order + 1);
        previous = BuildSizes{};
    }
    free_int_vector(GLM.include);
    GLM.include = nullptr;
    GLM.design_unmasked = GLM.design_matrix = nullptr;
    GLM.residual_matrix = GLM.AR_mixing_matrix = nullptr;
}

void GLMInternal_allocate_model_arrays(int ntime, int nbasis) {
    GLMInternal_release_model_arrays();
    const int ar_order = GLM_input.AR_order > 0 ? GLM_input.AR_order : 0;
    previous = BuildSizes{true, ntime, nbasis, ar_order};
    GLM.include = int_vector(ntime);
    GLM.design_unmasked = float_matrix(ntime, nbasis);
    GLM.design_matrix = float_matrix(ntime, nbasis);
    for (int t = 0; t < ntime; ++t) {
        GLM.include[t] = 1;
        for (int b = 0; b < nbasis; ++b) GLM.design_unmasked[t][b] = GLM.design_matrix[t][b] = 0.0f;
    }
    // The AR model fills this (p+1) x (p+1) matrix at every build.
    if (ar_order > 0) GLM.AR_mixing_matrix = float_matrix(ar_order + 1, ar_order + 1);
    // This thread's fit context follows the new build at once; other threads'
    // contexts when they next prepare theirs.
    GLMInternal_new_model_build();
}

namespace {

// Inclusion mask from the excluded segments; segments reaching beyond the
// series are clipped to it.
void build_inclusion_mask(int ntime) {
    for (int t = 0; t < ntime; ++t) GLM.include[t] = 1;
    for (int j = 0; j < GLM.nexcluded; ++j) {
        const int first = GLM.excluded_start[j] < 0 ? 0 : GLM.excluded_start[j];
        const int last = GLM.excluded_stop[j] >= ntime ? ntime - 1 : GLM.excluded_stop[j];
        for (int k = first; k <= last; ++k) GLM.include[k] = 0;
    }
    GLM.ninclude = 0;
    for (int t = 0; t < ntime; ++t) GLM.ninclude += GLM.include[t];
    GLM.DOF = static_cast<float>(GLM.ninclude - GLM.nbasis);
}

// Per-run polynomial baseline columns: all runs' constants first, then the
// linear, quadratic and cubic terms, each centred on the mean of x^j over [0, 1].
void write_baseline_columns() {
    const int B = GLM_input.nbaseline_terms, R = GLM.nruns, E = GLM.nevents;
    for (int k = 0; k < B; ++k)
        for (int r = 0; r < R; ++r) {
            const int column = E + k * R + r;
            const int s = GLM.run_start[r], f = GLM.run_stop[r];
            const float L = static_cast<float>(f - s);
            for (int t = 0; t < GLM.ntime; ++t) {
                float value = 0.0f;
                if (t >= s && t <= f) {
                    // A run of one time point has no time axis: its higher terms are 0.
                    const long double x = (L == 0.0f) ? 0.0L : static_cast<long double>(t - s) / L;
                    switch (k) {
                        case 0: value = 1.0f; break;
                        case 1: value = L == 0.0f ? 0.0f : static_cast<float>(x - 0.5f); break;
                        case 2: value = L == 0.0f ? 0.0f : static_cast<float>(x * x - 0.3333333333333333L); break;
                        default: value = L == 0.0f ? 0.0f : static_cast<float>(x * x * x - 0.25f); break;
                    }
                }
                GLM.design_matrix[t][column] = value;
            }
        }
}

// Index of the last time point at or before time t (truncated toward zero);
// a time within float rounding below a time point counts as that point.
int time_point_of(float t, float TR) { return static_cast<int>((t + GLMInternal_time_slack(t, TR)) / TR); }

// A column holding a value that is not a finite number would spoil every fit
// (a ramp without duration, a gamma of negative alpha at its onset, ...).
int refuse_column(int number) {
    char id = '?';
    GLM_EventCharIDFromInteger(number, &id);
    std::printf("Error: the design column of event %c holds values that are not finite numbers.\n", id);
    return 1;
}

}  // namespace

int GLMInternal_create_table(int e, int S, float *p) {
    const int n = GLM.ntime * S;
    const float TR = GLM.tr[0];
    const float step = TR / S;
    for (int i = 0; i < n; ++i) p[i] = 0.0f;
    int r = 0;
    for (int i = 0; i < n; ++i) {
        if (GLM.run_stop[r] < i / S) ++r;
        const float t = static_cast<float>(i * step);
        const int L = GLM.run_stop[r] - GLM.run_start[r] + 1;
        for (int s = 0; s < GLM.nstims[e]; ++s) {
            if (!GLMInternal_time_within(t, GLM.stim_on[e][s], GLM.stim_off[e][s], step)) continue;
            if (GLM.table_nrows[r] != L) {
                std::printf("Programming error: # points in table (%d) != # points in run %d (%d)\n",
                            GLM.table_nrows[r], L, r);
                std::exit(1);
            }
            const int column = GLM.stim_column[e][s];
            if (column < 0 || column >= GLM.table_ncols[r] || !GLM.table[r]) {
                std::printf("Programming error: column number %d is out of range (0 to %d\n", column,
                            GLM.table_ncols[r]);
                std::exit(1);
            }
            const float *c = GLM.table[r][column];
            const float run_start_time = static_cast<float>(GLM.run_start[r] * TR);
            const float x = (t - run_start_time) / TR;
            if (x <= 0.0f) {
                p[i] = c[0];
            } else if (x < static_cast<float>(L - 1)) {
                const int j = static_cast<int>(x);
                const float w = static_cast<float>(j + 1 - x);
                p[i] = static_cast<float>(c[j] * w + (1.0f - w) * c[j + 1]);
            } else {
                p[i] = c[L - 1];
            }
        }
    }
    return 0;
}

void GLMInternal_BaselineEvent(int e, int order, float tau) {
    if (order < 0) std::printf("tau = %g\n", tau);
    const float TR = GLM.tr[0];
    for (int k = 0; k < GLM.ntime; ++k)
        for (int s = 0; s < GLM.nstims[e]; ++s) {
            const int on = time_point_of(GLM.stim_on[e][s], TR);
            const int off = time_point_of(GLM.stim_off[e][s], TR);
            if (k < on || k > off) continue;
            const int d = k - on;
            // A one-point span has no time axis; its position is taken as 0.
            const float x = (off == on) ? 0.0f : d / static_cast<float>(off - on);
            float value;
            switch (order) {
                case 0: value = 1.0f; break;
                case 1: value = x; break;
                case 2: value = x * x; break;
                case 3: value = x * x * x; break;
                default: value = static_cast<float>(1.0 - std::exp(-static_cast<double>(static_cast<float>(d * TR) / tau)));
            }
            GLM.design_matrix[k][e] = value;
        }
}

void GLMInternal_create_interaction(int e, float *p) {
    const int i1 = GLM_get_event_index(static_cast<int>(GLM.time_constant[e]));
    const int i2 = GLM_get_event_index(static_cast<int>(GLM.time_constant2[e]));
    if (i1 < 0 || i2 < 0 || i1 == i2) {
        std::printf("Programming error in function GLMInternal_create_interaction.\n");
        std::printf("icoeff1 = %d, icoeff2 = %d\n", i1, i2);
        std::exit(1);
    }
    for (int k = 0; k < GLM.ntime; ++k) p[k] = GLM.design_matrix[k][i1] * GLM.design_matrix[k][i2];
}

int GLM_define_basis_functions() {
    int S = 1;
    if (HRF.active == 1) {
        S = static_cast<int>(static_cast<long double>(GLM.tr[0]) / HRF.resolution + 0.5L);
        if (S < 1) {
            std::printf("Error: the IRF time step (%f) must be <= TR (%f)\n", HRF.resolution, GLM.tr[0]);
            return 1;
        }
    }

    const int ntime = GLM.ntime;
    if (static_cast<std::int64_t>(ntime) * S > MAX_GRID_SAMPLES) {
        std::printf("Error: %d time points of %d samples each (TR %g s, IRF resolution %g s) exceed the limit of "
                    "%lld samples of the fine time grid.\n",
                    ntime, S, static_cast<double>(GLM.tr[0]), static_cast<double>(HRF.resolution),
                    static_cast<long long>(MAX_GRID_SAMPLES));
        return 1;
    }
    GLM.nbaseline_basis = GLM.nruns * GLM_input.nbaseline_terms;
    GLM.nbasis = GLM.nevents + GLM.nbaseline_basis;
    GLM.ntable_events = 0;
    GLMInternal_allocate_model_arrays(ntime, GLM.nbasis);
    build_inclusion_mask(ntime);
    // The noise estimate, the iterative weights and every test need a positive
    // number of degrees of freedom (an exact fit leaves no residual to judge by).
    if (!(GLM.DOF > 0.0f)) {
        std::printf("Error: the model leaves %g degrees of freedom; it needs more time points than basis functions.\n",
                    static_cast<double>(GLM.DOF));
        return 1;
    }

    // One fine-grid work vector serves every event of the build.
    OwnedVector<float> p(static_cast<std::int64_t>(ntime) * S);
    const bool searching = GLMInternal_design_search_active();
    for (int e = 0; e < GLM.nevents; ++e) {
        const int shape = GLM.event_shape[e];
        const int number = GLM.event_number[e];
        if (shape >= SHAPE_BASELINE0 && shape <= SHAPE_BASELINE_EXP_SAT) {
            if (shape == SHAPE_BASELINE_EXP_SAT)
                GLMInternal_BaselineEvent(e, -1, GLM.time_constant[e]);
            else
                GLMInternal_BaselineEvent(e, shape - SHAPE_BASELINE0, 0.0f);
            for (int k = 0; k < ntime; ++k)
                if (!std::isfinite(GLM.design_matrix[k][e])) return refuse_column(number);
            continue;
        }
        const bool stimulus = shape != SHAPE_TABLE && shape != SHAPE_INTERACTION;
        if (searching && stimulus && GLMInternal_reuse_column(e, S)) continue;
        // Kernels in the order applied: a drug event's decay and rise kernels, then the IRF.
        int modes[3], nmodes = 0;
        if (shape == SHAPE_TABLE) {
            GLMInternal_create_table(e, S, p.get());
            ++GLM.ntable_events;
        } else if (shape == SHAPE_INTERACTION) {
            GLMInternal_create_interaction(e, p.get());
        } else {
            if (GLMInternal_create_stimulus_paradigm(e, S, p.get())) return 1;
            if (shape == SHAPE_DRUG_IRF) modes[nmodes++] = 1, modes[nmodes++] = 2;
        }
        if (shape != SHAPE_INTERACTION && !(shape == SHAPE_TABLE && !GLM.convolve_table[number])) modes[nmodes++] = 0;
        GLMInternal_convolve_paradigm_kernels(modes, nmodes, S, p.get(), e, searching);
        if (GLM_input.fPET_analysis && shape != SHAPE_TABLE) GLMInternal_integrate_paradigm(S, p.get());
        const int count = shape == SHAPE_INTERACTION ? ntime : ntime * S;
        GLMInternal_normalize_paradigm(count, p.get(), GLM.event_scale[number]);
        // Every fine sample counts: one that is infinite has already turned the
        // normalised column into zeros and NaN.
        for (int i = 0; i < count; ++i)
            if (!std::isfinite(p[i])) return refuse_column(number);
        char id;
        if (GLM_EventCharIDFromInteger(number, &id)) {
            std::printf("Programming error: event number (%d) apparenty not defined.?!\n", number);
            std::exit(1);
        }
        const int stride = shape == SHAPE_INTERACTION ? 1 : S;
        for (int k = 0; k < ntime; ++k) GLM.design_matrix[k][e] = p[static_cast<std::int64_t>(k) * stride];
        if (searching && stimulus) GLMInternal_keep_column(e);
    }

    write_baseline_columns();
    for (int t = 0; t < ntime; ++t)
        for (int b = 0; b < GLM.nbasis; ++b) {
            GLM.design_unmasked[t][b] = GLM.design_matrix[t][b];
            GLM.design_matrix[t][b] *= GLM.include[t];
        }

    GLMInternal_whiten_model(1);
    int first, second;
    const bool dependent = GLMInternal_find_dependent_columns(GLM.design_matrix, &first, &second) != 0;
    if (dependent || GLMInternal_complete_model()) {
        std::printf("Error: the design matrix is singular: its columns are linearly dependent.\n");
        if (dependent) {
            char a[32], b[32];
            std::printf("The columns of %s and %s are nearly dependent.\n", GLM_basis_label(first, a),
                        GLM_basis_label(second, b));
        }
        return 1;
    }
    if (GLM_input.AR_order > 0) {
        GLMInternal_calculate_residual_matrix();
        GLMInternal_calculate_AR_mixing_matrix();
    }
    GLM.initialized = 2;
    return 0;
}
