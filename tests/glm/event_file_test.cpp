// Event files: every shape on the concatenated time axis, exclusions, table
// drift correction, cross-run consistency, and the messages of bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "glm/description_fixture.h"
#include "glm/event_file.h"
#include "glm/table_file.h"
#include "support/exit_output.h"

namespace {

class EventFile : public DescriptionFiles {
protected:
    // Reads text as the event file of run 0 (20 time points); returns the output.
    std::string read_run0(const std::string &text, int *result) {
        const std::string path = write("ev.glm", text);
        return printed([&] { return GLM_read_event_file(path.c_str(), 0, 20); }, result);
    }
    int index(char id) { return GLM_get_event_index(GLM_EventNumberFromCharID(id)); }
};

std::string table_text(int rows) {
    std::string text = "resp card motion\n";
    for (int i = 0; i < rows; ++i)
        text += std::to_string(i == 3 ? 0 : i + 1) + " " + std::to_string(5 + 0.3 * i + 0.02 * i * i + std::sin(i)) +
                " 7\n";
    return text;
}

TEST_F(EventFile, TwoRunsWithEveryShapeFillTheModel) {
    const std::string t0 = write("t0.txt", table_text(20)), t1 = write("t1.txt", table_text(20));
    const std::string e0 = write("e0.glm",
                                 "2.0   # TR\n\n1\n4 8\n12 16 2.5\n\nab ramp-up  # one character counts\n0 6\n\nb ramp-down\n6 10\n\n"
                                 "2 gamma 8 2 x\n4\n\n5 sine 16\n0 38\n\n3 sigmoid 10\n6 0.5\n\n4 exponential-down 5\n"
                                 "10 20\n\n6 cosine 16\n0 38\n\nd drug-IRF 12\n20 24\n\nt table 1\n\nu table 0\n\n"
                                 "-\n5 5\n10 19.7\n\nB baseline 3\n\nX baseline-exp-sat 4\n\nI interaction a b\n");
    // Old Mac text: every line ends in a lone carriage return.
    const std::string e1 = write("e1.glm", "2\r\r\r1 square\r2 6\r40 41\r\r2 gamma 8 2\r0\r\rt table 2\r\r-\r0 1\r18 21\r"
                                           "\rI interaction a b\r");
    GLM.drift_correct_terms[GLM_EventNumberFromCharID('u')] = 1;
    int result = 1;
    const std::string out = printed(
        [&] {
            return GLM_read_table_file(t0.c_str(), 0, 20) || GLM_read_event_file(e0.c_str(), 0, 20) ||
                   GLM_read_table_file(t1.c_str(), 1, 20) || GLM_read_event_file(e1.c_str(), 1, 20);
        },
        &result);
    ASSERT_EQ(result, 0) << out;
    EXPECT_EQ(out, "Warning: stimulus 2 of event 1 in " + e1 + " starts at 40 s, after the end of its run (40 s).\n"
                   "Warning: excluded segment 2 in " + e1 + " ends at time point 21, after the end of its run (20 "
                   "points).\n");
    EXPECT_EQ(std::vector<int>({GLM.ntime, GLM.run_start[1], GLM.nevents}), std::vector<int>({40, 20, 14}));
    struct Expected { char id; int shape; float tau; int nstims; };  // tau -1: the shape has none
    const Expected events[] = {{'1', SHAPE_SQUARE, -1, 4},    {'a', SHAPE_RAMP_UP, -1, 1},  {'b', SHAPE_RAMP_DOWN, -1, 1},
                               {'2', SHAPE_GAMMA, 8, 2},      {'5', SHAPE_SINE, 16, 1},     {'3', SHAPE_SIGMOID, 10, 1},
                               {'4', SHAPE_EXP_DOWN, 5, 1},   {'6', SHAPE_COSINE, 16, 1},   {'d', SHAPE_DRUG_IRF, 12, 1},
                               {'t', SHAPE_TABLE, -1, 2},     {'u', SHAPE_TABLE, -1, 1},    {'B', SHAPE_BASELINE3, -1, 1},
                               {'X', SHAPE_BASELINE_EXP_SAT, 4, 1}, {'I', SHAPE_INTERACTION, 10, 2}};
    for (int k = 0; k < 14; ++k) {
        const Expected &e = events[k];
        ASSERT_EQ(GLM.event_number[k], GLM_EventNumberFromCharID(e.id)) << e.id;  // order of first appearance
        EXPECT_EQ(GLM.event_shape[k], e.shape) << e.id;
        if (e.tau >= 0) { EXPECT_EQ(GLM.time_constant[k], e.tau) << e.id; }
        EXPECT_EQ(GLM.nstims[k], e.nstims) << e.id;
    }

    const int sq = index('1'), gamma = index('2'), table = index('t'), inter = index('I');
    EXPECT_EQ(GLM.stim_magnitude[sq][1], 2.5f);
    EXPECT_EQ(GLM.stim_on[sq][2], 42.0f);  // 2 s into run 1, which starts at 40 s
    EXPECT_EQ(GLM.stim_off[sq][2], 46.0f);
    EXPECT_EQ(GLM.stim_magnitude[sq][2], 1.0f);
    EXPECT_EQ(GLM.alpha[gamma], 2.0f);
    EXPECT_EQ(GLM.stim_off[gamma][0], 38.0f);  // the run's last time point
    EXPECT_EQ(GLM.stim_off[gamma][1], 78.0f);
    EXPECT_EQ(GLM.alpha[index('5')], 2.0f);  // a sine event keeps the last alpha of the file
    EXPECT_EQ(GLM.stim_magnitude[index('3')][0], 0.5f);
    // Drug kernels without an IRF are sampled once per TR: 10 x (12 / 2) samples.
    EXPECT_EQ(HRF.resolution, 2.0f);
    EXPECT_EQ(GLM.drug_irf_length[index('d')], 60);
    EXPECT_EQ(std::vector<float>({float(GLM.stim_column[table][0]), float(GLM.stim_column[table][1]),
                                  GLM.stim_on[table][1], GLM.stim_off[table][1]}),
              std::vector<float>({1, 2, 40, 78}));
    EXPECT_EQ(GLM.time_constant2[inter], 11.0f);

    // Column 1 of run 0 lost its quadratic trend (three default terms) ...
    double sums[3] = {0, 0, 0};
    bool changed = false;
    for (int i = 0; i < 20; ++i) {
        const double x = i / 20.0, r = GLM.table[0][1][i];
        sums[0] += r;
        sums[1] += r * (x - 0.5);
        sums[2] += r * (x * x - 1.0 / 3.0);
        changed |= std::fabs(r - (5 + 0.3 * i + 0.02 * i * i + std::sin(i))) > 0.1;
    }
    for (double s : sums) EXPECT_NEAR(s, 0.0, 1e-3);
    EXPECT_TRUE(changed);
    // ... column 0 lost the mean of its non-zero entries only (one term), and
    // the zero entry now holds minus that mean ...
    const float mean = (210.0f - 4.0f) / 19.0f;
    EXPECT_NEAR(GLM.table[0][0][0], 1.0f - mean, 1e-4);
    EXPECT_NEAR(GLM.table[0][0][3], -mean, 1e-4);
    // ... and columns no event names are untouched.
    EXPECT_EQ(GLM.table[0][2][5], 7.0f);
    EXPECT_EQ(GLM.table[1][1][5], std::stof(std::to_string(5 + 0.3 * 5 + 0.02 * 25 + std::sin(5))));

    ASSERT_EQ(GLM.nexcluded, 4);
    const int segments[4] = {505, 1019, 2021, 3841};  // first and last point (19: the run's last), as 100 first + last
    for (int j = 0; j < 4; ++j) EXPECT_EQ(GLM.excluded_start[j] * 100 + GLM.excluded_stop[j], segments[j]) << j;
}

TEST_F(EventFile, BadLinesPrintTheirMessagesWithLineNumbers) {
    const std::string p = dir_.file("ev.glm");
    struct Case { std::string text, expected; };
    const std::string square_example =
        "\nExample of definition for square events:\n1 square    # [event identifier] [optional event shape]\n"
        "30 60       # [ON time] [OFF time] [optional magnitude]\n90 120      # [ON time] [OFF time] [optional "
        "magnitude]\n...         # ... and so on\n";
    const std::string gamma_example =
        "\nExample of definition for gamma events:\n1 gamma 24. # [event identifier] [event shape] [time constant "
        "for gamma]\n30 1.       # [ON time] [optional magnitude]\n90 2.       # [ON time] [optional magnitude]\n"
        "...         # ... and so on\n";
    const std::string not_finite = " of the file " + p + " holds a value that is not a finite number.\n";
    const auto ex = [](int shape) { return stdout_of([shape] { GLMInternal_describe_event_format(shape); }); };
    const std::string drug_example = ex(SHAPE_DRUG_IRF), words = " in file " + p + ", # words read = ";
    const Case cases[] = {
        {"", "Error reading the 1st line of GLM file " + p + "\n"},
        {"0\n", "Error: the TR (0) on line 1 of the GLM file " + p + " must be > 0.\n"},
        {"2\n\n1\nnan 5\n", "Error: ON time must be > 0 for stim 0 of event 1.\n"},
        {"2\n5 10\n", "Error reading line 2 of the GLM file " + p +
                          "\nA blank line and an event header must come before stimulus lines.\n"},
        {"2\n\n1 gamma abc\n5\n", "Error on line 3 for event type 1 in file " + p +
                                      "\nFor gamma & sigmoid shapes, specify the time constant and optionally "
                                      "alpha.\n" + gamma_example},
        {"2\n\n1\n5\n", "Error reading line 4 of the GLM file " + p +
                            "\nThis should be on time & off time for event 1 and stim 0.\n" + square_example},
        {"2\n\n1 gamma 5\nx\n", "Error reading line 4 of the GLM file " + p + "\nThis line should at least give the "
                                     "ON time for event 1 and stim 0.\n" + gamma_example},
        {"2\n\n1 gamma 5\n38\n", "Error: OFF time must be > ON time for stim 0 of event 1.\n"},
        {"2\n\n-\n6 5\n", "Error: OFF time must be >= ON time for exclusion segments (event -).\n"},
        {"2\n\nt table 0\n3 4\n", "Error: column number (0) for event t\n       >= number of columns (0) for run 0\n"},
        {"2\n\nB baseline 2\n",
         "Error: redundant baseline terms: `baseline-terms 3'\nis not compatible with an explicit baseline event of "
         "order 2.\n"},
        {"2\n\nB baseline 3\n1 2\n", "Error interpretting line 4 of the GLM file " + p +
                                         "\nOnly a blank line should follow a table, baseline, or interaction "
                                         "event.\n\nExample of definition for baseline '3' events:\n1 baseline 3  # "
                                         "[event identifier] baseline [polynomial order]\n"},
        {"2\n\n0\n1 2\n", "Event number (0) for event (0) is not allowed on line 3 in file " + p + "\n"},
        {"2\n\n1\n1 2\n\nI interaction 0 1\n", "One of the interacting events (0, 1) is not allowed\non line 6 in file " +
                                                 p + "\n"},
        {"2\n\nI interaction 1\n", "Error on line 3 for event type 44" + words + "3\nFor interaction events, give two "
                                  "event types that interact.\n" + ex(SHAPE_INTERACTION)},
        {"2\n\nI interaction a b\n", "For event I, interacting events must be previously defined.\n\nExample of "
                                     "definition for interaction events (product of 2 events):\nI interaction 1 2  "
                                     "# [event identifier] interaction [event1] [event2]\n"},
        {"2\n\n1 gamma -1\n4\n", "Error reading stim 0 of event 1:\nGamma & sigmoid time constants (-1.000000) must be "
                                   "> 0\n" + gamma_example},
        {"2\n\n1 sine\n", "Error on line 3 for event type 1" + words + "2\nFor sine or cosine shapes, specify the period.\n"},
        {"2\n\n1 cosine 0\n", "Error reading stim 0 of event 1:\nSine and cosine events must have a period (0) must be "
                               "> 0\n" + ex(SHAPE_COSINE)},
        {"2\n\n7 drug-IRF\n", "Error on line 3 for event type 7 in file " + p + "\nError: for drug-IRF shape, specify the "
                               "convolution time constant.\n" + drug_example},
        {"2\n\nt table\n", "Error on line 3 for event type 29" + words + "2\nFor table events, give the column entry.\n" +
                                ex(SHAPE_TABLE)},
        {"2\n\nt table 3\n", "Error: The TABLE event t refers to column 3 for run 0,\n...but allowed values are 0 to 0.\n" +
                                  ex(SHAPE_TABLE)},
        {"2\n\nB baseline\n", "Error on line 3 for event type 37" + words + "2\nFor baseline events, give the polynomial "
                                 "order.\n" + ex(SHAPE_BASELINE1)},
        {"2\n\nB baseline 4\n", "Error: The BASELINE event B refers to order 4 for run 0,\n...but allowed values are 0 to "
                                   "3.\n" + ex(SHAPE_BASELINE1)},
        {"2\n\nX baseline-exp-sat\n", "Error on line 3 for event type 59" + words + "2\nFor baseline-exp-sat events, give "
                                         "the exponential time constant.\n" + ex(SHAPE_BASELINE_EXP_SAT)},
        {"2\n\nX baseline-exp-sat 0\n", "Error: The baseline-exp-sat event X uses a tau value (0) <= 1 for run 0,\n" +
                                           ex(SHAPE_BASELINE_EXP_SAT)},
        {"2\n\n1\n1 2\n\nI interaction 1 1\n", "For event I, the two interacting events are the same!\n" +
                                                 ex(SHAPE_INTERACTION)},
        {"x\n", "Error reading line 1 of the GLM file " + p + " (TR).\n"},
        {"2\n\n1 boxcar\n", "Error: stimulus shapes are 'square' (default), 'gamma', 'sigmoid', 'drug-IRF'\nor "
                            "`table' (error on line 3).\n"},
        {"2\n\n1\n" + std::string(1100, ' ') + "1 2\n", "Error: line 4 of the file " + p +
                                                             " is longer than 1023 characters.\n"},
        {"2\n\n1\n4 8 inf\n", "Error: line 4" + not_finite},
        {"2\n\n1 gamma 5 nan\n4\n", "Error: line 3" + not_finite},
        {"2\n\n1 table -inf\n", "Error: line 3" + not_finite},
        {"2\n\n7 drug-IRF 4 -2\n1 3\n", "Error reading stim 0 of event 7:\nTime constant for shape drug-IRF "
                                           "(-2.000000) must be >= 0.\n" + drug_example},
        {"2\n\n7 drug-IRF 3e7\n1 3\n", "Error on line 3 for event type 7 in file " + p + "\nThe drug-IRF time "
                                         "constants need kernels of more than 10000000 samples at a resolution of 2 "
                                         "seconds.\n"},
    };
    for (const Case &c : cases) {
        GLM_reset_model_state();
        int result = 0;
        EXPECT_EQ(read_run0(c.text, &result), c.expected) << c.text;
        EXPECT_EQ(result, 1) << c.text;
    }
}

TEST_F(EventFile, RunsMustAgreeOnEachEvent) {
    const std::string a = write("a.glm", "2\n\n1 gamma 24\n4\n\nB baseline 3\n\n7 drug-IRF 4 2\n1 3\n\n"
                                         "I interaction 1 7\n");
    struct Case { const char *text, *expected; int result; };
    const Case cases[] = {
        {"2\n\n1 gamma 25\n4\n", "Error: event 1 does not have a consistent time constant.\n", 1},
        {"2\n\n1 sigmoid 24\n4\n", "Error: event 1 does not have a consistent shape.\nThe shape is 1 in the 1st run "
                                   "and 2 in run 1\n", 1},
        {"2\n\nB baseline 3\n", "Error: event B is a baseline regressor and must be unique.\nUse different regressors "
                                "in different runs.\n", 1},
        {"2\n\n7 drug-IRF 4\n1 3\n", "Error: event 7 does not have a consistent time constant.\n", 1},
        {"2\n\nI interaction 7 1\n", "Error: event I does not have a consistent time constant.\n", 1},
        // A gamma header of another alpha earlier in the file does not make drug-IRF differ.
        {"2\n\n3 gamma 5 3\n1\n\n7 drug-IRF 4 2\n1 3\n\n1 gamma 24\n6\n", "", 0},
    };
    for (const Case &c : cases) {
        GLM_reset_model_state();
        int result = -1;
        const std::string b = write("b.glm", c.text);
        const std::string out = printed(
            [&] { return GLM_read_event_file(a.c_str(), 0, 20) || GLM_read_event_file(b.c_str(), 1, 20); }, &result);
        EXPECT_EQ(out, c.expected) << c.text;
        EXPECT_EQ(result, c.result) << c.text;
    }
    // Identical definitions accumulate the stimuli of both runs in one event.
    EXPECT_EQ(GLM.nstims[GLM_get_event_index(1)], 2);
    EXPECT_EQ(GLM.stim_on[GLM_get_event_index(1)][1], 46.0f);
}

TEST_F(EventFile, CapacitiesAreNeverExceeded) {
    std::string stims = "1\n\n1\n", segments = "1\n\n1\n1 2\n\n-\n";
    for (int i = 0; i <= MAX_STIMS; ++i) {
        stims += std::to_string(i / 1000.0) + " " + std::to_string(i / 1000.0 + 5e-4) + "\n";  // inside the run
        segments += "1 2\n";
    }
    int result = 0;
    EXPECT_EQ(read_run0(stims, &result),
              "Error: the number of stimuli (10001) for event 1 > max dimension in program (10000).\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(GLM.nstims[0], MAX_STIMS);

    GLM_reset_model_state();
    EXPECT_EQ(read_run0(segments, &result),
              "Error: the number of segments to exclude (10001) > max dimension in program (10000).\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(GLM.nexcluded, MAX_EXCLUDED);
}

TEST_F(EventFile, InconsistentTimingEndsTheProgram) {
    const std::string a = write("a.glm", "2\n\n1\n1 2\n"), b = write("b.glm", "2.5\n");
    int result = 0;
    EXPECT_EXIT_PRINTS(
        { GLM_read_event_file(a.c_str(), 0, 20); GLM_read_event_file(b.c_str(), 1, 20); }, 1,
        "Error: TR \\(2.500000\\) is not the same as the first run \\(2.000000\\).");
    EXPECT_EQ(printed([&] { return GLM_read_event_file(a.c_str(), MAX_RUNS, 20); }, &result),
              "Error: run 50 is outside the 50 runs the model holds.\n");
    EXPECT_EQ(result, 1);
    const std::string empty = write("c.glm", "2\n\n1\n\n2\n1 2\n");
    EXPECT_EXIT_PRINTS(GLM_read_event_file(empty.c_str(), 0, 20), 1,
                       "Error checking problem: # stims < 1 for event 1.\nCheck format of event description file.");
}

}  // namespace
