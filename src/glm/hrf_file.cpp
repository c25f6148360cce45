#include "glm/hrf_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "glm/description_text.h"
#include "glm/state.h"
#include "numerics/arrays.h"
#include "numerics/temp_files.h"
#include "numerics/text_lines.h"

namespace {

struct BuiltinIRF {
    const char *name;
    float length, resolution;
    float tau[3];
    float amplitude1, amplitude2;
};

// Sums of three exponentials for monkey and rat BOLD and iron-oxide (IRON)
// responses; the minutes variant is the monkey IRON model with every time in minutes.
constexpr BuiltinIRF BUILTIN_IRFS[] = {
    {"BOLD-monkey", 120.0f, 0.1f, {1.5f, 4.5f, 13.5f}, 0.7f, -0.3f},
    {"IRON-monkey", 120.0f, 0.1f, {1.5f, 4.5f, 13.5f}, 0.4f, 0.8f},
    {"IRON-monkey-minutes", 2.0f, 0.0016666667f, {0.025f, 0.075f, 0.225f}, 0.4f, 0.8f},
    {"BOLD-rat", 120.0f, 0.1f, {0.5f, 2.5f, 13.5f}, 0.7f, -0.3f},
    {"IRON-rat", 120.0f, 0.1f, {0.5f, 2.5f, 13.5f}, 0.2f, 0.8f},
};

// The canonical human response: the difference of two gamma densities (shape
// k, scale 1 s), g(t; 6) - g(t; 16) / 6, 32 s long at 0.1 s. Like the sums of
// exponentials its samples are the density times the resolution.
constexpr const char *DOUBLE_GAMMA_NAME = "BOLD-human";
constexpr float DOUBLE_GAMMA_LENGTH = 32.0f, DOUBLE_GAMMA_RESOLUTION = 0.1f;
constexpr double GAMMA_SHAPE[2] = {6.0, 16.0}, GAMMA_AMPLITUDE[2] = {1.0, -1.0 / 6.0};

// Far more samples than any response needs: 10000 s at 0.1 s.
constexpr int MAX_IRF_SAMPLES = 100000;

// Reads the three lines of an IRF file into HRF; 0 or 1.
int read_irf_lines(const char *name) {
    if (!is_regular_file(name, "IRF file")) return 1;
    std::FILE *file = std::fopen(name, "r");
    if (!file) {
        std::printf("Error attempting to open the IRF file %s.\n", name);
        return 1;
    }
    static const char *const ORDINAL[3] = {"1st", "2nd", "3rd"};
    char line[LINE_BUFFER_SIZE];
    float values[3][3];
    const int wanted[3] = {3, 2, 2};
    for (int l = 0; l < 3; ++l) {
        const LineStatus status = read_text_line(file, line);
        if (status == LineStatus::end_of_file) {
            std::fclose(file);
            return 1;
        }
        if (status == LineStatus::too_long) {
            report_long_line(l + 1, name);
            std::fclose(file);
            return 1;
        }
        TextScanner scan(line);
        for (int k = 0; k < wanted[l]; ++k) {
            if (!scan.number(&values[l][k])) {
                std::printf("Error reading the %s line of the IRF file %s.\n", ORDINAL[l], name);
                std::fclose(file);
                return 1;
            }
            if (!std::isfinite(values[l][k])) {
                report_not_finite(l + 1, name);
                std::fclose(file);
                return 1;
            }
        }
    }
    std::fclose(file);
    HRF.length = values[0][0];
    HRF.resolution = values[0][1];
    HRF.exp_tau[0] = values[0][2];
    HRF.exp_tau[1] = values[1][0];
    HRF.exp_tau[2] = values[1][1];
    HRF.exp_amplitude[1] = values[2][0];
    HRF.exp_amplitude[2] = values[2][1];
    // A non-positive (or non-numeric) length or step gives no sampling grid.
    if (!(HRF.length > 0.0f) || !(HRF.resolution > 0.0f)) {
        std::printf("Error: the IRF file %s needs a positive length and resolution.\n", name);
        return 1;
    }
    const double samples = static_cast<double>(HRF.length / HRF.resolution) + 0.5;
    if (!(samples < MAX_IRF_SAMPLES + 1)) {
        std::printf("Error: the IRF file %s asks for %.0f samples (length / resolution); at most %d are allowed.\n",
                    name, std::floor(samples), MAX_IRF_SAMPLES);
        return 1;
    }
    return 0;
}

int write_hrf_dat() {
    std::FILE *out = create_output("HRF.dat");
    if (!out) {
        std::printf("Error attempting to open the hemodyamic response file (output) HRF.dat\n");
        return 1;
    }
    std::fprintf(out, "x y\n");
    for (int i = 0; i < HRF.npoints; ++i)
        std::fprintf(out, "%g %g\n", static_cast<double>(static_cast<float>(i) * HRF.resolution),
                     static_cast<double>(HRF.irf[i]));
    if (!close_output(out)) {
        std::printf("Error writing the hemodynamic response file HRF.dat.\n");
        return 1;
    }
    return 0;
}

}  // namespace

