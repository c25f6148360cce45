// A scratch directory as the current directory and a fresh model state, for
// tests of the description file readers.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "glm/state.h"
#include "numerics/arrays.h"
#include "support/cli.h"

class DescriptionFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        previous_dir_ = cwd;
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        GLM_reset_model_state();
        GLM_input.notify = 0;
        free_float_vector(HRF.exp_tau);
        free_float_vector(HRF.exp_amplitude);
        free_float_vector(HRF.irf);
        HRF = HRFModel{};
    }
    void TearDown() override { ASSERT_EQ(chdir(previous_dir_.c_str()), 0); }

    std::string write(const std::string &name, const std::string &text) { return dir_.write(name, text); }

    // Runs a reader and returns what it printed.
    template <typename F>
    std::string printed(F &&reader, int *result) {
        return stdout_of([&] { *result = reader(); });
    }

    TempDir dir_;

private:
    std::string previous_dir_;
};
