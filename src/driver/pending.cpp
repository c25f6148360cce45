// Operations that this build does not provide yet. Each reports that plainly
// and fails, so that no run pretends to have worked. They are weak symbols: a
// real definition anywhere in the program replaces them.
#include <cstdio>
#include <cstdlib>

#include "driver/ar_maps.h"
#include "driver/output.h"
#include "driver/runs.h"
#include "driver/voxel_loop.h"
#include "glm/ar_model.h"
#include "glm/basis.h"
#include "glm/conditions.h"
#include "glm/control_file.h"
#include "glm/drug_kernels.h"
#include "glm/event_file.h"
#include "glm/fit.h"
#include "glm/frequency_filter.h"
#include "glm/hrf_file.h"
#include "glm/paradigm.h"
#include "glm/parameters.h"
#include "glm/reports.h"
#include "glm/statistics.h"
#include "glm/table_file.h"
#include "help/help_menu.h"
#include "roi/overlays.h"
#include "roi/roi_analysis.h"
#include "volume/volume_header.h"

#define PENDING __attribute__((weak))

namespace {
int not_available(const char *what) {
    std::printf("Error: %s is not available in this version of the program.\n", what);
    return 1;
}
[[noreturn]] void missing(const char *what) {
    not_available(what);
    std::exit(1);
}
}  // namespace

// Main sequence: a failure the caller reports.
PENDING int GLM_read_control_file(const char *, int) { return not_available("reading GLM control files"); }
PENDING int initialize_runs(int *) { return not_available("the run set-up"); }
PENDING int read_overlay_list(const char *) { return not_available("the overlay list reader"); }
PENDING int read_ROIs() { return not_available("the ROI reader"); }
PENDING int GLM_define_basis_functions() { return not_available("the design matrix"); }
PENDING void GLM_describe_basis_functions() {}
PENDING void GLM_describe_conditions() {}
PENDING void GLM_describe_input_files() {}
PENDING void GLM_describe_stimuli() {}
PENDING int GLM_define_conditions(int, const char *, int *) { return not_available("the conditions"); }
PENDING int analyze_AR_noise() { return not_available("the AR noise maps"); }
PENDING int analyze_ROIs() { return not_available("the ROI analysis"); }
PENDING int analyze_runs(int, int, int) { return not_available("the voxel-wise analysis"); }
PENDING int write_output_files(int) { return not_available("writing output maps"); }
PENDING int help_menu(int, const char *) { return not_available("the help menu"); }

