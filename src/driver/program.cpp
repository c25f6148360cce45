#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/ar_maps.h"
#include "driver/brain_mask.h"
#include "driver/globals.h"
#include "driver/options.h"
#include "driver/output.h"
#include "driver/runs.h"
#include "driver/voxel_loop.h"
#include "glm/basis.h"
#include "glm/conditions.h"
#include "glm/control_file.h"
#include "glm/reports.h"
#include "glm/state.h"
#include "help/help_menu.h"
#include "numerics/temp_files.h"
#include "numerics/text_lines.h"
#include "numerics/warnings.h"
#include "report/html_report.h"
#include "roi/overlays.h"
#include "roi/roi_analysis.h"

namespace {

constexpr int kMaxThreads = 1024;
constexpr const char *OPTION_STRING = "hHpsvd:rR:i:o:T:S:j:";

[[noreturn]] void exit_invalid_word(const char *word) {
    std::printf("Option -%s not valid.\n", word);
    std::printf("Program exiting.\n");
    std::exit(1);
}

[[noreturn]] void exit_option_error(const char *line_format, char option) {
    std::printf(line_format, option);
    std::printf("Program exiting.\n");
    std::exit(1);
}

// Copies a name given on the command line, refusing one that does not fit.
void take_name(char *target, const char *word) {
    if (std::strlen(word) >= NAME_SIZE) {
        std::printf("Error: the file name %.40s... is longer than %d characters.\n", word, NAME_SIZE - 1);
        std::exit(1);
    }
    std::strcpy(target, word);
}

// Leaves an existing .display file alone; otherwise records how to display the
// results. The maps are written by then, so a failure here is only a warning.
void write_display_file(const char *control_file) {
    if (std::FILE *existing = std::fopen(".display", "r")) {
        std::fclose(existing);
        return;
    }
    std::FILE *display = create_output(".display");
    bool written = display != nullptr;
    if (display) {
        std::fprintf(display, "zep-display -t %s -S\n", control_file);
        written = close_output(display);
    }
    if (!written) print_warning("Warning: cannot write the file .display.\n");
}

// The report of a whole-volume analysis, from the maps in memory.
bool write_analysis_report(const char *control_file, std::chrono::steady_clock::time_point start) {
    ReportInputs in;
    in.nx = file_list_root.nx, in.ny = file_list_root.ny, in.nz = file_list_root.nz;
    in.mean = av_sigma_map[0];
    in.z_maps = Z_map != nullptr;
    in.maps = in.z_maps ? Z_map : T_map;
    in.mask = brain_mask;
    in.voxel_to_world = output_voxel_to_world(&in.world_source);
    in.control_file = control_file;
    in.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return write_report(in);
}

}  // namespace

int run_program(int argc, char **argv) {
    const auto start = std::chrono::steady_clock::now();
    clear_printed_warnings();
    Verbose = 0;
    S_divisor = 1.0f;
    BLOCK_SIZE = 50000;
    Threads = 0;
    reset_GLM_variations();
    my_getopt_reset();

    char control_file[NAME_SIZE] = "";
    char overlay_list[NAME_SIZE] = "";
    int control_file_given = 0, help = 0, percent_change = 0, residue_mode = 0;

    int c, index = 0;
    while ((c = my_getopt(argc, argv, OPTION_STRING, &index)) != 0) {
        if (c == -1) exit_invalid_word(argv[index]);
        const char *spot = std::strchr(OPTION_STRING, c);
        if (spot && spot[1] == ':' && index >= argc)
            exit_option_error("Error: option -%c requires an argument.\n", static_cast<char>(c));
        switch (c) {
            case 'h': help = 1; break;
            case 'H': help_menu(0, "glm-menu.txt"); std::exit(0);
            case 'p': percent_change = 1; break;
            case 's': BLOCK_SIZE = 5000; break;
            case 'v': Verbose = 1; break;
            case 'd':
                // A divisor of 0, infinity or NaN would leave no finite effect size.
                if (std::sscanf(argv[index], "%f", &S_divisor) != 1 || S_divisor == 0.0f ||
                    !std::isfinite(S_divisor)) {
                    std::printf("Error reading the output scale factor.\n");
                    std::exit(1);
                }
                break;
            case 'j': {
                char *end = nullptr;
                const long n = std::strtol(argv[index], &end, 10);
                if (end == argv[index] || *end != '\0' || n < 1 || n > kMaxThreads) {
                    std::printf("Error: -j takes a number of threads from 1 to %d.\n", kMaxThreads);
                    std::exit(1);
                }
                Threads = static_cast<int>(n);
                break;
            }
            case 'r': residue_mode = 1; break;
            case 'R': residue_mode = 2; break;
            case 'i':
                take_name(control_file, argv[index]);
                control_file_given = 1;
                break;
            case 'o': take_name(overlay_list, argv[index]); break;
            case 'T':
                if (add_GLM_variation(argv[index], 1)) std::exit(1);
                break;
            case 'S':
                if (add_GLM_variation(argv[index], 0)) std::exit(1);
                break;
            default: exit_option_error("Valid option -%c not yet programmed.\n", argv[index][0]);
        }
    }

    if (!control_file_given || help) {
        print_syntax();
        return help ? 0 : 1;
    }
    install_temp_file_removal();
    // The maps go to the current directory: one that takes no files fails now,
    // not after the analysis. A search over regions writes no maps.
    if (!overlay_list[0]) {
        std::FILE *probe = create_output("fmriglm-write-test");
        if (!probe) {
            std::printf("Error: cannot create files in the current directory (%s); the results are written there.\n",
                        std::strerror(errno));
            return 1;
        }
        close_output(probe, false);
    }

    std::printf("\n");
    if (GLM_read_control_file(control_file, Verbose)) {
        std::printf("Program terminated due to error in analysis file %s or one of the sub-files.\n", control_file);
        return 1;
    }
    build_run_list();

    int total_time_points = 0;
    if (initialize_runs(&total_time_points)) return 1;

    if (overlay_list[0]) {
        if (vary_root.event_index == -1) {
            std::printf("Error: an overlay list is referenced, but no parameters are varied.\n");
            return 1;
        }
        if (read_overlay_list(overlay_list)) return 1;
        if (read_ROIs()) return 1;
    }

    apply_memory_rule(total_time_points);

    if (GLM_define_basis_functions()) return 1;
    if (Verbose || GLM_input.notify) GLM_describe_basis_functions();

    int nconditions = 0;
    if (GLM_define_conditions(1, next_non_white(GLM_input.conditions), &nconditions)) return 1;

    if (nconditions == 0 && residue_mode != 0) {
        if (GLM_input.preGLM_frequency_band[1] != 0.0f || GLM_input.residue_frequency_band[1] != 0.0f)
            std::printf("No conditions - proceeding to filter data for resting state ...\n");
        else
            print_warning("*** Warning: no test conditions are defined, and no filter set for residue output ...?\n");
    }

    if (Verbose) GLM_describe_conditions();
    GLM_describe_input_files();

    if (set_up_brain_mask()) return 1;
    if (analyze_AR_noise()) return 1;

    if (overlay_list[0]) {
        // A search that cannot run (undefined event, no time constant, too many
        // parameters) has printed why; it is a failure of the run.
        return analyze_ROIs() ? 1 : 0;
    }

    if (analyze_runs(nconditions, percent_change, residue_mode)) return 1;
    if (write_output_files(nconditions)) {
        std::printf("Error writing output files.\n");
        return 1;
    }
    write_display_file(control_file);
    if (GLM_input.report && !write_analysis_report(control_file, start)) return 1;
    return 0;
}
