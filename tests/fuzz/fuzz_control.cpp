// Control files; their runs name the companion images, event and table files.
#include "glm/control_file.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::write_file("control.txt", fuzz::part(data, size, 0));
    fuzz::run([] { return GLM_read_control_file("control.txt", 0); }, true);
    return 0;
}
