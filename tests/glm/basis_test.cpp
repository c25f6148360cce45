#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "glm/basis.h"
#include "glm/event_file.h"
#include "glm/table_file.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "support/cli.h"

namespace {

const std::string SINGULAR = "Error: the design matrix is singular: its columns are linearly dependent.\n";

// A model of runs of the given lengths at TR 2 s, without events.
void make_runs(std::initializer_list<int> lengths, int baseline_terms) {
    GLM_reset_model_state();
    GLM_input.nbaseline_terms = baseline_terms;
    HRF.active = 0;
    for (int n : lengths) {
        const int r = GLM.nruns++;
        GLM.tr[r] = 2.0f, GLM.run_start[r] = GLM.ntime, GLM.run_stop[r] = GLM.ntime + n - 1;
        GLM.ntime += n;
    }
    GLM_input.nruns = GLM.nruns;
}

int add_event(int number, int shape) {
    const int e = GLM.nevents++;
    GLM.event_number[e] = number, GLM.event_shape[e] = shape;
    return e;
}

void add_stimulus(int e, float on, float off) {
    const int s = GLM.nstims[e]++;
    GLM.stim_on[e][s] = on, GLM.stim_off[e][s] = off, GLM.stim_magnitude[e][s] = 1.0f;
}

// Baseline column 2k + r (after the events) holds term k of run r: x^k less
// its mean over the run (x from 0 to 1), 0 outside the run; a one-point run
// has its offset and zeros (never 0/0).
void expect_baseline_terms(int first, int terms, int length0, int length1) {
    for (int t = 0; t < length0 + length1; ++t)
        for (int k = 0; k < terms; ++k)
            for (int r = 0; r < 2; ++r) {
                const int n = r ? length1 : length0, d = t - (r ? length0 : 0);
                const double x = n > 1 ? d / (n - 1.0) : 0.0, level = k ? 1.0 / (k + 1) : 0.0;
                const double want = d < 0 || d >= n ? 0.0 : n == 1 && k ? 0.0 : std::pow(x, k) - level;
                EXPECT_NEAR(GLM.design_matrix[t][first + 2 * k + r], want, 1e-6) << t << " " << k << " " << r;
            }
}

TEST(Basis, EventColumnsThenBaselineTermsRunByRun) {
    make_runs({10, 10}, 3);
    for (int n = 1; n <= 3; ++n) add_stimulus(add_event(n, SHAPE_SQUARE), 4.0f * n, 4.0f * n + 6.0f);
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    EXPECT_EQ(GLM.initialized, 2);
    ASSERT_EQ(GLM.nbasis, 9);
    EXPECT_EQ(GLM.nbaseline_basis, 6);
    EXPECT_EQ(GLM.DOF, 11.0f);
    // Event 1 is on from 4 s to 10 s inclusive: time points 2..5.
    for (int t = 0; t < 20; ++t) EXPECT_EQ(GLM.design_matrix[t][0], (t >= 2 && t <= 5) ? 1.0f : 0.0f) << t;
    expect_baseline_terms(3, 3, 10, 10);
    // A run of 11 points and one of a single point: that one's higher columns are
    // all zero, so the design is singular; its values are written before that is found.
    make_runs({11, 1}, 4);
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(GLM_define_basis_functions(), 1); }),
              SINGULAR + "The columns of offset0 and slope1 are nearly dependent.\n");
    ASSERT_EQ(GLM.nbasis, 8);
    expect_baseline_terms(0, 4, 11, 1);
    make_runs({12}, 0);
    add_stimulus(add_event(5, SHAPE_SQUARE), 0.0f, 4.0f);
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    EXPECT_EQ(GLM.nbasis, 1);
}

TEST(Basis, ExcludedRowsAreZeroedOnlyInTheMaskedDesign) {
    make_runs({20}, 2);
    add_stimulus(add_event(1, SHAPE_SQUARE), 10.0f, 20.0f);
    GLM.nexcluded = 2;
    GLM.excluded_start[0] = 5, GLM.excluded_stop[0] = 7;
    GLM.excluded_start[1] = 18, GLM.excluded_stop[1] = 40;  // beyond the series: clipped
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    EXPECT_EQ(GLM.ninclude, 15);
    EXPECT_EQ(GLM.DOF, 12.0f);
    for (int t = 0; t < 20; ++t) {
        const bool excluded = (t >= 5 && t <= 7) || t >= 18;
        EXPECT_EQ(GLM.include[t], excluded ? 0 : 1);
        EXPECT_EQ(GLM.design_unmasked[t][1], 1.0f);
        EXPECT_EQ(GLM.design_matrix[t][1], excluded ? 0.0f : 1.0f) << t;
    }
    EXPECT_EQ(GLM.design_unmasked[6][0], 1.0f);
    EXPECT_EQ(GLM.design_matrix[6][0], 0.0f);
}

