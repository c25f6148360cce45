// Temporary directory, output capture and header reading for the volume tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "volume/volume_header.h"

class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/fmriglm_volume_XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    std::string operator/(const std::string &name) const { return path_ + "/" + name; }
    std::string write(const std::string &name, const std::string &bytes) const {
        std::filesystem::create_directories(std::filesystem::path(*this / name).parent_path());
        std::ofstream(*this / name, std::ios::binary) << bytes;
        return *this / name;
    }

private:
    std::string path_;
};

template <typename F>
std::string stdout_of(F &&f) {
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Reads a volume header; returns what was printed.
inline std::string read_header(const std::string &name, VolumeHeader &h, int &status, int verbose = 0) {
    return stdout_of([&] { status = read_volume_header(verbose, name.c_str(), &h); });
}
