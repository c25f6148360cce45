// The program on whole analysis descriptions: bad ones end it with status 1
// and the termination message after the reader's own message.
#include <gtest/gtest.h>

#include <string>

#include "glm/control_file.h"
#include "support/cli.h"

namespace {

std::string terminated(const std::string &name) {
    return "Program terminated due to error in analysis file " + name + " or one of the sub-files.\n";
}

std::string example() {
    testing::internal::CaptureStdout();
    GLMInternal_describe_glm_format();
    return testing::internal::GetCapturedStdout();
}

class DescriptionCli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_.write("run1.hdr", "x 4\ny 4\nz 2\nt 10\nresolution 3 3 3 2\n");
        dir_.write("run1.bfloat", std::string(4 * 4 * 4 * 2 * 10, '\0'));
        dir_.write("run1.glm", "2\n\n1\n4 8\n");
    }
    ProgramResult run(const std::string &control) {
        dir_.write("a.ctl", control);
        return run_fmriglm("a.ctl", dir_.path());
    }
    TempDir dir_;
};

TEST_F(DescriptionCli, ErrorsInTheDescriptionEndTheProgram) {
    struct Case {
        std::string control, message;
    };
    const Case cases[] = {
        {"notify\nbaseline-terms 7\n", "Error: allowed value for `baseline-terms' are 0-4.\n"
                                       "Error reading line 2 of file 'a.ctl':\n" + example()},
        {"IRF missing.irf\n", "Error attempting to open the IRF file missing.irf.\n"},
        {"runs:\nrun1.bfloat run1.glm missing.txt\n", "Error attempting to open the TABLE file missing.txt.\n"},
        {"convolve-table 1\nruns:\nrun1.bfloat run1.glm\n",
         "Error: Convolution for table event 1 was requested\nusing `convolve-table', but this event is not a table.\n"},
    };
    for (const Case &c : cases) {
        const ProgramResult result = run(c.control);
        EXPECT_EQ(result.status, 1) << c.control;
        EXPECT_EQ(result.output, "\n" + c.message + terminated("a.ctl")) << c.control;
    }
    const ProgramResult missing = run_fmriglm("none.ctl", dir_.path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output, "\nError: cannot open the file none.ctl.\n" + terminated("none.ctl"));
}

TEST_F(DescriptionCli, AValidDescriptionIsReadCompletely) {
    const ProgramResult result = run("IRF BOLD-monkey\nconditions 1\nruns:\nrun1.bfloat run1.glm\n");
    EXPECT_EQ(result.output.rfind("\nusing HRF (hemodynamic response function)\n", 0), 0u) << result.output;
    EXPECT_EQ(result.output.find("Program terminated due to error"), std::string::npos) << result.output;
    // The program went on to the run set-up, built or not.
    EXPECT_TRUE(result.output.find("fMRI files: 1 runs") != std::string::npos ||
                result.output.find("the run set-up is not available") != std::string::npos)
        << result.output;
}

}  // namespace
