// The program on whole analysis descriptions: a bad description, or a bad file it names, ends the
// program with status 1 after the message that says why.
#include <gtest/gtest.h>

#include <string>

#include "glm/control_file.h"
#include "support/cli.h"

namespace {

TEST(DescriptionCli, ErrorsInTheDescriptionOrItsFilesEndTheProgram) {
    TempDir dir;
    dir.write("run1.hdr", "x 4\ny 4\nz 2\nt 10\nresolution 3 3 3 2\n");
    dir.write("run1.bfloat", std::string(4 * 4 * 4 * 2 * 10, '\0'));
    dir.write("run2.hdr", "x 4\ny 4\nz 2\nt 10\nresolution 3 3 3 2\n");  // its data file is missing
    dir.write("run1.glm", "2\n\n1\n4 8\n");
    dir.write("overlap.glm", "2\n\n1\n0 4\n0 6\n");  // two square stimuli overlap at t = 0
    const std::string terminated = "Program terminated due to error in analysis file a.ctl or one of the sub-files.\n";
    const std::string example = stdout_of(GLMInternal_describe_glm_format);
    const std::string cases[][2] = {
        {"notify\nbaseline-terms 7\n",
         "\nError: allowed value for `baseline-terms' are 0-4.\nError reading line 2 of file 'a.ctl':\n" + example +
             terminated},
        {"IRF missing.irf\n", "\nError attempting to open the IRF file missing.irf.\n" + terminated},
        {"runs:\nrun1.bfloat run1.glm missing.txt\n", "\nError attempting to open the TABLE file missing.txt.\n" +
                                                          terminated},
        {"runs:\nrun2.bfloat run1.glm\n", "Error: cannot open file run2.bfloat.\n"},
        {"conditions 1\nruns:\nrun1.bfloat overlap.glm\n", "Error: overlapping stimuli for event 1 and stimulus 1\n"},
    };
    for (const auto &c : cases) {
        dir.write("a.ctl", c[0]);
        const ProgramResult result = run_fmriglm("a.ctl", dir.path());
        EXPECT_EQ(result.status, 1) << c[0];
        EXPECT_TRUE(result.output.ends_with(c[1])) << c[0] << "\n" << result.output;
    }
    const ProgramResult missing = run_fmriglm("none.ctl", dir.path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output, "\nError: cannot open the file none.ctl.\nProgram terminated due to error in analysis "
                              "file none.ctl or one of the sub-files.\n");
}

}  // namespace
