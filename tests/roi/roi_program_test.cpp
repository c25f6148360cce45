// The region-of-interest mode as a user runs it: -o with -T/-S on NIfTI runs.
#include <gtest/gtest.h>
#include <nifti1.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "glm/basis.h"
#include "glm/hrf_file.h"
#include "glm/state.h"
#include "support/cli.h"

namespace {

constexpr int kVolumes = 80;  // per run, TR 2 s
constexpr int kVoxels = 6;    // a 3 x 2 x 1 image
const std::vector<float> kOnsets = {20.0f, 70.0f, 110.0f};

void write_nifti(const std::string &path, const std::vector<float> &samples) {
    nifti_1_header h{};
    h.sizeof_hdr = 348;
    h.dim[0] = 4;
    const short dims[4] = {3, 2, 1, kVolumes};
    for (int i = 0; i < 4; ++i) {
        h.dim[i + 1] = dims[i];
        h.pixdim[i + 1] = i < 3 ? 3.0f : 2.0f;
    }
    h.datatype = NIFTI_TYPE_FLOAT32;
    h.bitpix = 32;
    h.vox_offset = 352.0f;
    std::memcpy(h.magic, "n+1", 4);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(&h), sizeof h);
    out.write("\0\0\0\0", 4);
    out.write(reinterpret_cast<const char *>(samples.data()), static_cast<std::streamsize>(samples.size() * 4));
}

// The gamma regressor (time constant 8 s, BOLD-monkey IRF) of the onsets in
// both runs, made by the program's own design code.
std::vector<float> gamma_regressor() {
    GLM_reset_model_state();
    GLM_input.nbaseline_terms = 1;
    testing::internal::CaptureStdout();
    GLM_read_hrf_file(0, "BOLD-monkey");
    testing::internal::GetCapturedStdout();
    for (int r = 0; r < 2; ++r) {
        GLM.tr[r] = 2.0f;
        GLM.run_start[r] = r * kVolumes;
        GLM.run_stop[r] = r * kVolumes + kVolumes - 1;
    }
    GLM.nruns = GLM_input.nruns = 2;
    GLM.ntime = 2 * kVolumes;
    GLM.nevents = 1;
    GLM.event_number[0] = 1;
    GLM.event_shape[0] = SHAPE_GAMMA;
    GLM.time_constant[0] = 8.0f;
    for (int r = 0; r < 2; ++r)
        for (float on : kOnsets) {
            const int s = GLM.nstims[0]++;
            GLM.stim_on[0][s] = r * kVolumes * 2.0f + on;
            GLM.stim_off[0][s] = (r * kVolumes + kVolumes - 1) * 2.0f;
            GLM.stim_magnitude[0][s] = 1.0f;
        }
    EXPECT_EQ(GLM_define_basis_functions(), 0);
    std::vector<float> column(GLM.ntime);
    for (int t = 0; t < GLM.ntime; ++t) column[t] = GLM.design_unmasked[t][0];
    return column;
}

// Two runs; voxels 0 and 1 respond with amplitudes 30 and 20, the rest is noise.
struct DataSet {
    TempDir dir;
    DataSet() {
        const std::vector<float> regressor = gamma_regressor();
        std::mt19937 random(3);
        std::normal_distribution<float> noise(0.0f, 0.5f);
        for (int r = 0; r < 2; ++r) {
            std::vector<float> samples(kVoxels * kVolumes);
            for (int t = 0; t < kVolumes; ++t)
                for (int v = 0; v < kVoxels; ++v) {
                    const float amplitude = v == 0 ? 30.0f : v == 1 ? 20.0f : 0.0f;
                    samples[t * kVoxels + v] = 1000.0f + amplitude * regressor[r * kVolumes + t] + noise(random);
                }
            write_nifti(dir.file("run" + std::to_string(r + 1) + ".nii"), samples);
            std::string events = "2\n\n1 gamma 10\n";
            for (float on : kOnsets) events += std::to_string(on) + "\n";
            events += "\n2\n150 156\n";
            dir.write("run" + std::to_string(r + 1) + ".glm", events);
        }
        dir.write("analysis.glm", "IRF BOLD-monkey\nconditions 1\nruns:\nrun1.nii run1.glm\nrun2.nii run2.glm\n");
        dir.write("active.ovl", "0 0 0\n1 0 0 0.5\n");
        dir.write("quiet.ovl", "2 1 0\n");
        dir.write("overlays.lst", "# name file\nactive active.ovl\n\nquiet quiet.ovl\n");
    }
    ProgramResult run(const std::string &options) const { return run_fmriglm("analysis.glm " + options, dir.path()); }
};

TEST(RoiProgram, TimeConstantSearchReportsTheBestValueAndWritesNoMaps) {
    DataSet data;
    const ProgramResult result = data.run("-o overlays.lst -T 1");
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("\nRead ROIs from file(s) ...\n\n\r 0 percent done\r 0 percent done\r 1 percent done"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("\r 99 percent done\n\n"), std::string::npos);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(result.output, m,
                                  std::regex("\nmin chi2 / DOF = \\S+\nbest tau for event 1 = (\\S+)\n$")))
        << result.output;
    EXPECT_LE(std::fabs(std::stof(m[1]) - 8.0f), 0.78f) << m[1];
    // Only the input files: no maps, no .display.
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(data.dir.path()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"active.ovl", "analysis.glm", "overlays.lst", "quiet.ovl", "run1.glm",
                                            "run1.nii", "run2.glm", "run2.nii"}));
}

TEST(RoiProgram, SearchesThatCannotRunEndWithStatusOne) {
    DataSet data;
    struct Case {
        const char *options, *message;
    } cases[] = {
        {"-o overlays.lst -T 5", "Error: event 5 is not defined in the GLM.\n"},
        {"-o overlays.lst -S 2",
         "Error: only vary parameters (starting time, tau) for drug shapes\n"
         "       including gamma, sigmoid, and drug-IRF shapes.\n"},
        {"-o overlays.lst -T 1 -S 1 -T 1 -S 1 -T 1",
         "Error: I can only vary up to 4 parameters simultaneously (not 5)\n"},
        {"-o overlays.lst", "Error: an overlay list is referenced, but no parameters are varied.\n"},
        {"-o missing.lst -T 1", "Error: cannot open the file missing.lst.\n"},
        {"-o overlays.lst -T 12", "Error: event ID 12 should be only 1 character long (1-9, a-z, A-Z)\n"},
    };
    for (const Case &c : cases) {
        const ProgramResult result = data.run(c.options);
        EXPECT_EQ(result.status, 1) << c.options << "\n" << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << c.options << "\n" << result.output;
        EXPECT_EQ(result.output.find("best"), std::string::npos) << c.options;
    }
}

}  // namespace
