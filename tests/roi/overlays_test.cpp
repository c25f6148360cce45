#include <gtest/gtest.h>

#include <cstdint>
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
    file_list_root.nx = nx, file_list_root.ny = ny, file_list_root.nz = nz;
}

template <typename Read>
std::string printed_by(Read read, int expected_result) {
    return stdout_of([&] { EXPECT_EQ(read(), expected_result); });
}

TEST(Overlays, OverlayFileWeightsAndRefusedLines) {
    TempDir dir;
    set_image(2, 3, 4);
    auto read = [&](const std::string &text, int expected) {
        const std::string path = dir.write("r.ovl", text);
        Overlay *o = new_overlay("r");
        return std::make_pair(o, printed_by([&] { return read_overlay_file(path.c_str(), o); }, expected));
    };
    const Overlay *o = read("1 2 3\n0 1 2 0.5 # comment\n", 0).first;
    EXPECT_FLOAT_EQ(o->weights[0], 1.0f / 1.5f);
    EXPECT_FLOAT_EQ(o->weights[1], 0.5f / 1.5f);
    EXPECT_EQ(read("0 0 0 0\n1 2 3 1\n", 0).first->weights[1], 1.0f);  // both bounds are accepted
    EXPECT_EQ(read("0 0 0 0\n", 0).first->weights[0], 0.0f);              // zero weights stay zero

    const std::string syntax = "Error: The syntax in an overlay file can be one of the following:\n"
                               "1)  x y z         (voxel indices), OR\n"
                               "2)  x y z weight  (for variable weight in range 0:1)\n";
    for (const char *text : {"1 1 1\n\n", "# note\n", "1 1\n"}) EXPECT_EQ(read(text, 1).second, syntax) << text;
    for (const char *text : {"1 1 1 1.0001\n", "1 1 1 -0.1\n", "1 1 1 nan\n"})
        EXPECT_EQ(read(text, 1).second, "Error: use weight values <= 1. in overlays.\n") << text;
    for (const char *text : {"0 3 0\n", "4294967296 0 0\n"})
        EXPECT_EQ(read(text, 1).second, "Error: the overlay in file .ovl does not agree with the image dimensions.\n"
                                        "Error reading line 1 of file '" + dir.file("r.ovl") + "'\n") << text;
    EXPECT_EQ(read("", 1).second, "Error: the overlay file " + dir.file("r.ovl") + " lists no voxels.\n");
    std::string lines;
    for (int k = 0; k <= 24; ++k) lines += "1 1 1\n";  // one more than the 24 voxels
    EXPECT_EQ(read(lines, 1).second,
              "Error: the overlay file " + dir.file("r.ovl") + " has more voxel lines than the image has voxels (24).\n");
}

TEST(Overlays, MeanSeriesOverTheRunsWithProgress) {
    // Two runs of 3 and 2 volumes of a 2x2x2 image; voxel v at time t holds 100 t + v, stored as
    // 16-bit integers 4 (value - 400) with the NIfTI scaling that undoes it.
    TempDir dir;
    set_image(2, 2, 2);
    RunEntry second{};
    RunEntry *runs[2] = {&file_list_root, &second};
    for (int r = 0, t0 = 0; r < 2; ++r) {
        *runs[r] = RunEntry{};
        runs[r]->nx = runs[r]->ny = runs[r]->nz = 2;
        runs[r]->nt = 3 - r, runs[r]->byte_order = machine_byte_order(), runs[r]->storage_type = STORAGE_SHORT;
        runs[r]->scale_slope = 0.25f, runs[r]->scale_inter = 400.0f;
        runs[r]->multiplier = 3.0f;  // not applied to region series
        std::vector<std::int16_t> data;
        for (int t = 0; t < runs[r]->nt; ++t, ++t0)
            for (int v = 0; v < 8; ++v) data.push_back(static_cast<std::int16_t>(4 * (100 * t0 + v - 400)));
        const std::string bytes(reinterpret_cast<char *>(data.data()), data.size() * 2);
        runs[r]->stream = std::fopen(dir.write("run" + std::to_string(r), bytes).c_str(), "rb");
    }
    file_list_root.next = &second;
    // Blank lines, comments, words after the file name and blanks before the name are allowed.
    const std::string a = dir.write("a.ovl", "1 0 0\n0 1 1 0.5\n"), z = dir.write("z.ovl", "1 1 1 0\n");
    const std::string list = dir.write("l", "\n# regions\na " + a + " more\n \t\n  z\t" + z + "\n");
    ASSERT_EQ(read_overlay_list(list.c_str()), 0);
    ASSERT_STREQ(ovl_root.next->next->name, "z");
    EXPECT_EQ(printed_by(read_ROIs, 0),
              "\nRead ROIs from file(s) ...\n\n"
              "\r 0 percent done\r 20 percent done\r 40 percent done\r 60 percent done\r 80 percent done\n\n");
    ASSERT_EQ(ovl_root.next->ntimepoints, 5);
    for (int t = 0; t < 5; ++t) {
        EXPECT_NEAR(ovl_root.next->time_series[t], 100 * t + 1 * 2 / 3.0 + 6 / 3.0, 1e-3);
        EXPECT_EQ(ovl_root.next->next->time_series[t], 0.0f);  // zero weights
    }
    const std::string bad = dir.write("m", "a " + a + "\nlonely\n");
    EXPECT_EQ(printed_by([&] { return read_overlay_list(bad.c_str()); }, 1),
              "Error reading the file name for overlay 2.\n");
    for (RunEntry *run : runs) std::fclose(run->stream);
    file_list_root.next = nullptr;
}

}  // namespace
