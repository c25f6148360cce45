// freesurfer .bhdr headers of a volume whose first slice is f_000.bshort.
#include "harness.h"
#include "volume/volume_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::write_file("f.bhdr", fuzz::part(data, size, 0));
    fuzz::run([] {
        VolumeHeader header;
        return read_volume_header(1, "f_", &header);
    }, false);
    return 0;
}
