// The command line as a user meets it: the built program is run in a scratch directory.
#include <gtest/gtest.h>

#include "support/cli.h"

namespace {

const char *const kSyntax =
    "Syntax: executable [GLM control file name] [optional arguments]\n"
    "optional arguments:\n"
    "-h for this help\n"
    "-H for more help using a menu\n"
    "-p to convert to percent change on output for S-n files\n"
    "-s for small memory allocation\n"
    "-v for verbose output\n"
    "-d [divisor]  to divide output by divisor for S-n files\n"
    "-j [threads]  to analyse voxels on that many threads (default: one per processor)\n"
    "\n";

std::string missing(const std::string &name) {
    return "\nError: cannot open the file " + name + ".\nProgram terminated due to error in analysis file " + name +
           " or one of the sub-files.\n";
}

TEST(CommandLine, HelpInvalidOptionsAndBadArgumentsEndWithTheirMessages) {
    TempDir dir;
    const std::string exiting = "Program exiting.\n", scale = "Error reading the output scale factor.\n";
    const std::string cases[][3] = {
        {"-h", "0", kSyntax},
        {"", "1", kSyntax},
        {"missing.glm -h", "0", kSyntax},  // -h wins over a control file, which is then not read at all
        {"-R ctl.glm", "1", kSyntax},      // -R takes the next word, so no control file remains
        {"-x", "1", "Option --x not valid.\n" + exiting},
        {"-xyz ctl.glm", "1", "Option --xyz not valid.\n" + exiting},
        {"-:", "1", "Valid option -- not yet programmed.\n" + exiting},
        {"-", "1", "Option -- not valid.\n" + exiting},
        {"ctl.glm -d abc", "1", scale},
        {"ctl.glm -d 0", "1", scale},
        {"ctl.glm -d nan", "1", scale},
        {"ctl.glm -d -inf", "1", scale},
        {"ctl.glm -T ab", "1", "Error: event ID ab should be only 1 character long (1-9, a-z, A-Z)\n"},
        {"ctl.glm -j 0", "1", "Error: -j takes a number of threads from 1 to 1024.\n"},
        // Valid options (a divisor, verbose spellings, -R with its word, varied events) leave the named file to read.
        {"-d 2 -verbose -vx -R x -r -s -p ctl.glm", "1", missing("ctl.glm")},
        {"ctl.glm -T a -S 1 -j 2", "1", missing("ctl.glm")},
        {"-i other.glm", "1", missing("other.glm")},
    };
    for (const auto &c : cases) {
        const ProgramResult result = run_fmriglm(c[0], dir.path());
        EXPECT_EQ(result.status, std::stoi(c[1])) << c[0];
        EXPECT_EQ(result.output, c[2]) << c[0];
    }
    for (const char *option : {"d", "R", "i", "o", "T", "S", "j"}) {
        auto last = run_fmriglm(std::string("ctl.glm -") + option, dir.path());
        EXPECT_EQ(last.status, 1) << option;
        EXPECT_EQ(last.output, std::string("Error: option -") + option + " requires an argument.\nProgram exiting.\n");
    }
}

}  // namespace
