// fmriglm-bids and the Snakemake workflow on generated BIDS data sets.
#include <gtest/gtest.h>

#include <filesystem>

#include "bids/output_files.h"
#include "support/cli.h"

namespace {

const std::string SIZE = "--nx 12 --ny 10 --nz 3 --volumes 40 --seed 5 ";

ProgramResult run_bids(const std::string &arguments, const TempDir &dir) {
    return run_command("cd '" + dir.path() + "' && '" FMRIGLM_BIDS_EXE "' " + arguments);
}

// Participant 1 of the BIDS layout holds the plain layout's data: its named
// maps must be those of the plain control file, byte for byte.
TEST(BidsCli, NamedMapsEqualTheDirectAnalysisAndAFailureWaitsForTheOthers) {
    TempDir d;
    ASSERT_EQ(0,
              make_dataset(d / "plain", SIZE + "--conditions '1-2 1,2' --control-extra 'AR 1' --control-extra z-maps"));
    ASSERT_EQ(0, make_dataset(d / "bids", SIZE + "--bids 2"));
    std::filesystem::remove(d / "bids/sub-01/func/sub-01_task-motor_run-2_events.tsv");
    ASSERT_EQ(0, run_fmriglm("control.txt", d / "plain").status);
    const ProgramResult r = run_bids(
        "bids out --task motor --contrast finger-foot finger,foot --mask none "
        "--irf BOLD-monkey --participant 01 sub-02",
        d);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("sub-01: FAILED after "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("no events file applies to"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("sub-02: done in "), std::string::npos) << r.output;

    // Run 2 inherits an events table from the top level.
    d.write("bids/task-motor_events.tsv", "onset\tduration\ttrial_type\n20\t20\tfinger\n60\t20\tfoot\n");
    ASSERT_EQ(0, run_bids("bids out --task motor --contrast finger-foot finger,foot --mask none --irf BOLD-monkey "
                          "--participant 01",
                          d)
                     .status);
    EXPECT_EQ(read_file(d / "out/sub-01/Z-finger-foot.nii"), read_file(d / "plain/Z-1-2.nii"));
    EXPECT_EQ(read_file(d / "out/sub-01/P-finger,foot.nii"), read_file(d / "plain/P-1,2.nii"));
    EXPECT_EQ(read_file(d / "out/sub-01/events.tsv"),
              "identifier\tname\tkind\n1\tfinger\ttrial_type\n2\tfoot\ttrial_type\n");
    const int dof = recorded_dof(d / "plain/S-1-2.nii");
    ASSERT_GT(dof, 0);
    const std::string D = std::to_string(dof);
    EXPECT_EQ(read_file(d / "out/sub-01/contrasts.tsv"), "name\tcondition\trows\tdof\tz_map\nfinger-foot\t1-2\t1\t" +
                                                             D + "\tZ-finger-foot.nii\nfinger,foot\t1,2\t2\t" + D +
                                                             "\tZ-finger,foot.nii\n");

    // Two confound columns take two degrees of freedom; the displacement's n/a is filled.
    const ProgramResult c =
        run_bids("bids out2 --task motor --participant 01 --confounds trans_x,framewise_displacement", d);
    EXPECT_EQ(c.status, 0) << c.output;
    EXPECT_NE(c.output.find("n/a replaced by the column mean in framewise_displacement (1)"), std::string::npos);
    EXPECT_NE(
        read_file(d / "out2/sub-01/contrasts.tsv").find("foot\t2\t1\t" + std::to_string(dof - 2) + "\tZ-foot.nii"),
        std::string::npos);
}

TEST(BidsCli, SnakemakeRunsEveryParticipant) {
    if (run_command("snakemake --version").status != 0)
        GTEST_SKIP() << "snakemake is not installed (scripts/install-deps.sh installs it)";
    TempDir d;
    ASSERT_EQ(0, make_dataset(d / "bids", SIZE + "--bids 3"));
    const ProgramResult r = run_command("cd '" + d.path() +
                                        "' && snakemake -s '" FMRIGLM_SOURCE_DIR
                                        "/workflows/Snakefile' -j 2 "
                                        "--config bids=bids out=out task=motor program='" FMRIGLM_BIDS_EXE
                                        "' 'args=--contrast finger-foot'");
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char *p : {"01", "02", "03"})
        for (const char *file : {"/Z-finger-foot.nii", "/report.html"})
            EXPECT_TRUE(std::filesystem::exists(d / ("out/sub-" + std::string(p) + file))) << p << file;
}

}  // namespace
