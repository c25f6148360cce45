#include <gtest/gtest.h>

#include "numerics/arrays.h"

TEST(Arrays, MatrixRowsAreAddressableAndZeroSizesAreReleasable) {
    float **m = float_matrix(3, 4);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] = static_cast<float>(10 * i + j);
    EXPECT_EQ(m[2][3], 23.0f);
    EXPECT_EQ(m[1][0], 10.0f);
    free_float_matrix(m, 3);
    free_float_vector(float_vector(0));
    free_int_matrix(int_matrix(0, 5), 0);
    free_double_matrix(double_matrix(2, 0), 2);
}
