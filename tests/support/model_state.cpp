// Every test starts from an empty model state: this listener releases
// whatever the previous test left in GLM and HRF (builds, conditions, tables,
// kernels, impulse response) and resets the rest. Storage a test borrows into
// the model state must be handed back (set to null) before the test ends.
#include <gtest/gtest.h>

#include <cstdlib>

#include "glm/state.h"

namespace {

struct FreshModelState : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &) override { GLM_release_model_state(); }
    // A death test's child must not be a forked copy holding the worker pool of
    // earlier tests: the pool's threads are gone there, and its destructor, run
    // by exit(), would wait for them forever. The child re-runs the binary; it
    // sees no listener, so it takes the style from the environment.
    void OnTestProgramStart(const testing::UnitTest &) override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        setenv("GTEST_DEATH_TEST_STYLE", "threadsafe", 1);
    }
};

[[maybe_unused]] const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FreshModelState);
    return true;
}();

}  // namespace
