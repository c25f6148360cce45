// An overlay list and the overlay file b.ovl (the input's first and second
// parts; the list may name a.ovl as well) for an image of 2x2x2 voxels.
#include "harness.h"
#include "roi/overlays.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::write_file("list.txt", fuzz::part(data, size, 0));
    fuzz::write_file("b.ovl", fuzz::part(data, size, 1));
    fuzz::run([] { return read_overlay_list("list.txt"); }, false);
    return 0;
}
