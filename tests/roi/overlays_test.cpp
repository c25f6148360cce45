#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "roi/overlays.h"
#include "support/cli.h"
#include "volume/volume_header.h"

namespace {

void set_image(int nx, int ny, int nz) {
    release_overlays();
    file_list_root = RunEntry{};
    file_list_root.nx = nx;
    file_list_root.ny = ny;
    file_list_root.nz = nz;
}

// Reads one overlay file into a fresh overlay; returns the result and the printed text.
int read_file_text(const TempDir &dir, const std::string &text, Overlay **out, std::string *printed) {
    const std::string path = dir.write("roi.ovl", text);
    Overlay *overlay = new_overlay("roi");
    testing::internal::CaptureStdout();
    const int result = read_overlay_file(path.c_str(), overlay);
    std::fflush(stdout);
    *printed = testing::internal::GetCapturedStdout();
    *out = overlay;
    return result;
}

const char *const kSyntaxError =
    "Error: The syntax in an overlay file can be one of the following:\n"
    "1)  x y z         (voxel indices), OR\n"
    "2)  x y z weight  (for variable weight in range 0:1)\n";
const char *const kWeightError = "Error: use weight values <= 1. in overlays.\n";

TEST(OverlayFile, WeightsAreNormalisedToTheirSum) {
    TempDir dir;
    set_image(8, 8, 8);
    Overlay *o;
    std::string printed;
    ASSERT_EQ(read_file_text(dir, "1 2 3\n4 5 6 0.5\n", &o, &printed), 0);
    EXPECT_EQ(printed, "");
    ASSERT_EQ(o->nvoxels, 2);
    EXPECT_FLOAT_EQ(o->weights[0], 1.0f / 1.5f);
    EXPECT_FLOAT_EQ(o->weights[1], 0.5f / 1.5f);
    EXPECT_EQ(o->coordinates[1].x, 4);
    EXPECT_EQ(o->coordinates[1].y, 5);
    EXPECT_EQ(o->coordinates[1].z, 6);

    // All-zero weights stay zero; a repeated voxel counts once per line;
    // comments after the numbers are ignored.
    ASSERT_EQ(read_file_text(dir, "0 0 0 0\n7 7 7 0.0 # edge\n", &o, &printed), 0);
    EXPECT_EQ(o->weights[0], 0.0f);
    EXPECT_EQ(o->weights[1], 0.0f);
    ASSERT_EQ(read_file_text(dir, "2 2 2 0.25\n2 2 2 0.25\n3 3 3 0.5\n", &o, &printed), 0);
    EXPECT_FLOAT_EQ(o->weights[0] + o->weights[1], 0.5f);
    EXPECT_FLOAT_EQ(o->weights[2], 0.5f);
}

TEST(OverlayFile, WeightBoundsAndSyntax) {
    TempDir dir;
    set_image(4, 4, 4);
    Overlay *o;
    std::string printed;
    EXPECT_EQ(read_file_text(dir, "0 0 0 0\n1 1 1 1\n", &o, &printed), 0);
    EXPECT_FLOAT_EQ(o->weights[1], 1.0f);
    for (const char *bad : {"1 1 1 1.0001\n", "1 1 1 -0.1\n", "1 1 1 nan\n"}) {
        EXPECT_EQ(read_file_text(dir, bad, &o, &printed), 1) << bad;
        EXPECT_EQ(printed, kWeightError) << bad;
    }
    // Blank and comment-only lines are syntax errors in an overlay file.
    for (const char *bad : {"1 1 1\n\n2 2 2\n", "# note\n1 1 1\n", "1 1\n"}) {
        EXPECT_EQ(read_file_text(dir, bad, &o, &printed), 1) << bad;
        EXPECT_EQ(printed, kSyntaxError) << bad;
    }
    for (const char *outside : {"4 0 0\n", "0 -1 0\n", "0 0 4 0.5\n"}) {
        EXPECT_EQ(read_file_text(dir, outside, &o, &printed), 1) << outside;
        EXPECT_EQ(printed, "Error: the overlay in file .ovl does not agree with the image dimensions.\n");
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_overlay_file(dir.file("none.ovl").c_str(), o), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error opening file " + dir.file("none.ovl") + "\n");
}

TEST(OverlayFile, MoreVoxelLinesThanTheImageHasVoxelsAreRefused) {
    TempDir dir;
    set_image(2, 1, 1);
    Overlay *o;
    std::string printed;
    EXPECT_EQ(read_file_text(dir, "0 0 0\n1 0 0\n", &o, &printed), 0);
    EXPECT_EQ(read_file_text(dir, "0 0 0\n1 0 0\n0 0 0\n", &o, &printed), 1);
    EXPECT_EQ(o->nvoxels, 2);
    EXPECT_EQ(printed, "Error: the overlay file " + dir.file("roi.ovl") +
                           " has more voxel lines than the image has voxels (2).\n");
}

TEST(OverlayList, LinesNameOverlaysAndTheirFiles) {
    TempDir dir;
    set_image(4, 4, 4);
    dir.write("a.ovl", "1 1 1\n");
    dir.write("b.ovl", "2 2 2 0.5\n3 3 3 0.5\n");
    const std::string list = dir.write("list", "\n# regions\nleft " + dir.file("a.ovl") + " extra words\n  \t\n" +
                                                   "  right\t" + dir.file("b.ovl") + "  # indented\n");
    testing::internal::CaptureStdout();
    ASSERT_EQ(read_overlay_list(list.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_NE(ovl_root.next, nullptr);
    EXPECT_STREQ(ovl_root.next->name, "left");
    EXPECT_EQ(ovl_root.next->nvoxels, 1);
    ASSERT_NE(ovl_root.next->next, nullptr);
    EXPECT_STREQ(ovl_root.next->next->name, "right");
    EXPECT_EQ(ovl_root.next->next->nvoxels, 2);
    EXPECT_EQ(ovl_root.next->next->next, nullptr);
}

TEST(OverlayList, FailuresNameTheirCause) {
    TempDir dir;
    set_image(4, 4, 4);
    dir.write("a.ovl", "1 1 1\n");
    auto run = [&](const std::string &text) {
        release_overlays();
        const std::string list = dir.write("list", text);
        testing::internal::CaptureStdout();
        const int result = read_overlay_list(list.c_str());
        std::fflush(stdout);
        return std::make_pair(result, testing::internal::GetCapturedStdout());
    };
    EXPECT_EQ(run("one " + dir.file("a.ovl") + "\n\nlonely\n"),
              std::make_pair(1, std::string("Error reading the file name for overlay 2.\n")));
    EXPECT_EQ(run("one " + dir.file("missing.ovl") + "\n"),
              std::make_pair(1, "Error opening file " + dir.file("missing.ovl") + "\n"));
    EXPECT_EQ(run("\n# nothing\n"),
              std::make_pair(1, "Error: the overlay list " + dir.file("list") + " names no overlays.\n"));
    EXPECT_EQ(run("one " + dir.file("a.ovl") + " " + std::string(1100, 'x') + "\n"),
              std::make_pair(1, "Error: line 1 of file " + dir.file("list") + " is longer than 1023 characters.\n"));

    testing::internal::CaptureStdout();
    EXPECT_EQ(read_overlay_list(dir.file("nolist").c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: cannot open the file " + dir.file("nolist") + ".\n");
}

// Two runs of 3 and 2 volumes of a 2x2x2 image, stored as native floats.
// Sample value of voxel v at global time t: 100 t + v.
struct RawRuns {
    TempDir dir;
    RunEntry second{};
    RawRuns() {
        set_image(2, 2, 2);
        RunEntry *runs[2] = {&file_list_root, &second};
        const int lengths[2] = {3, 2};
        int t0 = 0;
        for (int r = 0; r < 2; ++r) {
            RunEntry *run = runs[r];
            run->nx = run->ny = run->nz = 2;
            run->nt = lengths[r];
            run->byte_order = machine_byte_order();
            run->storage_type = STORAGE_FLOAT;
            run->file_type = FILE_BFLOAT;
            run->data_offset = 16;
            run->multiplier = 3.0f;  // not applied to the regions' series
            std::vector<float> data(4 + 8 * lengths[r]);
            for (int t = 0; t < lengths[r]; ++t)
                for (int v = 0; v < 8; ++v) data[4 + t * 8 + v] = 100.0f * (t0 + t) + v;
            t0 += lengths[r];
            const std::string path = dir.file("run" + std::to_string(r) + ".bfloat");
            std::FILE *f = std::fopen(path.c_str(), "wb");
            std::fwrite(data.data(), sizeof(float), data.size(), f);
            std::fclose(f);
            std::snprintf(run->fmri_file, NAME_SIZE, "%s", path.c_str());
            run->stream = std::fopen(path.c_str(), "rb");
        }
        file_list_root.next = &second;
    }
    ~RawRuns() {
        std::fclose(file_list_root.stream);
        std::fclose(second.stream);
        file_list_root.next = nullptr;
    }
};

TEST(ReadROIs, WeightedMeanSeriesOverAllRunsWithProgress) {
    RawRuns runs;
    runs.dir.write("a.ovl", "1 0 0\n0 1 1 0.5\n");  // voxels 1 and 6, weights 2/3 and 1/3
    runs.dir.write("z.ovl", "1 1 1 0\n");
    const std::string list =
        runs.dir.write("list", "a " + runs.dir.file("a.ovl") + "\nz " + runs.dir.file("z.ovl") + "\n");
    ASSERT_EQ(read_overlay_list(list.c_str()), 0);
    testing::internal::CaptureStdout();
    ASSERT_EQ(read_ROIs(), 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nRead ROIs from file(s) ...\n\n"
              "\r 0 percent done\r 20 percent done\r 40 percent done\r 60 percent done\r 80 percent done\n\n");
    const Overlay *a = ovl_root.next, *z = a->next;
    ASSERT_EQ(a->ntimepoints, 5);
    ASSERT_EQ(z->ntimepoints, 5);
    for (int t = 0; t < 5; ++t) {
        EXPECT_NEAR(a->time_series[t], 100.0 * t + (2.0 / 3.0) * 1 + (1.0 / 3.0) * 6, 1e-3) << t;
        EXPECT_EQ(z->time_series[t], 0.0f) << t;
    }
}

}  // namespace
