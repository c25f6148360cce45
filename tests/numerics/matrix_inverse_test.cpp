#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "numerics/arrays.h"
#include "numerics/matrix_inverse.h"
#include "support/cli.h"

#ifdef FMRIGLM_SANITIZED  // there too a request the system cannot meet returns null
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace {

using Rows = std::vector<std::vector<double>>;

// Inverts a in double and in float; the results, the failing pivot and the inverses agree with the expected ones.
void expect_inverse(const Rows &a, const Rows &inverse, int ierr) {
    const int n = static_cast<int>(a.size());
    OwnedMatrix<double> d(n, n);
    OwnedMatrix<float> f(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) f[i][j] = static_cast<float>(d[i][j] = a[i][j]);
    int derr = 99, ferr = 99;
    EXPECT_EQ(dInvertSquareMatrix(n, d.get(), &derr), inverse.empty() ? 1 : 0);
    EXPECT_EQ(rInvertSquareMatrix(n, f.get(), &ferr), inverse.empty() ? 1 : 0);
    EXPECT_EQ(std::make_pair(derr, ferr), std::make_pair(ierr, ierr));
    float trace = 0.0f;
    for (int i = 0; i < static_cast<int>(inverse.size()); ++i) {
        trace += static_cast<float>(inverse[i][i]);
        for (int j = 0; j < n; ++j) {
            EXPECT_EQ(d[i][j], inverse[i][j]) << i << "," << j;
            EXPECT_EQ(f[i][j], static_cast<float>(inverse[i][j])) << i << "," << j;
        }
    }
    if (!inverse.empty()) { EXPECT_EQ(Trace_of_Matrix(n, f.get()), trace); }
}

TEST(Inversion, KnownInversesSingularPivotsAndRandomMatrices) {
    expect_inverse({{4}}, {{0.25}}, -1);
    expect_inverse({{0}}, {}, 0);
    expect_inverse({{1, 2}, {2, 4}}, {}, 1);  // the second pivot is exactly zero after the first step
    expect_inverse({{0, 1, 2}, {0, 3, 4}, {0, 5, 7}}, {}, 0);
    expect_inverse({{0, 1}, {1, 0}}, {{0, 1}, {1, 0}}, -1);
    // Row exchanges come back as column exchanges.
    expect_inverse({{0, 2, 0}, {0, 0, 4}, {1, 0, 0}}, {{0, 0, 1}, {0.5, 0, 0}, {0, 0.25, 0}}, -1);
    expect_inverse({{1, 1}, {-1, 1}}, {{0.5, -0.5}, {0.5, 0.5}}, -1);  // equal pivots: the upper row stays
    expect_inverse({{3, 0}, {0, 7}}, {{1.0 / 3, 0}, {0, 1.0 / 7}}, -1);  // float: the double result rounded
    int ierr = 0;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(dInvertSquareMatrix(-2, nullptr, &ierr), 1); }), "Error: the matrix order is -2\n");
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(rInvertSquareMatrix(-3, nullptr, &ierr), 1); }), "Error: the matrix order is -3\n");
    EXPECT_EQ(dInvertSquareMatrix(0, nullptr, &ierr), 0);

    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    // The work storage kept between calls shrinks and grows; the last matrix needs the largest pivot of its
    // first column, 1, rather than just one larger than the diagonal's 1e-30.
    const int sizes[] = {7, 3, 9, 3};
    for (int k = 0; k < 4; ++k) {
        const int n = sizes[k];
        OwnedMatrix<double> original(n, n), inverse(n, n);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) original[i][j] = u(rng);
        if (k == 3) original[0][0] = 1e-30, original[1][0] = 1, original[2][0] = 1e-20;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) inverse[i][j] = original[i][j];
        ASSERT_EQ(dInvertSquareMatrix(n, inverse.get(), &ierr), 0);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                double sum = 0;
                for (int k = 0; k < n; ++k) sum += original[i][k] * inverse[k][j];
                EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-12);
            }
    }
}

TEST(Arrays, RowsAreAddressableZeroSizesReleasableAndFailureIsFatal) {
    float **m = float_matrix(3, 4);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) m[i][j] = static_cast<float>(10 * i + j);
    EXPECT_EQ(m[2][3] + m[1][0], 33.0f);
    free_float_matrix(m, 3);
    free_float_vector(float_vector(0));
    free_int_matrix(int_matrix(0, 5), 0);
    free_double_matrix(double_matrix(2, 0), 2);
    EXPECT_EXIT(float_vector(-1), testing::ExitedWithCode(1),
                "Fatal Error:\nAllocation error in float_vector\\(\\).\nProgram aborted.\n");
    EXPECT_EXIT(int_matrix(-3, 2), testing::ExitedWithCode(1), "Allocation failure 1 in integer_matrix");
    EXPECT_EXIT(double_vector(std::int64_t{1} << 60), testing::ExitedWithCode(1), "in double_vector");  // no memory
}

}  // namespace
