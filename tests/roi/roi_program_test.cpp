// The region-of-interest mode as a user runs it: -o with -T/-S on NIfTI runs.
#include <gtest/gtest.h>
#include <nifti1.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/cli.h"

namespace {

// Two runs of 80 volumes (TR 2 s) of a 3 x 2 x 1 image; voxel 0 follows a
// slow wave, the others are noise around 1000.
void write_data_set(const TempDir &dir) {
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 0.5f);
    for (int r = 1; r <= 2; ++r) {
        nifti_1_header h{};
        h.sizeof_hdr = 348;
        h.dim[0] = 4;
        const short dims[4] = {3, 2, 1, 80};
        for (int i = 0; i < 4; ++i) h.dim[i + 1] = dims[i], h.pixdim[i + 1] = i < 3 ? 3.0f : 2.0f;
        h.datatype = NIFTI_TYPE_FLOAT32;
        h.bitpix = 32;
        h.vox_offset = 352.0f;
        std::memcpy(h.magic, "n+1", 4);
        std::vector<float> samples;
        for (int t = 0; t < 80; ++t)
            for (int v = 0; v < 6; ++v) samples.push_back(1000.0f + (v == 0) * 20.0f * std::sin(t / 8.0f) + noise(random));
        std::ofstream out(dir.file("run" + std::to_string(r) + ".nii"), std::ios::binary);
        out.write(reinterpret_cast<const char *>(&h), sizeof h);
        out.write("\0\0\0\0", 4);
        out.write(reinterpret_cast<const char *>(samples.data()), static_cast<std::streamsize>(samples.size() * 4));
        dir.write("run" + std::to_string(r) + ".glm", "2\n\n1 gamma 10\n20\n70\n110\n\n2\n150 156\n\n3 drug-IRF 0\n40 44\n");
    }
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
    EXPECT_EQ(names, (std::set<std::string>{"active.ovl", "analysis.glm", "overlays.lst", "quiet.ovl", "run1.glm",
                                            "run1.nii", "run2.glm", "run2.nii"}));
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
