#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "glm/basis.h"
#include "glm/conditions.h"
#include "glm/fit_context.h"
#include "glm/state.h"
#include "support/cli.h"

namespace {

// Events with the given numbers and two baseline columns; no design built.
void set_events(std::vector<int> numbers) {
    GLM_reset_model_state();
    GLM.nevents = static_cast<int>(numbers.size());
    for (int k = 0; k < GLM.nevents; ++k) GLM.event_number[k] = numbers[k];
    GLM.nbasis = GLM.nevents + 2;
    GLM.initialized = 1;
}

std::vector<int> row(int c, int r) { return std::vector<int>(GLM.contrast[c][r], GLM.contrast[c][r] + GLM.nbasis); }

int define(const char *text, std::string *out = nullptr, int flag = 1) {
    int count = -1, result = 0;
    const std::string printed = stdout_of([&] { result = GLM_define_conditions(flag, text, &count); });
    if (out) *out = printed;
    return result ? -1 : count;
}

}  // namespace

TEST(Conditions, GrammarOfRowsSignsAndLetters) {
    set_events({1, 2});
    ASSERT_EQ(define("1 2 12 1-2\n"), 4);
    EXPECT_EQ(row(0, 0), (std::vector<int>{1, 0, 0, 0}));
    EXPECT_EQ(row(1, 0), (std::vector<int>{0, 1, 0, 0}));
    EXPECT_EQ(row(2, 0), (std::vector<int>{1, 1, 0, 0}));
    EXPECT_EQ(row(3, 0), (std::vector<int>{1, -1, 0, 0}));
    EXPECT_STREQ(GLM.condition_string[3], "1-2");

    set_events({1, 2, 3, 10, 36});
    ASSERT_EQ(define("1,2,3 \t 1-23\t11 -1 12,3-2 aA-a\r\n"), 6);
    EXPECT_EQ(GLM.condition_nrows[0], 3);
    EXPECT_EQ(row(0, 2), (std::vector<int>{0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(row(1, 0), (std::vector<int>{1, -1, -1, 0, 0, 0, 0}));
    EXPECT_EQ(row(2, 0), (std::vector<int>{2, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(row(3, 0), (std::vector<int>{-1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(row(4, 1), (std::vector<int>{0, -1, 1, 0, 0, 0, 0}));  // the comma resets the sign
    EXPECT_EQ(row(5, 0), (std::vector<int>{0, 0, 0, 0, 1, 0, 0}));
    EXPECT_STREQ(GLM.condition_string[5], "aA-a");

    EXPECT_EQ(define(" \t\n"), 0);  // an empty line replaces the conditions by none
    EXPECT_EQ(GLM.contrast[0], nullptr);
}

TEST(Conditions, UndefinedAndIllegalCharactersAndLimits) {
    set_events({1, 2});
    std::string out;
    EXPECT_EQ(define("1 3", &out), -1);
    EXPECT_EQ(out, "Error: one of the events in the conditions (3) is not defined.\n");
    EXPECT_EQ(define("1+2", &out), -1);
    EXPECT_EQ(out, "Error: event type + is not allowed.\n");
    EXPECT_EQ(define("10", &out), -1);
    EXPECT_EQ(out, "Error: event type 0 is not allowed.\n");
    EXPECT_EQ(define("1 Z 1+2", &out, 0), 3);  // counting alone checks nothing
    EXPECT_STREQ(GLM.condition_string[2], "1+2");

    std::string hundred;
    for (int c = 0; c < MAX_CONDITIONS; ++c) hundred += "1 ";
    EXPECT_EQ(define(hundred.c_str()), MAX_CONDITIONS);
    EXPECT_EQ(define((hundred + "2").c_str(), &out), -1);
    EXPECT_EQ(out, "Error: too many conditions (at most 100).\n");
    const std::string longest(NAME_SIZE - 1, '1');
    EXPECT_EQ(define(longest.c_str()), 1);
    EXPECT_EQ(GLM.contrast[0][0][0], NAME_SIZE - 1);
    EXPECT_EQ(define(("1 " + longest + "1").c_str(), &out), -1);
    EXPECT_NE(out.find("is longer than 1023 characters"), std::string::npos) << out;

    GLM.nbasis = 0;  // before the design is built the event columns still exist
    EXPECT_EQ(define("12"), 1);
    EXPECT_EQ(GLM.contrast[0][0][1], 1);
}

TEST(Conditions, CovariancesOfABuiltDesign) {
    // One run of 30 points, two overlapping square events, two baseline terms.
    set_events({1, 2});
    GLM.nruns = GLM_input.nruns = 1, GLM.ntime = 30, GLM.run_stop[0] = 29, GLM.tr[0] = 2.0f;
    GLM_input.nbaseline_terms = 2;
    const float on[2][2] = {{4, 30}, {10, 40}};
    for (int e = 0; e < 2; ++e)
        for (int s = 0; s < 2; ++s) {
            GLM.stim_on[e][s] = on[e][s], GLM.stim_off[e][s] = on[e][s] + 8, GLM.stim_magnitude[e][s] = 1;
            GLM.nstims[e] = 2;
        }
    ASSERT_EQ(GLM_define_basis_functions(), 0);
    ASSERT_EQ(define("1 1,2 1-2"), 3);
    EXPECT_FLOAT_EQ(fit_context.contrast_covariance[0][0][0], fit_context.XtX_inverse[0][0]);
    EXPECT_FLOAT_EQ(fit_context.contrast_covariance[1][1][0], fit_context.XtX_inverse[1][0]);
    const float *x = fit_context.XtX_inverse[0], *y = fit_context.XtX_inverse[1];
    EXPECT_NEAR(fit_context.contrast_covariance[2][0][0], x[0] - x[1] - y[0] + y[1], 1e-6f);
    for (const char *word : {"1,", "1,1", "2,1,12"}) {
        std::string out;
        EXPECT_EQ(define((std::string("1 ") + word).c_str(), &out), -1);
        EXPECT_NE(out.find(std::string("Error: condition ") + word +
                           " has linearly dependent contrast rows and cannot be tested.\n"),
                  std::string::npos) << out;
    }
}
