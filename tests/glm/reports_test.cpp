#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "glm/conditions.h"
#include "glm/reports.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "support/cli.h"

namespace {

void add_event(int e, int number, int shape, float tau, std::initializer_list<float> on_off_magnitude) {
    GLM.event_number[e] = number;
    GLM.event_shape[e] = shape;
    GLM.time_constant[e] = tau;
    for (auto p = on_off_magnitude.begin(); p != on_off_magnitude.end(); p += 3) {
        const int s = GLM.nstims[e]++;
        GLM.stim_on[e][s] = p[0], GLM.stim_off[e][s] = p[1], GLM.stim_magnitude[e][s] = p[2];
    }
    GLM.nevents = e + 1;
}

}  // namespace

TEST(Reports, InputFilesAndStimuli) {
    GLM_reset_model_state();
    GLM_input.nruns = 2;
    std::strcpy(GLM_input.fmri_file[0], "r1.nii"), std::strcpy(GLM_input.event_file[0], "r1.glm");
    std::strcpy(GLM_input.fmri_file[1], "r2.nii"), std::strcpy(GLM_input.event_file[1], "r2.glm");
    std::strcpy(GLM_input.table_file[1], "r2.tab");
    EXPECT_EQ(stdout_of(GLM_describe_input_files),
              "\nFiles: FMRI (mandatory), GLM (mandatory), TABLE (optional)\n"
              "---------------------------------------------------------\n"
              "1 r1.nii r1.glm \n2 r2.nii r2.glm r2.tab\n\n");

    GLM.nruns = 1, GLM.ntime = 120, GLM.tr[0] = 2.0f;
    add_event(0, 1, SHAPE_SQUARE, 0, {30, 60, 1, 90, 120, 1});
    add_event(1, 2, SHAPE_GAMMA, 1.5f, {10, 238, 0.5f});
    GLM.alpha[1] = 2.0f;
    add_event(2, 10, SHAPE_GAMMA, 3, {12.5f, 238, 1, 100, 238, -2});
    add_event(3, 36, SHAPE_INTERACTION, 2, {0, 238, 1});
    GLM.time_constant2[3] = 10;
    const std::string expected =
        "GLM description: 120 time points in 1 run with TR =  2.0\n\n  stimuli:\n\n# events = 4\n\n"
        " ON    OFF  STRENGTH\n----- ----- --------\n"
        " 30.0  60.0     1.00 (square event 1)\n 90.0 120.0     1.00\n"
        " 10.0 238.0     0.50 (gamma event 2, tau =   1.5, alpha =  2.0)\n"
        " 12.5 238.0     1.00 (gamma event a, tau =   3.0)\n100.0 238.0    -2.00\n"
        "  0.0 238.0          (interaction event A, event 2 times event a)\n";
    EXPECT_EQ(stdout_of(GLM_describe_stimuli), expected);

    GLM.nruns = 2, GLM.nexcluded = 2;
    GLM.excluded_start[0] = 0, GLM.excluded_stop[0] = 4, GLM.excluded_start[1] = 50, GLM.excluded_stop[1] = 59;
    add_event(4, 3, SHAPE_TABLE, 0, {0, 238, 1});
    GLM.stim_column[4][0] = 3;
    std::strcpy(GLM.table_column_name[3], "pulse");
    add_event(5, 4, SHAPE_BASELINE0, 0, {0, 238, 1});
    std::string plural = expected;
    plural.replace(plural.find("1 run "), 6, "2 runs ").replace(plural.find("= 4"), 3, "= 6");
    EXPECT_EQ(stdout_of(GLM_describe_stimuli), plural +
                                                 "  0.0 238.0          (table event 3, column 3 -> pulse)\n"
                                                 "  0.0 238.0          (baseline event 4, DC term)\n"
                                                 "    0     4 (excluded segments, units = time points)\n   50    59\n");
}

TEST(Reports, BasisFileForTwoRuns) {
    const auto previous = std::filesystem::current_path();
    TempDir dir;
    std::filesystem::current_path(dir.path());
    GLM_reset_model_state();
    GLM.nruns = 2, GLM.ntime = 2, GLM.nevents = 2, GLM.nbasis = 10;
    GLM.event_number[0] = 10, GLM.event_number[1] = 11;
    GLM_input.nbaseline_terms = 4;  // the most there are
    OwnedMatrix<float> design(2, 10);
    for (int t = 0; t < 2; ++t)
        for (int b = 0; b < 10; ++b) design[t][b] = static_cast<float>(t * 10 + b) / 4.0f - 1.0f;
    GLM.design_unmasked = design.get();
    EXPECT_EQ(stdout_of(GLM_describe_basis_functions), "");
    EXPECT_EQ(read_file("basis.dat"),
              "x event_a event_b offset0 offset1 slope0 slope1 quad0 quad1 triad0 triad1 \n"
              "0 -1.000000 -0.750000 -0.500000 -0.250000 0.000000 0.250000 0.500000 0.750000 1.000000 1.250000 \n"
              "1 1.500000 1.750000 2.000000 2.250000 2.500000 2.750000 3.000000 3.250000 3.500000 3.750000 \n");
    std::filesystem::remove("basis.dat");
    std::filesystem::create_directory("basis.dat");  // cannot be replaced by a file
    EXPECT_EQ(stdout_of(GLM_describe_basis_functions), "Error writing the basis function output file basis.dat.\n");
    GLM.design_unmasked = nullptr;  // borrowed
    std::filesystem::current_path(previous);
}

TEST(Reports, ConditionsAndTheirTexts) {
    GLM_reset_model_state();
    GLM.nevents = 2, GLM.nbasis = 3, GLM.initialized = 1;
    GLM.event_number[0] = 1, GLM.event_number[1] = 2;
    int count = 0;
    ASSERT_EQ(GLM_define_conditions(1, "1-2 1,2\n", &count), 0);
    EXPECT_EQ(stdout_of(GLM_describe_conditions),
              "Conditions to be tested: 1-2 1,2 \ncondition 1-2 (1 contrasts):\n1 -1 0 \n"
              "condition 1,2 (2 contrasts):\n1 0 0 \n0 1 0 \n");
    char out[NAME_SIZE] = "untouched";
    EXPECT_EQ(GLM_get_condition_string(2, out), 1);
    EXPECT_EQ(GLM_get_condition_string(-1, out), 1);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(GLM_get_condition_string(1, out), 0);
    EXPECT_STREQ(out, "1,2");
}
