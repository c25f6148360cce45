#include "support/cli.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fmriglm-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string &name, const std::string &text) const {
    const std::string full = file(name);
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    std::ofstream out(full, std::ios::binary);
    out << text;
    return full;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ProgramResult run_command(const std::string &shell_command, const std::string &stdin_text) {
    TempDir io;
    std::string command = "(" + shell_command + ")";
    command += stdin_text.empty() ? " < /dev/null" : " < '" + io.write("stdin.txt", stdin_text) + "'";
    command += " > '" + io.file("out.txt") + "' 2>&1";
    ProgramResult result;
    const int raw = std::system(command.c_str());
    if (raw != -1 && WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
    result.output = read_file(io.file("out.txt"));
    return result;
}

ProgramResult run_python(const std::string &script, const std::string &arguments) {
    TempDir dir;
    return run_command("'" FMRIGLM_PYTHON "' '" + dir.write("script.py", script) + "' " + arguments);
}

ProgramResult run_fmriglm(const std::string &arguments, const std::string &dir, const std::string &stdin_text) {
    return run_command("cd '" + dir + "' && '" FMRIGLM_EXE "' " + arguments, stdin_text);
}

int make_dataset(const std::string &dir, const std::string &options) {
    return run_command("'" FMRIGLM_MAKE_DATASET "' --dir '" + dir + "' " + options).status;
}

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}