TEST(Basis, SubSamplingFactorFromTheIrfStep) {
    make_runs({8}, 1);
    add_stimulus(add_event(1, SHAPE_SQUARE), 4.0f, 8.0f);
    float irf[2] = {0.5f, 0.5f};
    HRF.irf = irf, HRF.npoints = 2, HRF.active = 1, HRF.resolution = 5.0f;
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(GLM_define_basis_functions(), 1); }),
              "Error: the IRF time step (5.000000) must be <= TR (2.000000)\n");
    HRF.resolution = 1e-6f;
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(GLM_define_basis_functions(), 1); }),
              "Error: 8 time points of 2000000 samples each (TR 2 s, IRF resolution 1e-06 s) exceed the limit of "
              "10000000 samples of the fine time grid.\n");

    // A table column of values 10 j, convolved with a two-sample kernel: the
    // time point k receives 0.5 c[k] + 0.5 c(k - 1/S), so the ratio of two
    // columns values reveals S.
    auto ratio_for_step = [&](float resolution) {
        make_runs({8}, 0);
        HRF.active = 1, HRF.resolution = resolution;
        GLM.table[0] = float_matrix(MAX_TABLE_COLUMNS, 8), GLM.table_ncols[0] = 1, GLM.table_nrows[0] = 8;
        for (int j = 0; j < 8; ++j) GLM.table[0][0][j] = 10.0f * j;
        const int e = add_event(2, SHAPE_TABLE);
        add_stimulus(e, 0.0f, 14.0f);
        GLM.stim_column[e][0] = 0;
        GLM.convolve_table[2] = 1;
        EXPECT_EQ(GLM_define_basis_functions(), 0);
        return GLM.design_matrix[1][0] / GLM.design_matrix[7][0];
    };
    EXPECT_NEAR(ratio_for_step(1.0f), (10 - 5 / 2.0) / (70 - 5 / 2.0), 1e-5);    // S = 2
    EXPECT_NEAR(ratio_for_step(0.75f), (10 - 5 / 3.0) / (70 - 5 / 3.0), 1e-5);   // S = 3
    HRF.irf = nullptr;
}

TEST(Basis, TableInterpolationOnTheFineGrid) {
    make_runs({4, 3}, 0);
    for (int r = 0; r < 2; ++r) {
        GLM.table[r] = float_matrix(MAX_TABLE_COLUMNS, 4), GLM.table_ncols[r] = 2, GLM.table_nrows[r] = r == 0 ? 4 : 3;
        for (int j = 0; j < 4; ++j) GLM.table[r][1][j] = 100.0f * r + j * j;
    }
    const int e = add_event(7, SHAPE_TABLE);
    add_stimulus(e, 0.0f, 6.0f);   // run 0: time points 0..3
    add_stimulus(e, 8.0f, 12.0f);  // run 1: time points 4..6
    GLM.stim_column[e][0] = GLM.stim_column[e][1] = 1;
    OwnedVector<float> p(14);
    ASSERT_EQ(GLMInternal_create_table(e, 2, p.get()), 0);
    const float expected[14] = {0, 0.5f, 1, 2.5f, 4, 6.5f, 9, 0, 100, 100.5f, 101, 102.5f, 104, 0};
    for (int i = 0; i < 14; ++i) EXPECT_FLOAT_EQ(p[i], expected[i]) << i;
    GLM.nruns = GLM_input.nruns = 1, GLM.ntime = 4, GLM.tr[1] = 0.0f, GLM.nstims[e] = 1;  // one run: one TR
    ASSERT_EQ(GLMInternal_create_table(e, 2, p.get()), 0);
    for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(p[i], expected[i]) << i;
}

TEST(Basis, InteractionAndPerEventBaselines) {
    make_runs({10}, 0);
    add_stimulus(add_event(1, SHAPE_SQUARE), 0.0f, 10.0f);   // points 0..5
    add_stimulus(add_event(2, SHAPE_SQUARE), 6.0f, 18.0f);   // points 3..9
    const int ix = add_event(3, SHAPE_INTERACTION);
    GLM.time_constant[ix] = 1;
    GLM.time_constant2[ix] = 2;
    add_stimulus(ix, 0.0f, 18.0f);
    const int lin = add_event(4, SHAPE_BASELINE1);
    add_stimulus(lin, 0.0f, 18.0f);
    const int sat = add_event(5, SHAPE_BASELINE_EXP_SAT);
    GLM.time_constant[sat] = 4.0f;
    add_stimulus(sat, 0.0f, 18.0f);
    EXPECT_EQ(stdout_of([] { ASSERT_EQ(GLM_define_basis_functions(), 0); }), "tau = 4\n");
    for (int t = 0; t < 10; ++t) {
        EXPECT_EQ(GLM.design_matrix[t][ix], (t >= 3 && t <= 5) ? 1.0f : 0.0f) << t;
        EXPECT_NEAR(GLM.design_matrix[t][lin], t / 9.0, 1e-6);
        EXPECT_NEAR(GLM.design_matrix[t][sat], 1.0 - std::exp(-2.0 * t / 4.0), 1e-6);
    }
}

