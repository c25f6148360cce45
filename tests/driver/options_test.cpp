#include <gtest/gtest.h>

#include <string>

#include "driver/globals.h"
#include "driver/options.h"
#include "support/cli.h"

namespace {

TEST(MemoryRule, BlockSizeIsLoweredOnlyAboveFiveHundredMillion) {
    // 5000 points make exactly 500 million: kept; 50000 x 30000 x 2 does not fit 32 bits and must not wrap.
    const int cases[][2] = {{100, 50000}, {5000, 50000}, {6000, 41666}, {30000, 8333}};
    for (const auto &c : cases) {
        BLOCK_SIZE = 50000;
        const std::string out = stdout_of([&] { apply_memory_rule(c[0]); });
        EXPECT_EQ(BLOCK_SIZE, c[1]) << c[0];
        EXPECT_EQ(out, c[1] == 50000 ? "" : "Memory allocation reduced: BLOCK_SIZE = " + std::to_string(c[1]) + "\n");
    }
}

}  // namespace
