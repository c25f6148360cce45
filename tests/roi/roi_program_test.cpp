// The region-of-interest mode as a user runs it: -o with -T/-S on NIfTI runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "support/cli.h"

namespace {

// Two generated runs of 80 volumes (TR 2 s) of a 3 x 2 x 1 image, with events of their own.
void write_data_set(const TempDir &dir) {
    ASSERT_EQ(0, make_dataset(dir.path(), "--nx 3 --ny 2 --nz 1 --volumes 80"));
    for (const char *run : {"run1.glm", "run2.glm"})
        dir.write(run, "2\n\n1 gamma 10\n20\n70\n110\n\n2\n150 156\n\n3 drug-IRF 0\n40 44\n");
    dir.write("analysis.glm", "conditions 1\nruns:\nrun1.nii run1.glm\nrun2.nii run2.glm\n");
    dir.write("active.ovl", "0 0 0\n1 0 0 0.5\n");
    dir.write("overlays.lst", "# name file\nactive active.ovl\n\nquiet quiet.ovl\n");
    dir.write("quiet.ovl", "2 1 0\n");
}

TEST(RoiProgram, SearchReportsBestValuesAndWritesNoMaps) {
    TempDir dir;
    write_data_set(dir);
    const ProgramResult result = run_fmriglm("analysis.glm -o overlays.lst -T 1 -S 1", dir.path());
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("Read ROIs from file(s) ...\n\n\r 0 percent done\r 0 percent done\r 1 percent"),
              std::string::npos);
    EXPECT_NE(result.output.find("\r 99 percent done\n\n"), std::string::npos);
    EXPECT_NE(result.output.find(" percent done\nmin chi2 / DOF = "), std::string::npos);
    EXPECT_NE(result.output.find("\nbest tau for event 1 = "), std::string::npos);
    EXPECT_NE(result.output.find("\nbest onset increment for event 1 = "), std::string::npos);
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"active.ovl", "analysis.glm", "control.txt", "overlays.lst", "quiet.ovl",
                                            "regions.txt", "run1.glm", "run1.nii", "run2.glm", "run2.nii"}));
}

TEST(RoiProgram, SearchesThatCannotRunEndWithStatusOne) {
    TempDir dir;
    write_data_set(dir);
    const std::pair<const char *, const char *> cases[] = {
        {"-T 1 -T x", "Error: event x is not defined in the GLM.\n"},
        {"-S 2", "Error: only vary parameters (starting time, tau) for drug shapes\n"},
        {"-T 1 -S 1 -T 1 -S 1 -T 1", "Error: I can only vary up to 4 parameters simultaneously (not 5)\n"},
        {"-T 3", "Error: event 3 has the time constant 0; a parameter search needs a positive one.\n"},
        {"", "Error: an overlay list is referenced, but no parameters are varied.\n"},
    };
    for (auto [options, message] : cases) {
        const ProgramResult result = run_fmriglm(std::string("analysis.glm -o overlays.lst ") + options, dir.path());
        EXPECT_EQ(result.status, 1) << options << "\n" << result.output;
        EXPECT_NE(result.output.find(message), std::string::npos) << options << "\n" << result.output;
        EXPECT_EQ(result.output.find("min chi2"), std::string::npos) << options;
    }
}

}  // namespace
