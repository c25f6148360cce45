// Table files of two runs whose event files take regressors from columns 0 and 1.
#include "glm/control_file.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::write_file("control.txt", "runs:\nrun.nii events.glm table.dat\nrun.nii events.glm table.dat\n");
    fuzz::write_file("table.dat", fuzz::part(data, size, 0));
    fuzz::run([] { return GLM_read_control_file("control.txt", 0); }, true);
    return 0;
}
