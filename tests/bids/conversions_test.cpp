// The BIDS front end's conversions: metadata inheritance, contrasts, events and confounds.
#include <gtest/gtest.h>

#include "bids/confounds.h"
#include "bids/contrasts.h"
#include "glm/hrf_file.h"
#include "support/cli.h"

namespace {

const char *const RUN = "sub-01_ses-1_task-motor_run-1_bold.nii.gz";

TEST(BidsConversions, MetadataAppliesByEntitiesAndTheNearestFolderComesLast) {
    const struct {
        const char *metadata;
        bool applies;
    } cases[] = {{"task-motor_bold.json", true},           {"sub-01_task-motor_run-1_bold.json", true},
                 {"sub-02_task-motor_bold.json", false},   {"task-rest_bold.json", false},
                 {"task-motor_acq-fast_bold.json", false}, {"task-motor_events.tsv", false},
                 {"sub-01_task-motor_bold", true},         {"task_motor_bold.json", false}};
    const BidsName data = parse_bids_name(RUN);
    for (const auto &c : cases) EXPECT_EQ(applies_to(parse_bids_name(c.metadata), data), c.applies) << c.metadata;
    EXPECT_EQ(data.extension, ".nii.gz");

    TempDir d;
    for (const std::string file : {"task-motor_events.tsv", "task-rest_events.tsv", "sub-01/ses-1/func/x.tsv",
                                   "sub-01/ses-1/func/sub-01_ses-1_task-motor_run-1_events.tsv",
                                   "sub-01/ses-1/func/sub-01_ses-1_task-motor_run-1_bold.nii.gz"})
        d.write(file, "");
    const auto found = inherited_files(d.path(), d / "sub-01/ses-1/func/" + RUN, "events", ".tsv");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].filename(), "task-motor_events.tsv");
    EXPECT_EQ(found[1].filename(), "sub-01_ses-1_task-motor_run-1_events.tsv");
    d.write("sub-01/ses-1/sub-01_task-motor_events.tsv", "");
    d.write("sub-01/ses-1/sub-01_run-1_events.tsv", "");
    EXPECT_THROW(inherited_files(d.path(), d / "sub-01/ses-1/func/" + RUN, "events", ".tsv"), BidsError);
}

TEST(BidsConversions, ContrastsBecomeConditionWords) {
    Identifiers ids;
    ids.add_trial_types({"finger", "foot", "hand", "foot-hand", "finger"});
    const struct {
        const char *text, *condition;  // condition nullptr: refused
        int rows;
    } cases[] = {{"finger-foot", "1-2", 1}, {"finger", "1", 1},          {"finger+foot", "12", 1},
                 {"finger,foot", "1,2", 2}, {"-finger+hand", "3-1", 1},  {"hand,finger-foot+hand", "3,13-2", 2},
                 {"foot-hand", nullptr, 0}, {"finger-nose", nullptr, 0}, {"finger,", nullptr, 0}};
    for (const auto &c : cases) {
        if (!c.condition) {
            EXPECT_THROW(parse_contrast(c.text, ids), BidsError) << c.text;
            continue;
        }
        const Contrast contrast = parse_contrast(c.text, ids);
        EXPECT_EQ(contrast.condition, c.condition) << c.text;
        EXPECT_EQ(contrast.rows, c.rows) << c.text;
    }
    EXPECT_EQ(file_name_of("go/no go,a+b-c"), "go_no_go,a+b-c");
    EXPECT_THROW(check_distinct({parse_contrast("finger", ids), parse_contrast("+finger", ids)}), BidsError);
}

TEST(BidsConversions, EventsBecomeStimuliOnTheFineGrid) {
    const struct {
        double tr;
        float irf_step, grid_step;
    } grids[] = {{2.0, 0.1f, 0.1f}, {0.72, 0.1f, 0.72f / 7}, {2.5, 0.0f, 2.5f}, {0.04, 0.1f, -1}};
    for (const auto &g : grids)
        if (g.grid_step < 0)
            EXPECT_THROW(fine_grid_step(g.tr, g.irf_step), BidsError);
        else
            EXPECT_EQ(static_cast<float>(fine_grid_step(g.tr, g.irf_step)), g.grid_step) << g.tr;
    EXPECT_EQ(GLM_irf_resolution("BOLD-monkey"), 0.1f);
    EXPECT_EQ(GLM_irf_resolution("BOLD-human"), 0.1f);
    EXPECT_EQ(GLM_irf_resolution("no-such-response"), 0.0f);

    // Duration 0 and below one step: one grid sample, the nearest; n/a rows skipped;
    // an event before the first volume cut at 0 or dropped.
    const RunEvents events = convert_events(parse_tsv("onset\tduration\ttrial_type\tmodulation\n"
                                                      "12.34\t0\tcue\t1\n4\t10\tgo\t2\n30\tn/a\tgo\t1\n"
                                                      "-3\t5\tgo\t1\n0.03\t0.05\tcue\t-1\n-9\t1\tcue\t1\n",
                                                      "e.tsv"),
                                            0.1);
    EXPECT_EQ(events.types, (std::vector<std::string>{"cue", "go"}));
    ASSERT_EQ(events.notes.size(), 3u);
    EXPECT_EQ(events.notes[0], "e.tsv: rows with n/a skipped: 1 (line 4)");
    Identifiers ids;
    ids.add_trial_types({"go", "cue"});
    ids.confounds = {"trans_x"};
    EXPECT_EQ(event_file_text(2.0, events, ids, 1),
              "2\n\n1 square\n0 2\n4 14 2\n\n2 square\n0 0.025 -1\n12.275 12.325\n\n3 table 0\n");
    EXPECT_THROW(convert_events(parse_tsv("onset\tduration\ttrial_type\n1\t5\ta\n4\t1\ta\n", "o"), 0.1), BidsError);
    EXPECT_THROW(convert_events(parse_tsv("onset\ttrial_type\n1\ta\n", "o"), 0.1), BidsError);
}

TEST(BidsConversions, ConfoundsFillMissingEntriesWithTheColumnMean) {
    const TsvTable table = parse_tsv("a\tb\tc\r\nn/a\t1\tx\r\n2\t2\tx\r\n4\t3.5\tx\r\n", "c.tsv");
    const ConfoundTable chosen = select_confounds(table, {"b", "a"}, 3);
    EXPECT_EQ(table_file_text(chosen), "b a\n1 3\n2 2\n3.5 4\n");
    EXPECT_EQ(chosen.notes, std::vector<std::string>{"c.tsv: n/a replaced by the column mean in a (1)"});
    EXPECT_THROW(select_confounds(table, {"a"}, 4), BidsError);
    EXPECT_THROW(select_confounds(table, {"c"}, 3), BidsError);
    EXPECT_THROW(select_confounds(table, {"d"}, 3), BidsError);
    EXPECT_THROW(parse_tsv("a\tb\n1\n", "ragged"), BidsError);
}

}  // namespace