TEST(Basis, RunRegressorsCoverExactlyTheirRunsPoints) {
    // TRs inexact in float, run lengths that put the rounding at run ends, with and without a fine grid
    // (a one-sample IRF): per run a baseline event, a gamma of alpha 0 (flat from run point r to the run's
    // last point) and a table column 1..n.
    TempDir dir;
    const int lengths[] = {25, 31, 83, 76};
    HRF.irf = float_vector(1);  // owned by the model state, released after the test
    HRF.irf[0] = 1.0f;
    for (float tr : {0.72f, 0.8f, 1.2f})
        for (int S : {1, 7}) {
            GLM_reset_model_state();
            GLM_input.nbaseline_terms = 0;
            HRF.active = S > 1, HRF.npoints = 1, HRF.resolution = tr / S;
            for (int r = 0; r < 4; ++r) {
                std::string table = "c\n", ev = std::to_string(tr) + "\n\n" + char('A' + r) + " baseline 0\n\n";
                for (int i = 1; i <= lengths[r]; ++i) table += std::to_string(i) + "\n";
                ev += "g gamma 9 0\n" + std::to_string(r * tr) + "\n\nt table 0\n";
                ASSERT_EQ(GLM_read_table_file(dir.write("t", table).c_str(), r, lengths[r]) ||
                              GLM_read_event_file(dir.write("e", ev).c_str(), r, lengths[r]), 0);
            }
            ASSERT_EQ(stdout_of([] { EXPECT_EQ(GLM_define_basis_functions(), 0); }), "");  // baselines print nothing
            for (int k = 0, r = 0; k < GLM.ntime; r += k == GLM.run_stop[r], ++k) {
                const int d = k - GLM.run_start[r];
                const double want[6] = {1.0 * (r == 0), 1.0 * (d >= r), (d + 1) / 83.0,
                                        1.0 * (r == 1), 1.0 * (r == 2), 1.0 * (r == 3)};
                for (int e = 0; e < 6; ++e)
                    ASSERT_NEAR(GLM.design_matrix[k][e], want[e], 1e-6) << tr << " " << S << " " << k << " " << e;
            }
        }
}

TEST(Basis, RebuildReproducesTheDesignAndBadDesignsAreRefused) {
    make_runs({15}, 2);
    add_stimulus(add_event(1, SHAPE_SQUARE), 2.0f, 8.0f);
    add_stimulus(add_event(2, SHAPE_SQUARE), 12.0f, 20.0f);
    auto built = [] {
        EXPECT_EQ(GLM_define_basis_functions(), 0);
        return std::vector<float>(GLM.design_matrix[0], GLM.design_matrix[0] + 15 * 4);  // one contiguous block
    };
    const std::vector<float> first = built();
    EXPECT_EQ(built(), first);

    // Equal columns, and columns that add up to the offset (no exactly zero
    // pivot with a slope column), are refused with two of their names; a
    // correlation of 0.998 is not.
    const struct {
        int length;
        float off1, on2, off2, scale2;
        int terms;
        const char *names;
    } cases[] = {{15, 8, 0, 8, 1, 1, "event_1 and event_2"}, {15, 8, 10, 30, 3, 2, "event_2 and offset0"},
                 {1000, 1000, 2, 1000, 1, 2, nullptr}};
    for (const auto &c : cases) {
        make_runs({c.length}, c.terms);
        add_stimulus(add_event(1, SHAPE_SQUARE), 0.0f, c.off1);
        add_stimulus(add_event(2, SHAPE_SQUARE), c.on2, c.off2);
        GLM.event_scale[2] = c.scale2;
        EXPECT_EQ(stdout_of([&] { EXPECT_EQ(GLM_define_basis_functions(), c.names ? 1 : 0); }),
                  c.names ? SINGULAR + "The columns of " + c.names + " are nearly dependent.\n" : "");
    }
    make_runs({3}, 2);  // as many columns as time points
    add_stimulus(add_event(1, SHAPE_SQUARE), 2.0f, 4.0f);
    EXPECT_EQ(stdout_of([] { EXPECT_EQ(GLM_define_basis_functions(), 1); }),
              "Error: the model leaves 0 degrees of freedom; it needs more time points than basis functions.\n");

    // Values that are not finite: a ramp without duration (0/0), a gamma of
    // negative alpha at its onset (0^-1), a saturation without time constant.
    for (int shape : {SHAPE_RAMP_UP, SHAPE_GAMMA, SHAPE_BASELINE_EXP_SAT}) {
        make_runs({10}, 1);
        const int e = add_event(7, shape);
        add_stimulus(e, 10.0f, shape == SHAPE_RAMP_UP ? 10.0f : 18.0f);
        GLM.time_constant[e] = shape == SHAPE_GAMMA ? 4.0f : 0.0f, GLM.alpha[e] = -1.0f;
        EXPECT_EQ(stdout_of([] { EXPECT_EQ(GLM_define_basis_functions(), 1); }),
                  (shape == SHAPE_BASELINE_EXP_SAT ? "tau = 0\n" : "") +
                      std::string("Error: the design column of event 7 holds values that are not finite numbers.\n"));
    }
}

}  // namespace
