// Impulse responses: the built-in models, IRF files and the HRF.dat report.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "glm/description_fixture.h"
#include "glm/hrf_file.h"
#include "test_model.h"

namespace {

class HrfFile : public DescriptionFiles {
protected:
    std::string load(const std::string &name, int report, int *result) {
        return printed([&] { return GLM_read_hrf_file(report, name.c_str()); }, result);
    }
};

TEST_F(HrfFile, BuiltinModelsStartAtZeroAndIntegrateToTheirAmplitudes) {
    struct Model { const char *name; float amplitude0; };
    const Model models[] = {{"BOLD-monkey", -0.2f}, {"IRON-monkey", -0.2222f}, {"IRON-monkey-minutes", -0.2222f},
                            {"BOLD-rat", -0.12889f}, {"IRON-rat", -0.06963f}};
    for (const Model &m : models) {
        int result = 1;
        EXPECT_EQ(load(m.name, 0, &result), "using HRF (hemodynamic response function)\n");
        ASSERT_EQ(result, 0);
        EXPECT_EQ(HRF.active, 1);
        EXPECT_EQ(HRF.npoints, 1200) << m.name;
        EXPECT_NEAR(HRF.exp_amplitude[0], m.amplitude0, 1e-4) << m.name;
        EXPECT_NEAR(HRF.irf[0], 0.0f, 1e-6) << m.name;
        // Each sampled exponential sums to about its amplitude, so the whole
        // response sums to the sum of the three amplitudes.
        double sum = 0.0;
        for (int i = 0; i < HRF.npoints; ++i) sum += HRF.irf[i];
        const double amplitudes = HRF.exp_amplitude[0] + HRF.exp_amplitude[1] + HRF.exp_amplitude[2];
        EXPECT_NEAR(sum, amplitudes, 0.012) << m.name;
    }
    EXPECT_STREQ(HRF.name, "IRON-rat");
}

// The report of the model and HRF.dat; BOLD-human is the canonical double gamma (scipy).
TEST_F(HrfFile, ReportsHrfDatAndTheCanonicalDoubleGamma) {
    int result = 1;
    EXPECT_EQ(load("BOLD-monkey", 1, &result),
              "\nHRF type   = exponential\nIRF length = 120 seconds, resolution = 0.1 seconds\n"
              "Amplitude of exponential of 1.5 seconds = -0.2\nAmplitude of exponential of 4.5 seconds = 0.7\n"
              "Amplitude of exponential of 13.5 seconds = -0.3\n\n");
    ASSERT_EQ(result, 0);
    const std::string dat = read_file("HRF.dat");
    EXPECT_EQ(std::count(dat.begin(), dat.end(), '\n'), 1201);
    EXPECT_EQ(dat.rfind("x y\n0 ", 0), 0u);
    EXPECT_NE(dat.find("\n0.1 "), std::string::npos);
    EXPECT_EQ(load("BOLD-human", 1, &result),
              "\nHRF type   = double-gamma\nIRF length = 32 seconds, resolution = 0.1 seconds\n"
              "Amplitude of gamma density of shape 6 (scale 1 second) = 1\n"
              "Amplitude of gamma density of shape 16 (scale 1 second) = -0.166667\n\n");
    ASSERT_EQ(result * 1000 + HRF.npoints, 320);
    const int at[] = {0, 13, 50, 51, 150, 319};
    const std::vector<double> want = python_values("from scipy.stats import gamma as g\nfor i in (0, 13, 50, 51, 150, "
                                                   "319): print(0.1 * (g.pdf(i / 10, 6) - g.pdf(i / 10, 16) / 6))\n");
    ASSERT_EQ(want.size(), 6u);
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(HRF.irf[at[k]], want[k], 1e-6 * std::fabs(want[k]) + 1e-12) << at[k];
}

TEST_F(HrfFile, IrfFilesAndTheirErrors) {
    int result = 1;
    // Comments are ignored; a zero third time constant drops the first amplitude.
    write("two.irf", "30 0.5 2   # length, resolution, tau0\n6 0\n0.5 0.25\n");
    EXPECT_EQ(load("two.irf", 0, &result), "using HRF (hemodynamic response function)\n");
    ASSERT_EQ(result, 0);
    EXPECT_EQ(HRF.npoints, 60);
    EXPECT_EQ(HRF.exp_amplitude[0] + HRF.exp_amplitude[2], 0.25f);
    EXPECT_NEAR(HRF.irf[2], 0.5 * 0.5 / 6 * std::exp(-1.0 / 6), 1e-7);

    EXPECT_EQ(load("", 0, &result), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(HRF.active, 0);

    const std::string cases[][2] = {
        {"30 0.5\n", "Error reading the 1st line of the IRF file bad.irf.\n"},
        {"30 0.5 2\n6\n0.5 0.25\n", "Error reading the 2nd line of the IRF file bad.irf.\n"},
        {"30 0.5 2\n6 3\n\n", "Error reading the 3rd line of the IRF file bad.irf.\n"},
        {"30 0.5 2\n6 3\n", ""},
        {"30 0 2\n6 3\n1 1\n", "Error: the IRF file bad.irf needs a positive length and resolution.\n"},
        {"30 0.5 2\n" + std::string(1100, '6') + "\n", "Error: line 2 of the file bad.irf is longer than 1023 characters.\n"},
        {"30 0.5 2\n6 inf\n1 1\n", "Error: line 2 of the file bad.irf holds a value that is not a finite number.\n"},
        {"1e4 0.0999 2\n6 3\n1 1\n", "Error: the IRF file bad.irf asks for 100100 samples (length / resolution); at "
                                     "most 100000 are allowed.\n"},
    };
    for (const auto &c : cases) {
        write("bad.irf", c[0]);
        EXPECT_EQ(load("bad.irf", 0, &result), c[1]) << c[0];
        EXPECT_EQ(result, 1) << c[0];
    }
    EXPECT_EQ(load(".", 0, &result), "Error: the IRF file . is a directory, not a file.\n");
    EXPECT_EQ(load("bold-monkey", 0, &result), "Error attempting to open the IRF file bold-monkey.\n");
    EXPECT_EQ(result, 1);
}

}  // namespace
