// xdisplay headers, for an image with an extension and for one without.
#include "harness.h"
#include "volume/volume_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::write_file("x.hdr", fuzz::part(data, size, 0));
    fuzz::run([] {
        VolumeHeader header;
        return read_volume_header(1, "x.bshort", &header) | read_volume_header(1, "x", &header);
    }, false);
    return 0;
}