// Everything else ends the program at once.
PENDING int GLM_set_time_constant(int, float) { missing("changing time constants"); }
PENDING int GLM_increment_onset_times(int, float) { missing("shifting onsets"); }
PENDING int GLM_shape_for_drug(int) { missing("GLM_shape_for_drug"); }
PENDING float GLM_get_time_constant(int) { missing("GLM_get_time_constant"); }
PENDING float GLM_DrugEfficiency() { missing("GLM_DrugEfficiency"); }
PENDING int GLM_get_condition_string(int, char *) { missing("GLM_get_condition_string"); }
PENDING int read_volume_header(int, const char *, VolumeHeader *) { missing("read_volume_header"); }
PENDING int read_xdisplay_header(const char *, VolumeHeader *) { missing("read_xdisplay_header"); }
PENDING int decode_xdisplay_header_keyword(char *, VolumeHeader *) { missing("decode_xdisplay_header_keyword"); }
PENDING int read_nifti_header(int, const char *, VolumeHeader *) { missing("read_nifti_header"); }
PENDING int read_freesurfer_header(const char *, VolumeHeader *) { missing("read_freesurfer_header"); }
PENDING int get_extension(char *, int *, char *) { missing("get_extension"); }
PENDING int replace_extension(const char *, int *, const char *, char *) { missing("replace_extension"); }
PENDING int machine_byte_order() { missing("machine_byte_order"); }
PENDING void swap_16(void *) { missing("swap_16"); }
PENDING void swap_32(void *) { missing("swap_32"); }
PENDING Mat44 scale_and_shift_to_mat44(const float *, const float *, const float *) { missing("scale_and_shift_to_mat44"); }
PENDING Mat44 general_affine_to_mat44(const float *, const float *, const float *) { missing("general_affine_to_mat44"); }
PENDING Mat44 invert_mat44(const Mat44 &) { missing("invert_mat44"); }
PENDING int read_volume(RunEntry *, int, float *) { missing("read_volume"); }
PENDING int read_block_vector(float *, int, int *) { missing("read_block_vector"); }
PENDING int open_output_file(int, int, const char *, std::FILE **) { missing("open_output_file"); }
PENDING int write_nifti_header(int, int, const char *, std::FILE **) { missing("write_nifti_header"); }
PENDING int smooth_AR_maps() { missing("smooth_AR_maps"); }
PENDING int GLMInternal_create_stimulus_paradigm(int, int, float *) { missing("paradigms"); }
PENDING void GLMInternal_integrate_paradigm(int, float *) { missing("paradigm integration"); }
PENDING float GLMInternal_normalize_paradigm(int, float *, float) { missing("paradigm normalisation"); }
PENDING int GLMInternal_convolve_paradigm_IRF(int, int, float *, int) { missing("convolution"); }
PENDING void GLMInternal_make_drug_kernels(int) { missing("drug kernels"); }
PENDING void GLM_calc_covariance_matrix() { missing("GLM_calc_covariance_matrix"); }
PENDING int GLM_calculate_F(int, float, int, int, float *, float *, float *, float *, float *, float *) { missing("GLM_calculate_F"); }
PENDING double ibeta(double, double, double) { missing("ibeta"); }
PENDING double incbcf(double, double, double) { missing("incbcf"); }
PENDING double incbd(double, double, double) { missing("incbd"); }
PENDING double pseries(double, double, double) { missing("pseries"); }
PENDING int GLMInternal_complete_model() { missing("GLMInternal_complete_model"); }
PENDING void GLM_Update_Weights(int, const float *) { missing("GLM_Update_Weights"); }
PENDING int GLM_fit_data(int, const float *, float *, float *) { missing("GLM_fit_data"); }
PENDING void GLMInternal_fit_data(int, const float *, float *, float *) { missing("GLMInternal_fit_data"); }
PENDING int GLM_create_residue(int, float *, float *) { missing("GLM_create_residue"); }
PENDING float GLM_compute_baseline() { missing("GLM_compute_baseline"); }
PENDING float GLM_Trace_XTXm1() { missing("GLM_Trace_XTXm1"); }
PENDING void GLMInternal_calculate_AR_mixing_matrix() { missing("the AR bias reduction"); }
PENDING int GLM_calculate_AR_coefficient(int, const float *, int, float *) { missing("AR coefficients"); }
PENDING int GLM_calculate_whitening_filter(int, const float *, std::int16_t *) { missing("the whitening filter"); }
PENDING void GLMInternal_whiten_data(float *) { missing("whitening"); }
PENDING void GLMInternal_whiten_model(int) { missing("whitening"); }
PENDING void GLMInternal_calculate_residual_matrix() { missing("the residual-forming matrix"); }
PENDING int GLM_PreFilter(int, int, float *) { missing("the pre-fit filter"); }
PENDING void GLM_FrequencyFilter(int, int, float *) { missing("the frequency filter"); }
PENDING int GLM_read_event_file(const char *, int, int) { missing("GLM_read_event_file"); }
PENDING void GLMInternal_describe_event_format(int) { missing("GLMInternal_describe_event_format"); }
PENDING int GLM_read_hrf_file(int, const char *) { missing("GLM_read_hrf_file"); }
PENDING int GLM_read_table_file(const char *, int, int) { missing("GLM_read_table_file"); }
PENDING int GLMInternal_decode_keyword(char *) { missing("GLMInternal_decode_keyword"); }
PENDING void GLMInternal_describe_glm_format() { missing("GLMInternal_describe_glm_format"); }

PENDING int GLM_singular_fit = 0;
PENDING float **auto_cor = nullptr;
PENDING float **av_sigma_map = nullptr;
PENDING float **P_map = nullptr;
PENDING float **T_map = nullptr;
PENDING float **S_map = nullptr;
PENDING float **dS_map = nullptr;
PENDING std::int16_t *nAR_map = nullptr;
