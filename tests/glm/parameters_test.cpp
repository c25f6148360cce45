#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "glm/basis.h"
#include "glm/parameters.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "support/cli.h"
#include "support/exit_output.h"

namespace {

// One run of n time points at TR 2 s without an IRF.
void make_run(int n, int baseline_terms) {
    GLM_reset_model_state();
    GLM_input.nbaseline_terms = baseline_terms;
    HRF.active = 0;
    HRF.resolution = 2.0f;
    GLM.tr[0] = 2.0f;
    GLM.run_start[0] = 0;
    GLM.run_stop[0] = n - 1;
    GLM.nruns = GLM_input.nruns = 1;
    GLM.ntime = n;
}

int add_event(int number, int shape, float tau) {
    const int e = GLM.nevents++;
    GLM.event_number[e] = number;
    GLM.event_shape[e] = shape;
    GLM.time_constant[e] = tau;
    return e;
}

void add_stimulus(int e, float on, float off) {
    const int s = GLM.nstims[e]++;
    GLM.stim_on[e][s] = on;
    GLM.stim_off[e][s] = off;
    GLM.stim_magnitude[e][s] = 1.0f;
}

std::vector<float> column(int b) {
    std::vector<float> c(GLM.ntime);
    for (int t = 0; t < GLM.ntime; ++t) c[t] = GLM.design_unmasked[t][b];
    return c;
}

TEST(Parameters, ShapesWithATimeConstantAndTheGetter) {
    make_run(10, 1);
    const int shapes[] = {SHAPE_SQUARE, SHAPE_GAMMA, SHAPE_SIGMOID, SHAPE_TABLE, SHAPE_DRUG_IRF, SHAPE_EXP_DOWN};
    for (int i = 0; i < 6; ++i) add_event(i + 1, shapes[i], 2.5f + i);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(GLM_shape_for_drug(i), i == 1 || i == 2 || i == 4) << i;
    EXPECT_EQ(GLM_shape_for_drug(6), 0);  // past the defined events
    EXPECT_EQ(GLM_shape_for_drug(-1), 0);

    testing::internal::CaptureStdout();
    EXPECT_EQ(GLM_get_time_constant(1), 3.5f);
    EXPECT_EQ(GLM_get_time_constant(5), 7.5f);  // returned anyway, after the warning
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: event 6 (index 5) does not have a time constant.\n");
}

TEST(Parameters, SettingATimeConstantRebuildsTheDesign) {
    make_run(30, 2);
    const int g = add_event(1, SHAPE_GAMMA, 4.0f);
    add_stimulus(g, 6.0f, 58.0f);
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    const std::vector<float> at4 = column(0);

    GLM.time_constant[g] = 9.0f;
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    const std::vector<float> at9 = column(0);
    ASSERT_NE(at4, at9);

    EXPECT_EQ(GLM_set_time_constant(g, 4.0f), 0);
    EXPECT_EQ(GLM.time_constant[g], 4.0f);
    EXPECT_EQ(GLM.initialized, 2);
    EXPECT_EQ(column(0), at4);
    EXPECT_EQ(GLM.drug_irf_length[g], 0);  // no kernels for a gamma event

    EXPECT_EXIT_PRINTS(GLM_set_time_constant(g, -1.0f), 1, "Error: tau \\(-1\\) < 0 in GLM_set_time_constant\\(\\)\n");
}

TEST(Parameters, DrugKernelsFollowTheTimeConstant) {
    make_run(40, 1);
    const int d = add_event(2, SHAPE_DRUG_IRF, 20.0f);
    GLM.time_constant2[d] = 5.0f;
    add_stimulus(d, 4.0f, 10.0f);
    ASSERT_EQ(GLM_set_time_constant(d, 20.0f), 0);
    EXPECT_EQ(GLM.drug_irf_length[d], 100);  // ten times 20 s / 2 s
    const std::vector<float> slow = column(0);
    ASSERT_EQ(GLM_set_time_constant(d, 1.0f), 0);
    EXPECT_EQ(GLM.drug_irf_length[d], 20);  // now the 5 s decay is the longer one
    EXPECT_FLOAT_EQ(GLM.drug_irf_rise[d][1], 2.0f * std::exp(-2.0f));
    EXPECT_NE(column(0), slow);
}

TEST(Parameters, OnsetShiftsAndTheirUndo) {
    make_run(30, 1);
    const int g = add_event(1, SHAPE_GAMMA, 6.0f);
    add_stimulus(g, 10.3f, 58.0f);
    add_stimulus(g, 31.7f, 58.0f);
    const int d = add_event(2, SHAPE_DRUG_IRF, 0.0f);
    add_stimulus(d, 20.0f, 24.0f);
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    const std::vector<float> g0 = column(0), d0 = column(1);

    ASSERT_EQ(GLM_increment_onset_times(g, 4.0f), 0);
    EXPECT_EQ(GLM.stim_on[g][0], 10.3f + 4.0f);
    EXPECT_EQ(GLM.stim_off[g][0], 58.0f);  // only the ON time moves
    EXPECT_NE(column(0), g0);
    ASSERT_EQ(GLM_increment_onset_times(d, -4.0f), 0);
    EXPECT_EQ(GLM.stim_on[d][0], 16.0f);
    EXPECT_EQ(GLM.stim_off[d][0], 20.0f);  // a drug pulse moves as a whole
    EXPECT_EQ(column(1)[8], 1.0f);

    ASSERT_EQ(GLM_increment_onset_times(g, -4.0f), 0);
    ASSERT_EQ(GLM_increment_onset_times(d, 4.0f), 0);
    EXPECT_NEAR(GLM.stim_on[g][0], 10.3f, 1e-5);
    for (int t = 0; t < 30; ++t) {
        EXPECT_NEAR(column(0)[t], g0[t], 1e-5) << t;
        EXPECT_EQ(column(1)[t], d0[t]) << t;
    }

    // A shift that makes square stimuli overlap cannot be built.
    const int s = add_event(3, SHAPE_SQUARE, 0.0f);
    add_stimulus(s, 10.0f, 19.9f);
    add_stimulus(s, 20.0f, 30.0f);
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    EXPECT_EXIT_PRINTS(GLM_increment_onset_times(s, -2.0f), 1,
                       "Error: overlapping stimuli for event 3 and stimulus 1\nError re-defining basis functions\n");
}

OwnedMatrix<float> direct_design;

// The design set here belongs to the test; the one of an earlier build in the
// same process is handed back afterwards, so that the next build releases it.
class DrugEfficiency : public testing::Test {
    float **built_ = nullptr;
    void SetUp() override { built_ = GLM.design_unmasked; }
    void TearDown() override { GLM.design_unmasked = built_; }
};

// A design set directly: the event shapes of the first columns, then the columns.
void set_design(int ntime, const std::vector<int> &shapes, const std::vector<std::vector<float>> &columns) {
    GLM_reset_model_state();
    GLM.ntime = ntime;
    GLM.nevents = static_cast<int>(shapes.size());
    for (int e = 0; e < GLM.nevents; ++e) {
        GLM.event_number[e] = e + 1;
        GLM.event_shape[e] = shapes[e];
    }
    GLM.nbasis = static_cast<int>(columns.size());
    direct_design = OwnedMatrix<float>(ntime, GLM.nbasis);
    GLM.design_unmasked = direct_design.get();
    for (int t = 0; t < ntime; ++t)
        for (int b = 0; b < GLM.nbasis; ++b) GLM.design_unmasked[t][b] = columns[b][t];
}

TEST_F(DrugEfficiency, VarianceFactorOfTheDrugColumnsAfterTheOthers) {
    // Orthogonal to the constant: 1 / sum of squares.
    set_design(4, {SHAPE_GAMMA}, {{1, -1, 2, -2}, {1, 1, 1, 1}});
    EXPECT_FLOAT_EQ(GLM_DrugEfficiency(), 0.1f);
    // Not orthogonal: the constant is projected out first, leaving -1.5 .. 1.5.
    set_design(4, {SHAPE_SIGMOID}, {{1, 2, 3, 4}, {1, 1, 1, 1}});
    EXPECT_FLOAT_EQ(GLM_DrugEfficiency(), 0.2f);
    // A square event is a nuisance column; without any drug column the value is 0.
    set_design(4, {SHAPE_SQUARE, SHAPE_DRUG_IRF}, {{0, 0, 1, 1}, {1, 2, 3, 4}, {1, 1, 1, 1}});
    EXPECT_FLOAT_EQ(GLM_DrugEfficiency(), 1.0f);
    set_design(4, {SHAPE_SQUARE}, {{0, 0, 1, 1}, {1, 1, 1, 1}});
    EXPECT_EQ(GLM_DrugEfficiency(), 0.0f);
    // Dependent nuisance columns: no efficiency.
    set_design(4, {SHAPE_GAMMA}, {{1, 2, 3, 4}, {1, 1, 1, 1}, {2, 2, 2, 2}});
    EXPECT_EQ(GLM_DrugEfficiency(), 0.0f);
}

TEST_F(DrugEfficiency, AgreesWithAnIndependentComputation) {
    const int n = 60;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<std::vector<float>> columns(5, std::vector<float>(n));
    for (int b = 0; b < 4; ++b)
        for (int t = 0; t < n; ++t) columns[b][t] = uniform(random);
    for (int t = 0; t < n; ++t) columns[4][t] = 1.0f;
    set_design(n, {SHAPE_GAMMA, SHAPE_SQUARE, SHAPE_DRUG_IRF, SHAPE_SIGMOID}, columns);
    const float value = GLM_DrugEfficiency();

    TempDir dir;
    {
        std::ofstream out(dir.file("design.txt"));
        out.precision(9);
        for (int t = 0; t < n; ++t) {
            for (int b = 0; b < 5; ++b) out << columns[b][t] << ' ';
            out << '\n';
        }
    }
    const std::string script = dir.write("trace.py",
                                         "import numpy as np, sys\n"
                                         "X = np.loadtxt(sys.argv[1])\n"
                                         "A = X[:, [0, 2, 3]]; N = X[:, [1, 4]]\n"
                                         "R = np.eye(len(X)) - N @ np.linalg.solve(N.T @ N, N.T)\n"
                                         "Ar = R @ A\n"
                                         "print(repr(np.trace(np.linalg.inv(Ar.T @ Ar))))\n");
    const std::string command =
        std::string(FMRIGLM_PYTHON) + " " + script + " " + dir.file("design.txt") + " > " + dir.file("out.txt");
    ASSERT_EQ(std::system(command.c_str()), 0);
    const double expected = std::stod(read_file(dir.file("out.txt")));
    EXPECT_NEAR(value, expected, 1e-5 * expected);
}

}  // namespace