int GLM_read_hrf_file(int report, const char *name) {
    if (std::strlen(name) >= static_cast<std::size_t>(NAME_SIZE)) {
        std::printf("Error: the IRF name %.40s... is longer than %d characters.\n", name, NAME_SIZE - 1);
        return 1;
    }
    std::strcpy(HRF.name, name);
    if (name[0] == '\0') {
        HRF.active = 0;
        return 0;
    }

    free_float_vector(HRF.exp_tau);
    free_float_vector(HRF.exp_amplitude);
    free_float_vector(HRF.irf);
    HRF.irf = nullptr;
    HRF.npoints = 0;
    HRF.exp_tau = float_vector(3);
    HRF.exp_amplitude = float_vector(3);
    HRF.type = 0;
    HRF.active = 1;
    HRF.nexp = 3;

    const bool double_gamma = std::strcmp(name, DOUBLE_GAMMA_NAME) == 0;
    const BuiltinIRF *builtin = nullptr;
    for (const BuiltinIRF &model : BUILTIN_IRFS)
        if (std::strcmp(name, model.name) == 0) {
            builtin = &model;
            break;
        }
    if (double_gamma) {
        HRF.type = 1;
        HRF.length = DOUBLE_GAMMA_LENGTH;
        HRF.resolution = DOUBLE_GAMMA_RESOLUTION;
        for (int k = 0; k < 3; ++k) HRF.exp_tau[k] = HRF.exp_amplitude[k] = 0.0f;
    } else if (builtin) {
        HRF.length = builtin->length;
        HRF.resolution = builtin->resolution;
        for (int k = 0; k < 3; ++k) HRF.exp_tau[k] = builtin->tau[k];
        HRF.exp_amplitude[1] = builtin->amplitude1;
        HRF.exp_amplitude[2] = builtin->amplitude2;
    } else if (read_irf_lines(name)) {
        return 1;
    }

    float *tau = HRF.exp_tau;
    float *amplitude = HRF.exp_amplitude;
    // The first amplitude makes the response start at zero.
    if (double_gamma)
        amplitude[0] = 0.0f;
    else if (tau[0] != 0.0f && tau[1] != 0.0f && tau[2] != 0.0f)
        amplitude[0] = -tau[0] * (amplitude[1] / tau[1] + amplitude[2] / tau[2]);
    else
        amplitude[0] = 0.0f;

    HRF.npoints = static_cast<int>(HRF.length / HRF.resolution + 0.5);
    HRF.irf = float_vector(HRF.npoints);
    for (int i = 0; i < HRF.npoints; ++i) {
        const float t = static_cast<float>(i) * HRF.resolution;
        double sum = 0.0;
        for (int k = 0; double_gamma && k < 2 && t > 0.0f; ++k)
            sum += HRF.resolution * GAMMA_AMPLITUDE[k] *
                   std::exp((GAMMA_SHAPE[k] - 1.0) * std::log(static_cast<double>(t)) - t -
                            std::lgamma(GAMMA_SHAPE[k]));
        for (int k = 0; !double_gamma && k < 3; ++k) {
            if (tau[k] == 0.0f) continue;
            sum += static_cast<double>(HRF.resolution * amplitude[k] / tau[k]) * std::exp(-static_cast<double>(t / tau[k]));
        }
        HRF.irf[i] = static_cast<float>(sum);
    }

    if (report) {
        std::printf("\nHRF type   = %s\n", double_gamma ? "double-gamma" : "exponential");
        std::printf("IRF length = %g seconds, resolution = %g seconds\n", static_cast<double>(HRF.length),
                    static_cast<double>(HRF.resolution));
        for (int k = 0; double_gamma && k < 2; ++k)
            std::printf("Amplitude of gamma density of shape %g (scale 1 second) = %g\n", GAMMA_SHAPE[k],
                        GAMMA_AMPLITUDE[k]);
        for (int k = 0; !double_gamma && k < 3; ++k)
            std::printf("Amplitude of exponential of %g seconds = %g\n", static_cast<double>(tau[k]),
                        static_cast<double>(amplitude[k]));
        std::printf("\n");
        if (write_hrf_dat()) return 1;
    } else {
        std::printf("using HRF (hemodynamic response function)\n");
    }
    return 0;
}

float GLM_irf_resolution(const char *name) {
    if (std::strcmp(name, DOUBLE_GAMMA_NAME) == 0) return DOUBLE_GAMMA_RESOLUTION;
    for (const BuiltinIRF &model : BUILTIN_IRFS)
        if (std::strcmp(name, model.name) == 0) return model.resolution;
    std::FILE *file = std::fopen(name, "r");
    if (!file) return 0.0f;
    char line[LINE_BUFFER_SIZE];
    float length = 0.0f, resolution = 0.0f;
    const bool read = read_text_line(file, line) == LineStatus::ok;
    std::fclose(file);
    TextScanner scan(line);
    return read && scan.number(&length) && scan.number(&resolution) && resolution > 0.0f ? resolution : 0.0f;
}
