// Helpers for tests that run the built program or need a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

struct ProgramResult {
    int status = -1;     // exit status, or -1 when the program did not exit normally
    std::string output;  // standard output and standard error, interleaved
};

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    std::string operator/(const std::string &name) const { return file(name); }
    // Writes text into a file of this directory (making its folders) and returns
    // its full path.
    std::string write(const std::string &name, const std::string &text) const;

private:
    std::string path_;
};

// Runs a shell command with standard input from stdin_text (empty: none).
ProgramResult run_command(const std::string &command, const std::string &stdin_text = "");

// Runs a Python script (numpy, scipy, statsmodels, nibabel at hand) with the
// given argument text.
ProgramResult run_python(const std::string &script, const std::string &arguments);

// Runs the built program with the given argument text (passed through the
// shell) in directory dir, with standard input from stdin_text (empty: none).
ProgramResult run_fmriglm(const std::string &arguments, const std::string &dir, const std::string &stdin_text = "");

// Writes a synthetic data set into dir with the generator's options; its exit status.
int make_dataset(const std::string &dir, const std::string &options);

std::string read_file(const std::string &path);

// text with every occurrence of from replaced by to.
std::string replace_all(std::string text, const std::string &from, const std::string &to);

// What f prints on standard output.
template <typename F>
std::string stdout_of(F &&f) {
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}
