// IRF files, named by a control file whose events then use the response's step.
#include "glm/control_file.h"
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::write_file("control.txt", "IRF irf.txt\nruns:\nrun.nii events.glm table.dat\n");
    fuzz::write_file("irf.txt", fuzz::part(data, size, 0));
    fuzz::run([] { return GLM_read_control_file("control.txt", 0); }, true);
    return 0;
}
