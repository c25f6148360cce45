// Every test starts from an empty model state: this listener releases
// whatever the previous test left in GLM and HRF (builds, conditions, tables,
// kernels, impulse response) and resets the rest. Storage a test borrows into
// the model state must be handed back (set to null) before the test ends.
#include <gtest/gtest.h>

#include "glm/state.h"

namespace {

struct FreshModelState : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &) override { GLM_release_model_state(); }
};

[[maybe_unused]] const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FreshModelState);
    return true;
}();

}  // namespace
