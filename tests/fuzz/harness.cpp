#include "harness.h"

#include <fcntl.h>
#include <nifti1.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "driver/globals.h"
#include "glm/state.h"
#include "roi/overlays.h"

extern "C" {
[[noreturn]] void __real_exit(int status);
std::FILE *__real_fopen(const char *path, const char *mode);
int __real_fclose(std::FILE *stream);
}

namespace {

std::jmp_buf back;
bool inside_reader = false;

// Streams opened during the current reader call and not closed yet.
constexpr int MAX_OPEN = 64;
std::FILE *open_streams[MAX_OPEN];
int nopen = 0;

std::string scratch;
int scratch_fd = -1, home_fd = -1;  // the scratch directory, the process's own current directory

void remove_scratch() {
    std::error_code ignored;
    if (!scratch.empty()) std::filesystem::remove_all(scratch, ignored);
}

// Companion files the readers find next to the input: a NIfTI-1 image and an
// xdisplay image of 2x2x2 voxels and 20 time points, an event file, a table
// with three columns, an IRF file, a freesurfer slice, an overlay and a help
// page. A target that fuzzes one of them overwrites it.
void write_fixtures() {
    nifti_1_header h{};
    h.sizeof_hdr = 348;
    h.dim[0] = 4;
    h.dim[1] = h.dim[2] = h.dim[3] = 2;
    h.dim[4] = 20;
    h.datatype = DT_INT16;
    h.bitpix = 16;
    for (int i = 0; i < 5; ++i) h.pixdim[i] = i == 4 ? 2.0f : 1.0f;
    h.vox_offset = 352;
    std::memcpy(h.magic, "n+1", 4);
    fuzz::write_file("run.nii", std::string(reinterpret_cast<const char *>(&h), sizeof h) + std::string(4, '\0'));
    fuzz::write_file("run2.hdr", "matrix 2 2 2 20\nresolution 1 1 1 2\n");
    fuzz::write_file("run2.bshort", "");
    fuzz::write_file("events.glm",
                     "2\n\n1\n0 10\n10 20 2\n\n2 gamma 4 2\n5\n25 0.5\n\n3 drug-IRF 3 6\n4 8\n\n"
                     "4 table 0\n\n5 table 1\n\n7 interaction 1 2\n\n- \n3 4\n");
    std::string table = "a b c\n";
    for (int i = 0; i < 20; ++i) table += std::to_string(i % 3) + " " + std::to_string(i * i % 7) + " 1\n";
    fuzz::write_file("table.dat", table);
    fuzz::write_file("irf.txt", "30 0.5 1.5\n4.5 13.5\n0.7 -0.3\n");
    fuzz::write_file("f_000.hdr", "2 2 1 1\n");
    fuzz::write_file("f_000.bshort", "");
    fuzz::write_file("a.ovl", "0 0 0\n1 1 1 0.5\n");
    mkdirat(scratch_fd, "documentation", 0700);
    fuzz::write_file("documentation/other.txt", "!0 0\nOther file\n!1 0\nIts first menu\n!1 1\nAn item\n");
}

}  // namespace

extern "C" {

[[noreturn]] void __wrap_exit(int status) {
    if (inside_reader) std::longjmp(back, 1);
    __real_exit(status);
}

std::FILE *__wrap_fopen(const char *path, const char *mode) {
    std::FILE *stream = __real_fopen(path, mode);
    if (stream && inside_reader) {
        if (nopen == MAX_OPEN) {
            std::fprintf(stderr, "fuzz harness: more than %d files open at once\n", MAX_OPEN);
            std::abort();
        }
        open_streams[nopen++] = stream;
    }
    return stream;
}

int __wrap_fclose(std::FILE *stream) {
    for (int k = 0; k < nopen; ++k)
        if (open_streams[k] == stream) {
            open_streams[k] = open_streams[--nopen];
            break;
        }
    return __real_fclose(stream);
}

// A scratch directory of its own for every process (on /dev/shm when there is
// one), removed at the end. It is the current directory only while a reader
// runs, so that the fuzzer's own relative paths keep their meaning.
int LLVMFuzzerInitialize(int *, char ***) {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    std::string dir = base + "/fmriglm-fuzz-XXXXXX";
    if (!mkdtemp(dir.data()) || (scratch_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY)) < 0 ||
        (home_fd = open(".", O_RDONLY | O_DIRECTORY)) < 0) {
        std::perror("fuzz harness: scratch directory");
        std::abort();
    }
    scratch = dir;
    std::atexit(remove_scratch);
    setenv("ZEP_HOME", dir.c_str(), 1);
    // The overlay readers size their arrays by the first run's image.
    file_list_root.nx = file_list_root.ny = file_list_root.nz = 2;
    write_fixtures();
    return 0;
}

}  // extern "C"

namespace fuzz {

std::string_view part(const std::uint8_t *data, std::size_t size, int k) {
    std::string_view rest(reinterpret_cast<const char *>(data), size);
    for (; k > 0; --k) {
        const std::size_t nul = rest.find('\0');
        if (nul == std::string_view::npos) return {};
        rest.remove_prefix(nul + 1);
    }
    return rest.substr(0, rest.find('\0'));
}

void write_file(const char *name, std::string_view text) {
    const int fd = openat(scratch_fd, name, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) || close(fd) != 0) {
        std::perror(name);
        std::abort();
    }
}

int run(int (*reader)(), bool uses_model) {
    volatile int result = -1;
    if (fchdir(scratch_fd) != 0) std::abort();
    inside_reader = true;
    if (setjmp(back) == 0) result = reader();
    inside_reader = false;
    if (fchdir(home_fd) != 0) std::abort();
    while (nopen > 0) __real_fclose(open_streams[--nopen]);
    release_overlays();
    if (uses_model) GLM_release_model_state();
    return result;
}

}  // namespace fuzz
