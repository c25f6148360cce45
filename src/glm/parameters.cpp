#include "glm/parameters.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "glm/basis.h"
#include "glm/drug_kernels.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "numerics/matrix_inverse.h"
#include "numerics/warnings.h"

namespace {

// An index that names no defined event would address storage of no event.
void require_event_index(int e, const char *function) {
    if (e < 0 || e >= GLM.nevents) {
        std::printf("Programming error: event index %d is not defined in %s()\n", e, function);
        std::exit(1);
    }
}

void warn_no_time_constant(int e) {
    char id = '?';
    GLM_EventCharIDFromInteger(GLM.event_number[e], &id);
    print_warning("Warning: event %c (index %d) does not have a time constant.\n", id, e);
}

void rebuild_design() {
    if (GLM_define_basis_functions()) {
        std::printf("Error re-defining basis functions\n");
        std::exit(1);
    }
}

}  // namespace

int GLM_shape_for_drug(int e) {
    if (e < 0 || e >= GLM.nevents) return 0;
    const int shape = GLM.event_shape[e];
    return shape == SHAPE_GAMMA || shape == SHAPE_SIGMOID || shape == SHAPE_DRUG_IRF;
}

float GLM_get_time_constant(int e) {
    require_event_index(e, "GLM_get_time_constant");
    if (!GLM_shape_for_drug(e)) warn_no_time_constant(e);
    return GLM.time_constant[e];
}

int GLM_set_time_constant(int e, float tau) {
    // Also refuses a value that is not a number, which would spoil the design.
    if (!(tau >= 0.0f)) {
        std::printf("Error: tau (%g) < 0 in GLM_set_time_constant()\n", tau);
        std::exit(1);
    }
    require_event_index(e, "GLM_set_time_constant");
    if (!GLM_shape_for_drug(e)) warn_no_time_constant(e);
    GLM.time_constant[e] = tau;
    if (GLM.event_shape[e] == SHAPE_DRUG_IRF) GLMInternal_make_drug_kernels(e);
    rebuild_design();
    return 0;
}

int GLM_increment_onset_times(int e, float dt) {
    require_event_index(e, "GLM_increment_onset_times");
    const bool drug = GLM.event_shape[e] == SHAPE_DRUG_IRF;
    for (int s = 0; s < GLM.nstims[e]; ++s) {
        GLM.stim_on[e][s] += dt;
        // Only drug-IRF pulses move as a whole; the other shapes keep their
        // OFF times, so their stimuli lengthen or shorten.
        if (drug) GLM.stim_off[e][s] += dt;
    }
    rebuild_design();
    return 0;
}

// Summed variance factor of the drug effects after adjustment for all other
// columns: trace of (A_r' A_r)^-1 with A_r = (I - N (N'N)^-1 N') A, A the
// drug columns and N the others, on the unmasked design.
//
// The residual-forming matrix is never formed: A_r = A - N ((N'N)^-1 (N'A))
// costs ntime x nbasis x D instead of ntime^2 x nbasis and agrees with the
// explicit product to float rounding; the sums run in double precision.
float GLM_DrugEfficiency() {
    const int ntime = GLM.ntime, nbasis = GLM.nbasis;
    std::vector<int> drug, nuisance;
    for (int b = 0; b < nbasis; ++b)
        (b < GLM.nevents && GLM_shape_for_drug(b) ? drug : nuisance).push_back(b);
    const int D = static_cast<int>(drug.size()), K = static_cast<int>(nuisance.size());
    if (D == 0 || ntime <= 0) return 0.0f;
    float **X = GLM.design_unmasked;

    OwnedMatrix<double> Ar(ntime, D);
    for (int t = 0; t < ntime; ++t)
        for (int d = 0; d < D; ++d) Ar[t][d] = X[t][drug[d]];

    if (K > 0) {
        OwnedMatrix<float> M(K, K);
        for (int i = 0; i < K; ++i)
            for (int j = 0; j <= i; ++j) {
                double sum = 0.0;
                for (int t = 0; t < ntime; ++t) sum += static_cast<double>(X[t][nuisance[i]]) * X[t][nuisance[j]];
                M[i][j] = M[j][i] = static_cast<float>(sum);
            }
        int ierr = 0;
        // Dependent nuisance columns leave the drug effects undetermined: no
        // efficiency, so such a design is never preferred.
        if (rInvertSquareMatrix(K, M.get(), &ierr)) return 0.0f;

        OwnedMatrix<double> NtA(K, D), C(K, D);
        for (int k = 0; k < K; ++k)
            for (int d = 0; d < D; ++d) {
                double sum = 0.0;
                for (int t = 0; t < ntime; ++t) sum += static_cast<double>(X[t][nuisance[k]]) * Ar[t][d];
                NtA[k][d] = sum;
            }
        for (int k = 0; k < K; ++k)
            for (int d = 0; d < D; ++d) {
                double sum = 0.0;
                for (int j = 0; j < K; ++j) sum += static_cast<double>(M[k][j]) * NtA[j][d];
                C[k][d] = sum;
            }
        for (int t = 0; t < ntime; ++t)
            for (int d = 0; d < D; ++d) {
                double projection = 0.0;
                for (int k = 0; k < K; ++k) projection += static_cast<double>(X[t][nuisance[k]]) * C[k][d];
                Ar[t][d] -= projection;
            }
    }

    OwnedMatrix<float> G(D, D);
    for (int i = 0; i < D; ++i)
        for (int j = 0; j <= i; ++j) {
            double sum = 0.0;
            for (int t = 0; t < ntime; ++t) sum += Ar[t][i] * Ar[t][j];
            G[i][j] = G[j][i] = static_cast<float>(sum);
        }
    int ierr = 0;
    if (rInvertSquareMatrix(D, G.get(), &ierr)) return 0.0f;
    return Trace_of_Matrix(D, G.get());
}
