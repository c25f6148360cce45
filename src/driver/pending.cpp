// Operations that this build does not provide yet. Each reports that plainly
// and fails, so that no run pretends to have worked. They are weak symbols: a
// real definition anywhere in the program replaces them.
#include <cstdio>

#include "driver/ar_maps.h"
#include "driver/output.h"
#include "driver/runs.h"
#include "driver/voxel_loop.h"
#include "glm/basis.h"
#include "glm/conditions.h"
#include "glm/control_file.h"
#include "glm/parameters.h"
#include "glm/reports.h"
#include "help/help_menu.h"
#include "roi/overlays.h"
#include "roi/roi_analysis.h"

#define PENDING __attribute__((weak))

namespace {
int not_available(const char *what) {
    std::printf("Error: %s is not available in this version of the program.\n", what);
    return 1;
}
}  // namespace

PENDING int GLM_read_control_file(const char *, int) { return not_available("reading GLM control files"); }
PENDING int initialize_runs(int *) { return not_available("the run set-up"); }
PENDING int read_overlay_list(const char *) { return not_available("the overlay list reader"); }
PENDING int read_ROIs() { return not_available("the ROI reader"); }
PENDING int GLM_define_basis_functions() { return not_available("the design matrix"); }
PENDING void GLM_describe_basis_functions() {}
PENDING void GLM_describe_conditions() {}
PENDING void GLM_describe_input_files() {}
PENDING int GLM_define_conditions(int, const char *, int *) { return not_available("the conditions"); }
PENDING int analyze_AR_noise() { return not_available("the AR noise maps"); }
PENDING int analyze_ROIs() { return not_available("the ROI analysis"); }
PENDING int analyze_runs(int, int, int) { return not_available("the voxel-wise analysis"); }
PENDING int write_output_files(int) { return not_available("writing output maps"); }
PENDING int help_menu(int, const char *) { return not_available("the help menu"); }
PENDING int GLM_set_time_constant(int, float) { return not_available("changing time constants"); }
PENDING int GLM_increment_onset_times(int, float) { return not_available("shifting onsets"); }
