#include "glm/polynomial.h"

#include <cstdio>
#include <cstdlib>

#include "glm/state.h"
#include "numerics/arrays.h"
#include "numerics/matrix_inverse.h"

namespace {

struct PolynomialModel {
    int npoints = 0;
    int nterms = 0;
    OwnedMatrix<float> design;          // [npoints][nterms]
    OwnedMatrix<float> pseudo_inverse;  // [nterms][npoints]
    float coefficient[4] = {0, 0, 0, 0};
};

thread_local PolynomialModel poly;  // one per thread: the fPET weights of each voxel define one

}  // namespace

int PolynomialDefineGLM(int P, int n, const float *w) {
    if (P < 1) {
        std::printf("Error: the order of the polynomial (%d) must be >= 1.\n", P);
        return 1;
    }
    if (P >= 5) {
        std::printf("Error: the order of the polynomial (%d) must be <= 3.\n", P);
        return 1;
    }
    if (n < 2) {
        std::printf("Error: the # of points (%d) must be >= 2.\n", n);
        return 1;
    }
    // The arrays are kept when the sizes repeat (the fPET weights define the
    // same model for every voxel).
    if (poly.npoints != n || poly.nterms != P) {
        poly.design = OwnedMatrix<float>(n, P);
        poly.pseudo_inverse = OwnedMatrix<float>(P, n);
    }
    poly.npoints = n;
    poly.nterms = P;
    for (int k = 0; k < 4; ++k) poly.coefficient[k] = 0.0f;

    for (int i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / n;
        const double terms[4] = {1.0, x - 0.5, x * x - 0.3333333333333333, x * x * x - 0.25};
        for (int k = 0; k < P; ++k) poly.design[i][k] = static_cast<float>(terms[k]);
    }

    float normal_values[4][4];
    float *normal_rows[4] = {normal_values[0], normal_values[1], normal_values[2], normal_values[3]};
    float **normal = normal_rows;
    for (int a = 0; a < P; ++a)
        for (int b = 0; b < P; ++b) {
            float sum = 0.0f;
            for (int i = 0; i < n; ++i) sum += poly.design[i][a] * w[i] * poly.design[i][b];
            normal[a][b] = sum;
        }
    int ierr;
    if (rInvertSquareMatrix(P, normal, &ierr) != 0) {
        // Fewer usable points than terms: no polynomial can be fitted, so the
        // model fits nothing rather than a partly inverted matrix.
        for (int k = 0; k < P; ++k)
            for (int i = 0; i < n; ++i) poly.pseudo_inverse[k][i] = 0.0f;
        return 0;
    }
    for (int k = 0; k < P; ++k)
        for (int i = 0; i < n; ++i) {
            float sum = 0.0f;
            for (int b = 0; b < P; ++b) sum += normal[k][b] * poly.design[i][b];
            poly.pseudo_inverse[k][i] = sum * w[i];
        }
    return 0;
}

int PolynomialFitGLM(int n, const float *y, float *fit) {
    if (poly.nterms < 1) {
        std::printf("Error in PolynomialFitGLM: order of polynomial (%d) < 1.\n", poly.nterms);
        return 1;
    }
    if (n != poly.npoints) {
        std::printf("Error: the number of data time points (%d) does not match the number in the GLM (%d).\n", n,
                    poly.npoints);
        std::exit(1);
    }
    for (int k = 0; k < poly.nterms; ++k) {
        float sum = 0.0f;
        for (int i = 0; i < n; ++i) sum += poly.pseudo_inverse[k][i] * y[i];
        poly.coefficient[k] = sum;
    }
    for (int i = 0; i < n; ++i) {
        float sum = 0.0f;
        for (int k = 0; k < poly.nterms; ++k) sum += poly.design[i][k] * poly.coefficient[k];
        fit[i] = sum;
    }
    return 0;
}

int PolynomialRemoveGLM(int first, int n, float *y, float *fit) {
    if (n != poly.npoints) {
        std::printf("Error: # time points (%d) does not match GLM (%d) in PolynomialRemoveGLM()\n", n, poly.npoints);
        return 1;
    }
    for (int i = 0; i < n; ++i)
        for (int k = first; k < poly.nterms; ++k) {
            const float term = poly.design[i][k] * poly.coefficient[k];
            fit[i] -= term;
            y[i] -= term;
        }
    return 0;
}

float PolynomialCoefficientGLM(int k) { return (k >= 0 && k < 4) ? poly.coefficient[k] : 0.0f; }

void GLMInternal_drift_correct_table(int run, int column, int P) {
    if (P == 0) return;
    const int n = GLM.table_nrows[run];
    float *y = GLM.table[run][column];
    OwnedVector<float> w(n), fit(n);
    for (int i = 0; i < n; ++i) w[i] = (y[i] != 0.0f) ? 1.0f : 0.0f;
    if (PolynomialDefineGLM(P, n, w.get()) || PolynomialFitGLM(n, y, fit.get()) ||
        PolynomialRemoveGLM(0, n, y, fit.get()))
        std::exit(1);
}
