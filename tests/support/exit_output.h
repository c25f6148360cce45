// Death tests see only standard error; the program prints its messages on
// standard output. This runs the statement with standard output joined to
// standard error, so that the expected message can be matched.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#define EXPECT_EXIT_PRINTS(statement, code, regex)   \
    EXPECT_EXIT(                                     \
        {                                            \
            std::fflush(stdout);                     \
            dup2(STDERR_FILENO, STDOUT_FILENO);      \
            statement;                               \
        },                                           \
        testing::ExitedWithCode(code), regex)
