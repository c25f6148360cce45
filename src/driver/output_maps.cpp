#include <nifti1.h>

#include <cstdio>
#include <initializer_list>

#include "driver/globals.h"
#include "driver/output.h"
#include "driver/voxel_loop.h"
#include "glm/reports.h"
#include "numerics/temp_files.h"

namespace {

// Writes the given maps of V floats one after another into a new output volume.
int write_volume(int kind, const char *name, std::initializer_list<const float *> maps, int nvoxels,
                 int intent_code = 0, float intent_p1 = 0.0f) {
    std::FILE *stream = nullptr;
    if (open_output_file(kind, static_cast<int>(maps.size()), name, &stream, intent_code, intent_p1)) return 1;
    bool ok = true;
    for (const float *map : maps)
        ok = ok && std::fwrite(map, sizeof(float), nvoxels, stream) == static_cast<std::size_t>(nvoxels);
    return close_output(stream, ok) ? 0 : 1;
}

}  // namespace

int write_output_files(int nconditions) {
    const int V = file_list_root.nx * file_list_root.ny * file_list_root.nz;
    if (write_volume(0, "average", {av_sigma_map[0], av_sigma_map[1], av_sigma_map[2]}, V)) return 1;
    char text[NAME_SIZE], name[NAME_SIZE + 8];
    for (int c = 0; c < nconditions; ++c) {
        if (GLM_get_condition_string(c, text)) return 1;
        std::snprintf(name, sizeof name, "P-%s", text);
        if (write_volume(0, name, {P_map[c]}, V)) return 1;
        // The T map of a one-row condition is a t statistic; of several rows, sqrt(F).
        std::snprintf(name, sizeof name, "T-%s", text);
        const bool t_test = GLM.condition_nrows[c] == 1;
        if (write_volume(0, name, {T_map[c]}, V, t_test ? NIFTI_INTENT_TTEST : 0,
                         t_test ? static_cast<float>(GLM_get_DOF()) : 0.0f))
            return 1;
        std::snprintf(name, sizeof name, "S-%s", text);
        if (write_volume(1, name, {S_map[c], dS_map[c]}, V)) return 1;
        std::snprintf(name, sizeof name, "Z-%s", text);
        if (Z_map && write_volume(0, name, {Z_map[c]}, V, NIFTI_INTENT_ZSCORE)) return 1;
    }
    return 0;
}
