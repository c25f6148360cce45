#include "bids/metadata.h"

#include <nifti1_io.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

RunTiming read_run_timing(const fs::path &root, const BidsRun &run) {
    RunTiming timing;
    // The header alone; nifticlib reads only the start of a compressed file.
    const std::unique_ptr<nifti_image, void (*)(nifti_image *)> image(nifti_image_read(run.image.c_str(), 0),
                                                                      nifti_image_free);
    if (!image) throw BidsError("cannot read the image header of " + run.image.string());
    timing.volumes = image->dim[0] >= 4 ? image->dim[4] : 1;

    // Sidecars from the root down: a later one overrides an earlier one.
    nlohmann::json merged = nlohmann::json::object();
    std::string source;
    for (const fs::path &file : inherited_files(root, run.image, "bold", ".json")) {
        std::ifstream in(file);
        const nlohmann::json sidecar = nlohmann::json::parse(in, nullptr, false);
        if (sidecar.is_discarded() || !sidecar.is_object()) throw BidsError(file.string() + " is not a JSON object");
        if (sidecar.contains("RepetitionTime")) source = file.string();
        merged.update(sidecar);
    }
    if (merged.contains("RepetitionTime")) {
        const nlohmann::json &value = merged["RepetitionTime"];
        if (!value.is_number() || !(value.get<double>() > 0.0))
            throw BidsError("RepetitionTime in " + source + " is not a positive number");
        timing.tr = value.get<double>();
        timing.tr_source = source;
        return timing;
    }
    double tr = image->dt;
    if (image->time_units == NIFTI_UNITS_MSEC) tr /= 1000.0;
    if (image->time_units == NIFTI_UNITS_USEC) tr /= 1.0e6;
    if (!(tr > 0.0) || !std::isfinite(tr))
        throw BidsError("no RepetitionTime in a sidecar of " + run.image.string() + " and none in its header");
    timing.tr = tr;
    timing.tr_source = run.image.string() + " (header)";
    return timing;
}
