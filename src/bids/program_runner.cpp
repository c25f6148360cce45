#include "bids/program_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace fs = std::filesystem;

std::string analysis_program() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path beside = self.parent_path() / "fmriglm";
        if (access(beside.c_str(), X_OK) == 0) return beside.string();
    }
    return "fmriglm";
}

int run_program_in(const std::string &program, const std::vector<std::string> &arguments, const fs::path &dir,
                   const fs::path &log) {
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        // Only calls that are safe between fork and exec.
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 || chdir(dir.c_str()) != 0)
            _exit(127);
        execvp(argv[0], argv.data());
        const char *message = "Error: cannot start the program ";
        [[maybe_unused]] ssize_t ignored = write(2, message, std::strlen(message));
        ignored = write(2, argv[0], std::strlen(argv[0]));
        ignored = write(2, "\n", 1);
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (!WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 127 ? -1 : WEXITSTATUS(status);
}

std::string first_error_line(const fs::path &log) {
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.find("Error") != std::string::npos) return line;
    return "";
}
