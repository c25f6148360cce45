// Small models set up directly in the model state, and reference values
// computed by an independent Python (numpy/scipy) run.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "glm/ar_model.h"
#include "glm/fit.h"
#include "glm/basis.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "support/cli.h"
#include "support/exit_output.h"

// Runs a Python script and returns the numbers it prints.
inline std::vector<double> python_values(const std::string &script) {
    char path[] = "/tmp/fmriglm_refXXXXXX";
    std::FILE *f = fdopen(mkstemp(path), "w");
    std::fputs(script.c_str(), f);
    std::fclose(f);
    std::FILE *out = popen((std::string(FMRIGLM_PYTHON) + " " + path).c_str(), "r");
    std::vector<double> values;
    for (double v; out && std::fscanf(out, "%lf", &v) == 1;) values.push_back(v);
    if (out) pclose(out);
    std::remove(path);
    return values;
}

inline std::string python_list(const float *v, int n) {
    std::string s = "[";
    char buf[32];
    for (int i = 0; i < n; ++i) s += std::string(buf, std::snprintf(buf, sizeof buf, "%.9g,", v[i]));
    return s + "]";
}

// Deterministic pseudo-random numbers in [-1, 1).
struct Lcg {
    unsigned long long state;
    explicit Lcg(unsigned long long seed) : state(seed) {}
    float next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<float>((state >> 40) / 8388608.0 - 1.0);
    }
};

// ntime points in nruns equal runs (TR 2 s), nbasis columns: random ones,
// then one constant column per run.
struct TestModel {
    TestModel(int ntime, int nbasis, int nruns, unsigned long long seed, int ar_order = 0) {
        GLM_reset_model_state();
        GLM_input.AR_order = ar_order;
        GLM_input.nbaseline_terms = 1;
        GLM.ntime = ntime;
        GLM.nbasis = nbasis;
        GLM.nruns = nruns;
        GLM.nbaseline_basis = nruns;
        for (int r = 0; r < nruns; ++r) {
            GLM.tr[r] = 2.0f;
            GLM.run_start[r] = r * ntime / nruns;
            GLM.run_stop[r] = (r + 1) * ntime / nruns - 1;
        }
        GLMInternal_allocate_model_arrays(ntime, nbasis);
        Lcg rng(seed);
        for (int t = 0; t < ntime; ++t) {
            for (int b = 0; b < nbasis; ++b) GLM.design_unmasked[t][b] = rng.next();
            for (int r = 0; r < nruns; ++r)
                GLM.design_unmasked[t][nbasis - nruns + r] = (t >= GLM.run_start[r] && t <= GLM.run_stop[r]);
        }
    }
    // Masks the design, sets the counts and completes the model as a build does.
    int build() {
        GLM.ninclude = 0;
        for (int t = 0; t < GLM.ntime; ++t) {
            GLM.ninclude += GLM.include[t];
            for (int b = 0; b < GLM.nbasis; ++b)
                GLM.design_matrix[t][b] = GLM.design_unmasked[t][b] * static_cast<float>(GLM.include[t]);
        }
        GLM.DOF = static_cast<float>(GLM.ninclude - GLM.nbasis);
        GLMInternal_whiten_model(1);
        const int result = GLMInternal_complete_model();
        if (GLM_input.AR_order > 0) {
            GLMInternal_calculate_residual_matrix();
            GLMInternal_calculate_AR_mixing_matrix();
        }
        return result;
    }
    // A condition with the given contrast rows (missing columns are 0).
    void add_condition(const std::vector<std::vector<int>> &rows) {
        const int c = GLM.nconditions++, q = static_cast<int>(rows.size());
        GLM.condition_nrows[c] = q;
        GLM.contrast[c] = int_matrix(q, GLM.nbasis);
        for (int r = 0; r < q; ++r)
            for (int b = 0; b < GLM.nbasis; ++b) GLM.contrast[c][r][b] = b < (int)rows[r].size() ? rows[r][b] : 0;
        std::snprintf(GLM.condition_string[c], NAME_SIZE, "c%d", c);
    }
    ~TestModel() { GLM_release_model_state(); }
};
