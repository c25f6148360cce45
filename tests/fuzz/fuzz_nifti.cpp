// NIfTI-1 headers (.nii files).
#include "harness.h"
#include "volume/volume_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::write_file("x.nii", {reinterpret_cast<const char *>(data), size});
    fuzz::run([] {
        VolumeHeader header;
        return read_volume_header(1, "x.nii", &header);
    }, false);
    return 0;
}
