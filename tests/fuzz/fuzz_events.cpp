// Event files of two runs (the input's first and second parts), read through
// a control file with an impulse response.
#include "glm/control_file.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::write_file("control.txt", "IRF BOLD-monkey\nruns:\nrun.nii run1.glm table.dat\nrun.nii run2.glm table.dat\n");
    fuzz::write_file("run1.glm", fuzz::part(data, size, 0));
    fuzz::write_file("run2.glm", fuzz::part(data, size, 1));
    fuzz::run([] { return GLM_read_control_file("control.txt", 0); }, true);
    return 0;
}
