#include "numerics/matrix_inverse.h"

#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "numerics/arrays.h"

int dInvertSquareMatrix(int n, double **a, int *ierr) {
    *ierr = -1;
    if (n < 0) {
        std::printf("Error: the matrix order is %d\n", n);
        return 1;
    }
    if (n == 0) return 0;
    // Work storage is kept between calls: inversions run once per voxel in the
    // fit set-up, and the program is single-threaded.
    thread_local std::vector<double> w;
    thread_local std::vector<int> pivot;
    if (static_cast<int>(w.size()) < n) {
        w.resize(n);
        pivot.resize(n);
    }

    // LU factorisation with row interchanges; multipliers stored below the diagonal.
    for (int k = 0; k < n; ++k) {
        int p = k;
        double largest = std::fabs(a[k][k]);
        for (int i = k + 1; i < n; ++i) {
            double m = std::fabs(a[i][k]);
            if (m > largest) {
                largest = m;
                p = i;
            }
        }
        pivot[k] = p;
        if (a[p][k] == 0.0) {
            *ierr = k;
            return 1;
        }
        if (p != k)
            for (int j = 0; j < n; ++j) std::swap(a[k][j], a[p][j]);
        const double diag = a[k][k];
        for (int i = k + 1; i < n; ++i) a[i][k] = a[i][k] / diag;
        const double *rowk = a[k];
        for (int i = k + 1; i < n; ++i) {
            double *rowi = a[i];
            const double f = rowi[k];
            // Column order of the updates does not change any single element's arithmetic.
            for (int j = k + 1; j < n; ++j) rowi[j] = rowi[j] - f * rowk[j];
        }
    }

    // Upper factor inverted in place.
    for (int k = 0; k < n; ++k) {
        a[k][k] = 1.0 / a[k][k];
        const double t = -a[k][k];
        for (int j = 0; j < k; ++j) {
            const double ajk = a[j][k];
            for (int i = 0; i < j; ++i) a[i][k] = a[i][k] + a[i][j] * ajk;
            a[j][k] = a[j][k] * a[j][j];
        }
        for (int i = 0; i < k; ++i) a[i][k] = a[i][k] * t;
    }

    // Multiply by the inverse of the unit lower factor.
    for (int k = n - 2; k >= 0; --k) {
        for (int i = k + 1; i < n; ++i) {
            w[i] = a[i][k];
            a[i][k] = 0.0;
        }
        for (int j = k + 1; j < n; ++j) {
            const double wj = w[j];
            for (int i = 0; i < n; ++i) a[i][k] = a[i][k] - a[i][j] * wj;
        }
    }

    // Row interchanges of the factorisation become column interchanges.
    for (int k = n - 2; k >= 0; --k) {
        const int p = pivot[k];
        if (p != k)
            for (int i = 0; i < n; ++i) std::swap(a[i][k], a[i][p]);
    }
    return 0;
}

int rInvertSquareMatrix(int n, float **a, int *ierr) {
    if (n < 0) {
        *ierr = -1;
        std::printf("Error: the matrix order is %d\n", n);
        return 1;
    }
    // The double-precision copy is kept between calls like the work vectors above.
    thread_local std::vector<double> block;
    thread_local std::vector<double *> rows;
    if (rows.size() < static_cast<std::size_t>(n)) rows.resize(n);
    if (block.size() < static_cast<std::size_t>(n) * n) block.resize(static_cast<std::size_t>(n) * n);
    for (int i = 0; i < n; ++i) rows[i] = block.data() + static_cast<std::size_t>(i) * n;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) rows[i][j] = a[i][j];
    const int result = dInvertSquareMatrix(n, rows.data(), ierr);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) a[i][j] = static_cast<float>(rows[i][j]);
    return result;
}

float Trace_of_Matrix(int n, float **a) {
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) sum += a[i][i];
    return sum;
}
