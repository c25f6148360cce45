// Death tests see only standard error; the program prints its messages on
// standard output. This runs the statement with standard output joined to
// standard error, so that the expected message can be matched.
//
// The child re-runs the test binary rather than being a forked copy: a copy
// holds the worker pool of earlier tests without its threads, and the pool's
// destructor, run by exit(), would wait for them forever. The style is set
// here because a child re-running the binary sees no test-event listener.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#define EXPECT_EXIT_PRINTS(statement, code, regex)   \
    GTEST_FLAG_SET(death_test_style, "threadsafe");  \
    EXPECT_EXIT(                                     \
        {                                            \
            std::fflush(stdout);                     \
            dup2(STDERR_FILENO, STDOUT_FILENO);      \
            statement;                               \
        },                                           \
        testing::ExitedWithCode(code), regex)
