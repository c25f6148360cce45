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
    "\n";

std::string terminated(const std::string &name) {
    return "Program terminated due to error in analysis file " + name + " or one of the sub-files.\n";
}

TEST(CommandLine, HelpAndMissingControlFilePrintTheSyntax) {
    TempDir dir;
    auto help = run_fmriglm("-h", dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output, kSyntax);

    auto none = run_fmriglm("", dir.path());
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.output, kSyntax);

    // -h wins over a control file, which is then not read at all.
    auto both = run_fmriglm("missing.glm -h", dir.path());
    EXPECT_EQ(both.status, 0);
    EXPECT_EQ(both.output, kSyntax);
}

TEST(CommandLine, InvalidOptionsEndWithTheirMessages) {
    TempDir dir;
    auto bad = run_fmriglm("-x", dir.path());
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.output, "Option --x not valid.\nProgram exiting.\n");

    auto word = run_fmriglm("-xyz ctl.glm", dir.path());
    EXPECT_EQ(word.status, 1);
    EXPECT_EQ(word.output, "Option --xyz not valid.\nProgram exiting.\n");

    auto colon = run_fmriglm("-:", dir.path());
    EXPECT_EQ(colon.status, 1);
    EXPECT_EQ(colon.output, "Valid option -- not yet programmed.\nProgram exiting.\n");

    auto dash = run_fmriglm("-", dir.path());
    EXPECT_EQ(dash.status, 1);
    EXPECT_EQ(dash.output, "Option -- not valid.\nProgram exiting.\n");
}

TEST(CommandLine, OptionArgumentsAreCheckedAndConsumed) {
    TempDir dir;
    auto divisor = run_fmriglm("-d abc", dir.path());
    EXPECT_EQ(divisor.status, 1);
    EXPECT_EQ(divisor.output, "Error reading the output scale factor.\n");

    for (const char *option : {"d", "R", "i", "o", "T", "S"}) {
        auto last = run_fmriglm(std::string("ctl.glm -") + option, dir.path());
        EXPECT_EQ(last.status, 1) << option;
        EXPECT_EQ(last.output, std::string("Error: option -") + option + " requires an argument.\nProgram exiting.\n");
    }

    // -R takes the next word, so no control file remains.
    auto residue = run_fmriglm("-R ctl.glm", dir.path());
    EXPECT_EQ(residue.status, 1);
    EXPECT_EQ(residue.output, kSyntax);

    // A valid divisor, verbose spellings and -R with its word let the named control file be read.
    auto named = run_fmriglm("-d 2 -verbose -vx -R x -r -s -p ctl.glm", dir.path());
    EXPECT_EQ(named.status, 1);
    EXPECT_NE(named.output.find(terminated("ctl.glm")), std::string::npos) << named.output;

    auto explicit_name = run_fmriglm("-i other.glm", dir.path());
    EXPECT_NE(explicit_name.output.find(terminated("other.glm")), std::string::npos) << explicit_name.output;
}

TEST(CommandLine, VariedEventIdsMustBeOneCharacter) {
    TempDir dir;
    auto longer = run_fmriglm("ctl.glm -T ab", dir.path());
    EXPECT_EQ(longer.status, 1);
    EXPECT_EQ(longer.output, "Error: event ID ab should be only 1 character long (1-9, a-z, A-Z)\n");

    auto ok = run_fmriglm("ctl.glm -T a -S 1", dir.path());
    EXPECT_EQ(ok.status, 1);
    EXPECT_NE(ok.output.find(terminated("ctl.glm")), std::string::npos) << ok.output;
}

}  // namespace
