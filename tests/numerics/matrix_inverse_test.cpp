#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "numerics/arrays.h"
#include "numerics/matrix_inverse.h"
#include "support/cli.h"

namespace {

OwnedMatrix<double> make(std::initializer_list<std::initializer_list<double>> rows) {
    const int n = static_cast<int>(rows.size());
    OwnedMatrix<double> m(n, n);
    int i = 0;
    for (auto &row : rows) {
        int j = 0;
        for (double v : row) m[i][j++] = v;
        ++i;
    }
    return m;
}

TEST(Inversion, OneByOneAndZeroPivots) {
    auto a = make({{4.0}});
    int ierr = 99;
    EXPECT_EQ(dInvertSquareMatrix(1, a.get(), &ierr), 0);
    EXPECT_EQ(ierr, -1);
    EXPECT_EQ(a[0][0], 0.25);

    auto zero = make({{0.0}});
    EXPECT_EQ(dInvertSquareMatrix(1, zero.get(), &ierr), 1);
    EXPECT_EQ(ierr, 0);

    // The second pivot becomes exactly zero after the first elimination step.
    auto singular = make({{1, 2}, {2, 4}});
    EXPECT_EQ(dInvertSquareMatrix(2, singular.get(), &ierr), 1);
    EXPECT_EQ(ierr, 1);

    auto first_column_zero = make({{0, 1, 2}, {0, 3, 4}, {0, 5, 7}});
    EXPECT_EQ(dInvertSquareMatrix(3, first_column_zero.get(), &ierr), 1);
    EXPECT_EQ(ierr, 0);

    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(dInvertSquareMatrix(-2, a.get(), &ierr), 1); }), "Error: the matrix order is -2\n");
    EXPECT_EQ(dInvertSquareMatrix(0, a.get(), &ierr), 0);
}

TEST(Inversion, RowExchangesComeBackAsColumnExchanges) {
    auto swap = make({{0, 1}, {1, 0}});
    int ierr;
    ASSERT_EQ(dInvertSquareMatrix(2, swap.get(), &ierr), 0);
    EXPECT_EQ(swap[0][0], 0.0);
    EXPECT_EQ(swap[0][1], 1.0);
    EXPECT_EQ(swap[1][0], 1.0);
    EXPECT_EQ(swap[1][1], 0.0);

    // A permuted, non-symmetric matrix with a known inverse.
    auto a = make({{0, 2, 0}, {0, 0, 4}, {1, 0, 0}});
    ASSERT_EQ(dInvertSquareMatrix(3, a.get(), &ierr), 0);
    const double expected[3][3] = {{0, 0, 1}, {0.5, 0, 0}, {0, 0.25, 0}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_EQ(a[i][j], expected[i][j]) << i << "," << j;
}

TEST(Inversion, EqualMagnitudePivotsAndRandomMatricesGiveTheInverse) {
    // Column 0 holds 1 and -1: the upper row stays the pivot; the inverse is exact.
    auto tie = make({{1, 1}, {-1, 1}});
    int ierr;
    ASSERT_EQ(dInvertSquareMatrix(2, tie.get(), &ierr), 0);
    EXPECT_EQ(tie[0][0], 0.5);
    EXPECT_EQ(tie[0][1], -0.5);
    EXPECT_EQ(tie[1][0], 0.5);
    EXPECT_EQ(tie[1][1], 0.5);

    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const int n = 7;
    OwnedMatrix<double> original(n, n), inverse(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) original[i][j] = inverse[i][j] = u(rng);
    ASSERT_EQ(dInvertSquareMatrix(n, inverse.get(), &ierr), 0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double sum = 0;
            for (int k = 0; k < n; ++k) sum += original[i][k] * inverse[k][j];
            EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-12);
        }
}

TEST(Inversion, FloatWrapperRoundsTheDoubleResultBack) {
    OwnedMatrix<float> a(2, 2);
    a[0][0] = 3;
    a[0][1] = 0;
    a[1][0] = 0;
    a[1][1] = 7;
    int ierr;
    ASSERT_EQ(rInvertSquareMatrix(2, a.get(), &ierr), 0);
    EXPECT_EQ(a[0][0], static_cast<float>(1.0 / 3.0));
    EXPECT_EQ(a[1][1], static_cast<float>(1.0 / 7.0));

    EXPECT_EQ(Trace_of_Matrix(0, a.get()), 0.0f);
    EXPECT_EQ(Trace_of_Matrix(2, a.get()), a[0][0] + a[1][1]);
}

TEST(Arrays, AllocationFailureIsFatalWithItsMessage) {
    EXPECT_EXIT(float_vector(-1), testing::ExitedWithCode(1),
                "Fatal Error:\nAllocation error in float_vector\\(\\).\nProgram aborted.\n");
    EXPECT_EXIT(int_matrix(-3, 2), testing::ExitedWithCode(1), "Allocation failure 1 in integer_matrix");
}

}  // namespace
