#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "glm/basis.h"
#include "glm/parameters.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "support/cli.h"
#include "support/exit_output.h"

namespace {

// One run of n time points at TR 2 s, no IRF, one constant baseline term.
void make_run(int n) {
    GLM_reset_model_state();
    GLM_input.nbaseline_terms = 1;
    HRF.active = 0;
    HRF.resolution = 2.0f;
    GLM.tr[0] = 2.0f;
    GLM.run_start[0] = 0;
    GLM.run_stop[0] = n - 1;
    GLM.nruns = GLM_input.nruns = 1;
    GLM.ntime = n;
}

int add_event(int shape, float tau, float on, float off) {
    const int e = GLM.nevents++;
    GLM.event_number[e] = e + 1, GLM.event_shape[e] = shape, GLM.time_constant[e] = tau;
    GLM.stim_on[e][0] = on, GLM.stim_off[e][0] = off, GLM.stim_magnitude[e][0] = 1.0f, GLM.nstims[e] = 1;
    return e;
}

std::vector<float> column(int b) {
    std::vector<float> c;
    for (int t = 0; t < GLM.ntime; ++t) c.push_back(GLM.design_unmasked[t][b]);
    return c;
}

TEST(Parameters, SettersRebuildTheDesign) {
    make_run(40);
    const int g = add_event(SHAPE_GAMMA, 4.0f, 10.3f, 78.0f);
    const int d = add_event(SHAPE_DRUG_IRF, 20.0f, 20.0f, 24.0f);
    const int s = add_event(SHAPE_SQUARE, 0.0f, 40.0f, 50.0f);
    GLM.time_constant2[d] = 5.0f;
    EXPECT_EQ(stdout_of([&] { GLM_get_time_constant(s); }), "Warning: event 3 (index 2) does not have a time constant.\n");
    ASSERT_EQ(GLM_set_time_constant(d, 20.0f), 0);
    EXPECT_EQ(GLM.drug_irf_length[d], 100);  // ten times 20 s at 2 s
    const std::vector<float> d20 = column(d);
    // The pulse at points 10-12 through the 5 s decay kernel, then the 20 s rise kernel, scaled to a peak of 1.
    std::vector<double> decayed(40, 0.0), drug(40, 0.0);
    for (int i = 0; i < 40; ++i)
        for (int k = 0; k <= i; ++k) decayed[i] += (i - k >= 10 && i - k <= 12) * std::exp(-2.0 * k / 5);
    for (int i = 0; i < 40; ++i)
        for (int k = 0; k <= i; ++k) drug[i] += 2.0 * k / 20 * std::exp(-2.0 * k / 20) * decayed[i - k];
    for (int i = 0; i < 40; ++i) EXPECT_NEAR(d20[i], drug[i] / *std::max_element(drug.begin(), drug.end()), 1e-5) << i;
    ASSERT_EQ(GLM_set_time_constant(d, 1.0f), 0);
    EXPECT_EQ(GLM.drug_irf_length[d], 20);  // the 5 s decay is now the longer constant
    EXPECT_NE(column(d), d20);

    // A shift moves a drug pulse as a whole but only the ON time of the others.
    const std::vector<float> g0 = column(g);
    ASSERT_EQ(GLM_increment_onset_times(g, 4.0f), 0);
    ASSERT_EQ(GLM_increment_onset_times(d, -4.0f), 0);
    EXPECT_EQ(GLM.stim_off[g][0], 78.0f);
    EXPECT_EQ(GLM.stim_off[d][0], 20.0f);
    EXPECT_NE(column(g), g0);

    EXPECT_EXIT_PRINTS(GLM_set_time_constant(g, -1.0f), 1, "Error: tau \\(-1\\) < 0 in GLM_set_time_constant\\(\\)\n");
    // A shift that makes square stimuli overlap cannot be built.
    GLM.stim_on[s][1] = 30.0f;
    GLM.stim_off[s][1] = 39.0f;
    GLM.nstims[s] = 2;
    EXPECT_EXIT_PRINTS(GLM_increment_onset_times(s, -2.0f), 1,
                       "Error: overlapping stimuli for event 3 and stimulus 1\nError re-defining basis functions\n");
}

// The design set here belongs to the test and is handed back afterwards.
class DrugEfficiency : public testing::Test {
protected:
    void set_design(const std::vector<int> &shapes, const std::vector<std::vector<float>> &columns) {
        GLM_reset_model_state();
        GLM.ntime = static_cast<int>(columns[0].size());
        GLM.nevents = static_cast<int>(shapes.size());
        for (int e = 0; e < GLM.nevents; ++e) GLM.event_shape[e] = shapes[e];
        GLM.nbasis = static_cast<int>(columns.size());
        design_ = OwnedMatrix<float>(GLM.ntime, GLM.nbasis);
        GLM.design_unmasked = design_.get();
        for (int t = 0; t < GLM.ntime; ++t)
            for (int b = 0; b < GLM.nbasis; ++b) design_[t][b] = columns[b][t];
    }

private:
    OwnedMatrix<float> design_;
    void TearDown() override { GLM.design_unmasked = nullptr; }
};

TEST_F(DrugEfficiency, VarianceFactorOfTheDrugColumnsAfterTheOthers) {
    set_design({SHAPE_GAMMA}, {{1, -1, 2, -2}, {1, 1, 1, 1}});  // orthogonal: 1 / sum of squares
    EXPECT_FLOAT_EQ(GLM_DrugEfficiency(), 0.1f);
    // The square column and the constant are projected out: 1/(0.5^2 x 4).
    set_design({SHAPE_SQUARE, SHAPE_DRUG_IRF}, {{0, 0, 1, 1}, {1, 2, 3, 4}, {1, 1, 1, 1}});
    EXPECT_FLOAT_EQ(GLM_DrugEfficiency(), 1.0f);
    // Two drug columns around a constant: G = [[5, 3], [3, 5]], trace of its inverse 10/16.
    set_design({SHAPE_SIGMOID, SHAPE_GAMMA}, {{1, 2, 3, 4}, {2, 1, 4, 3}, {1, 1, 1, 1}});
    EXPECT_FLOAT_EQ(GLM_DrugEfficiency(), 0.625f);
    set_design({SHAPE_SQUARE}, {{0, 0, 1, 1}, {1, 1, 1, 1}});  // no drug column
    EXPECT_EQ(GLM_DrugEfficiency(), 0.0f);
    set_design({SHAPE_GAMMA, SHAPE_SIGMOID}, {{1, -1, 2, -2}, {1, -1, 2, -2}});  // two equal drug columns: none estimable
    EXPECT_EQ(GLM_DrugEfficiency(), 0.0f);
}

}  // namespace
