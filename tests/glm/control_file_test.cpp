// Control files: keywords, their errors with line numbers, run lines and the
// whole-model adjustments after all runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "glm/control_file.h"
#include "glm/description_fixture.h"

namespace {

class ControlFile : public DescriptionFiles {
protected:
    std::string read(const std::string &text, int *result, int verbose = 0) {
        const std::string path = write("a.ctl", text);
        return printed([&] { return GLM_read_control_file(path.c_str(), verbose); }, result);
    }
    // A run of n time points with TR 2: an xdisplay header and its event file.
    void add_run(const std::string &name, int n, const std::string &events) {
        write(name + ".hdr", "x 4\ny 4\nz 2\nt " + std::to_string(n) + "\nresolution 3 3 3 2\n");
        write(name + ".bfloat", "");
        write(name + ".glm", events);
    }
};

std::string example() { return stdout_of(GLMInternal_describe_glm_format); }

TEST_F(ControlFile, KeywordsSetTheInputs) {
    int result = 1;
    const std::string out = read(
        "time-model glm\n#" + std::string(1022, 'c') +  // a line of 1023 characters
        "\nbaseline-terms 2\nscale-event 2.5 b\nAR 2 3.5\nnoise-model iWLS 4\n"
        "frequency-filter 0.01 0.1\nresidue-filter 0 0.2\nmultiple-comparisons 12\nnormalize-IRON\nfPET-analysis\n"
        "output-format zep\noutput-format analyze\nIRF BOLD-monkey # built in\nconditions 1 2 12 1-2 # tests\n"
        "drift-correct 0 a b\nbaseline-terms 4\nmask brain.nii # file\nz-maps\nruns: # no runs follow\n",
        &result);
    ASSERT_EQ(result, 0) << out;
    EXPECT_EQ(out, "using HRF (hemodynamic response function)\n");
    // Baseline terms; the drift terms of event 5 (set by the first baseline-terms line, kept by the second),
    // a and b; the scale of b; AR; noise model; bands; resels; normalisation; fPET; format; z maps; runs.
    const GLMInputs &in = GLM_input;
    EXPECT_EQ(std::vector<double>({double(in.nbaseline_terms), double(GLM.drift_correct_terms[5]),
                                   double(GLM.drift_correct_terms[10]), double(GLM.drift_correct_terms[11]),
                                   GLM.event_scale[11], double(in.AR_order), in.AR_smoothing, double(in.noise_model),
                                   in.noise_model_parameter, in.preGLM_frequency_band[1], in.residue_frequency_band[1],
                                   double(in.multiple_comparisons), double(in.normalize), double(in.fPET_analysis),
                                   double(in.output_format), double(in.z_maps), double(in.nruns)}),
              std::vector<double>({4, 2, 0, 0, 2.5, 2, 3.5, NOISE_IWLS, 4, 0.1f, 0.2f, 12, 2, 1, 0, 1, 0}));
    EXPECT_EQ(std::string(in.irf_file) + "|" + in.conditions + "|" + in.mask_file, "BOLD-monkey|1 2 12 1-2 |brain.nii");
    EXPECT_EQ(HRF.active + GLM.initialized, 2);

    // AR without smoothing and OLS without a parameter reset their numbers.
    EXPECT_EQ(read("noise-model fPET 3\n", &result), "");
    EXPECT_EQ(GLM_input.noise_model, NOISE_FPET);
    EXPECT_EQ(read("AR 1\nnoise-model OLS\nconditions 1\n", &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GLM_input.AR_smoothing, 1.0f);
    EXPECT_EQ(GLM_input.noise_model * 10 + GLM_input.noise_model_parameter, NOISE_OLS * 10);
    EXPECT_STREQ(GLM_input.conditions, "1\n");
    EXPECT_EQ(std::string(GLM_input.mask_file) + std::to_string(GLM_input.z_maps), "0");
}

TEST_F(ControlFile, KeywordErrorsNameTheirLine) {
    const std::string p = dir_.file("a.ctl");
    const std::string cases[][2] = {
        {"notify\n\n# c\nbaseline-terms 5\n", "Error: allowed value for `baseline-terms' are 0-4.\n"
                                              "Error reading line 4 of file '" + p + "':\n"},
        {"multiple-comparisons -03\n", "Error: `multiple-comparisons' needs a number of resolution elements >= 0 "
                                       "(read -03).\nError reading line 1 of file '" + p + "':\n"},
        {"notify\nscale-event 2 ,\n", "Error: use `scale-event [scale] [event].\nError reading line 2 of file '" +
                                          p + "':\n"},
        {"convolve-table 1,2\n", "Error using convolve-table: event , is undefined.\nError reading line 1 of file '" +
                                     p + "':\n"},
        {"drift-correct 2 a-\n", "Error using drift-correct: event - is undefined.\nError reading line 1 of file '" +
                                     p + "':\n"},
        {"mask # none\n", "Error: `mask' requires a file name or the word auto.\nError reading line 1 of file '" + p +
                               "':\n"},
        {"Notify\n", "Error reading line 1 of file '" + p + "':\nThe keyword `Notify' is not understood.\n"},
        {"drift-correct 9 a\n", "Error: allowed values for `drift-correct' are 0-4.\nError reading line 1 of file '" +
                                    p + "':\n"},
        {"AR 1.5\n", "Error: `AR' requires an integer argument.\nError reading line 1 of file '" + p + "':\n"},
        {"AR -1\n", "Error: the order of `AR' (-1) must be >= 0.\nError reading line 1 of file '" + p + "':\n"},
        {"noise-model\n", "Error: `noise-model' requires a character argument (OLS,iWLS,fPET)\nError reading line 1 of "
                           "file '" + p + "':\n"},
        {"noise-model GLS\n", "Error: `noise-model' requires an integer argument (fPET or none).\nError reading line 1 "
                               "of file '" + p + "':\n"},
        {"drift-correct x a\n", "Error: `drift-correct' requires an integer argument, followed by event IDs.\nError "
                                 "reading line 1 of file '" + p + "':\n"},
        {"frequency-filter 0\n", "Error: `frequency-filter' requires two arguments.\nError reading line 1 of file '" + p +
                                    "':\n"},
        {"baseline-terms x\n", "Error: `baseline-terms' requires an argument (1,2,3).\nError reading line 1 of file '" +
                                    p + "':\n"},
        {"multiple-comparisons x\n", "Error: `multiple-comparisons' requires an integer argument.\n"
                                     "Error reading line 1 of file '" + p + "':\n"},
    };
    for (const auto &c : cases) {
        int result = 0;
        EXPECT_EQ(read(c[0], &result), c[1] + example()) << c[0];
        EXPECT_EQ(result, 1) << c[0];
    }
    EXPECT_NE(example().find("baseline-terms 3      # optional; allowed options are 0-4 (default = 3)\n"
                             "normalize-BOLD"), std::string::npos);
    EXPECT_NE(example().find("\nconditions 1 2 12 1-2 # optional;"), std::string::npos);
    int result = 0;
    for (const char *text : {"frequency-filter nan nan\n", "AR 1 nan\n", "residue-filter 0 inf\n",
                             "noise-model fPET -inf\n", "scale-event nan 1\n"})
        EXPECT_EQ(read(std::string("notify\n") + text, &result),
                  "Error: line 2 of the file " + p + " holds a value that is not a finite number.\n") << text;
    EXPECT_EQ(printed([] { return GLM_read_control_file("none.ctl", 0); }, &result),
              "Error: cannot open the file none.ctl.\n");
    EXPECT_EQ(printed([] { return GLM_read_control_file(".", 0); }, &result),
              "Error: the control file . is a directory, not a file.\n");
    EXPECT_EQ(result, 1);
}

TEST_F(ControlFile, RunsAreReadInOrderOntoOneTimeAxis) {
    add_run("r1", 20, "2\n\n1\n10 20\n20 30\n19.9 25\n\n3\n19.9 21\n10 20\n20 22\n\nt table 0\n\n-\n0 1\n");
    add_run("r2", 30, "2\n\n1\n4 20\n\n2 gamma 6\n8\n");
    std::string table = "drift\n";
    for (int i = 0; i < 20; ++i) table += std::to_string(i) + "\n";
    write("tab1.txt", table);
    const std::string runs = "runs:\n\nr1.bfloat r1.glm tab1.txt extra\n  # comment\nr2.bfloat r2.glm\n";
    int result = 1;
    std::string out = read("IRF BOLD-monkey\nconvolve-table t\nconditions 1 2\n" + runs, &result);
    ASSERT_EQ(result, 0) << out;
    EXPECT_EQ(GLM.initialized, 1);
    EXPECT_EQ(GLM.nruns, 2);
    EXPECT_STREQ(GLM_input.table_file[0], "tab1.txt");
    EXPECT_STREQ(GLM_input.table_file[1], "");
    EXPECT_EQ(GLM.ntime, 50);
    EXPECT_EQ(GLM.stim_off[GLM_get_event_index(2)][0], 40.0f + 29 * 2);
    // With an IRF, an OFF time equal to an ON time of the same event moves one
    // step earlier, and again when a later ON time equals its new value.
    const int e1 = GLM_get_event_index(1), e3 = GLM_get_event_index(3);
    EXPECT_EQ(GLM.stim_off[e1][0], 19.9f - 0.1f);
    EXPECT_EQ(GLM.stim_off[e1][1], 30.0f);
    EXPECT_EQ(GLM.stim_on[e1][3], 44.0f);
    EXPECT_EQ(GLM.stim_off[e3][1], 19.9f);  // the ON time 19.9 came before the ON time 20
    EXPECT_EQ(GLM.stim_off[e3][0], 21.0f);

    out = read("conditions 1 2\n" + runs, &result);  // no IRF: nothing moves
    ASSERT_EQ(result, 0) << out;
    EXPECT_EQ(GLM.stim_off[GLM_get_event_index(1)][0], 20.0f);

    const std::string p = dir_.file("a.ctl");
    std::string many = "runs:\n";
    for (int r = 0; r <= MAX_RUNS; ++r) many += "r2.bfloat r2.glm\n";
    const std::string cases[][2] = {
        {"convolve-table 3\n" + runs, "Error: Convolution for table event 3 was requested\n"
                                      "using `convolve-table', but this event is not a table.\n"},
        {"convolve-table 8\n" + runs, "Error: Convolution for table event 8 was requested\n"
                                      "using `convolve-table', but this event is not defined.\n"},
        {"runs\nr1.bfloat r1.glm tab1.txt\nr2.bfloat\n", "Error reading the GLM file name for run 2.\n"},
        {"AR 50\n" + runs, "Error: the order of `AR' (50) must be less than the number of time points (50).\n"},
        {"runs:\n" + dir_.path() + " r1.glm\n", "Error: the data file " + dir_.path() + " is a directory, not a file.\n"},
        {"runs:\nr1.bfloat .\n", "Error: the event file . is a directory, not a file.\n"},
        {many, "Error: at most 50 runs are allowed (file " + p + ").\n"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(read(c[0], &result), c[1]) << c[0];
        EXPECT_EQ(result, 1) << c[0];
    }
    EXPECT_EQ(GLM_input.nruns, MAX_RUNS);
}

TEST_F(ControlFile, SeparatingAbuttingStimuliMatchesComparingEveryPair) {
    std::srand(7);
    HRF.resolution = 1.0f;
    for (int trial = 0; trial < 20; ++trial) {
        const int n = 1 + std::rand() % 300;
        float expected[MAX_STIMS];
        for (int s = 0; s < n; ++s) {
            GLM.stim_on[0][s] = static_cast<float>(std::rand() % 40);
            GLM.stim_off[0][s] = expected[s] = GLM.stim_on[0][s] + static_cast<float>(1 + std::rand() % 5);
        }
        GLM.nstims[0] = n;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                if (GLM.stim_on[0][i] == expected[j]) expected[j] -= HRF.resolution;
        GLMInternal_separate_abutting_stimuli(0);
        for (int j = 0; j < n; ++j) ASSERT_EQ(GLM.stim_off[0][j], expected[j]) << trial << " " << j;
    }
}

}  // namespace
