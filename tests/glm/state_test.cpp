#include <gtest/gtest.h>

#include <string>

#include "glm/state.h"

namespace {

TEST(EventIds, CharactersAndNumbersMapBothWays) {
    const std::string ids = "123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    char c = '?';
    for (int n = 1; n <= 61; ++n) {
        EXPECT_EQ(GLM_EventNumberFromCharID(ids[n - 1]), n);
        ASSERT_EQ(GLM_EventCharIDFromInteger(n, &c), 0);
        EXPECT_EQ(c, ids[n - 1]);
        EXPECT_EQ(GLM_EventCharID(n), c);
    }
    EXPECT_EQ(GLM_EventNumberFromCharID(','), -1);
    for (int byte = 0; byte < 256; ++byte)
        if (byte != ',' && ids.find(static_cast<char>(byte)) == std::string::npos) {
            EXPECT_EQ(GLM_EventNumberFromCharID(static_cast<char>(byte)), 0) << byte;
        }
    for (int n : {0, -1, 62}) {
        c = '?';
        EXPECT_EQ(GLM_EventCharIDFromInteger(n, &c), 1);
        EXPECT_EQ(c, '?');
    }
}

}  // namespace
