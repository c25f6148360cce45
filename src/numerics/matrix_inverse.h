// In-place inversion of square matrices (LU with partial pivoting) and trace.
#pragma once

// Inverts the n x n double matrix a in place. Returns 0, or 1 when a pivot is
// exactly zero (ierr = the elimination step) or n is negative. On failure the
// matrix is left partly transformed and must not be used.
int dInvertSquareMatrix(int n, double **a, int *ierr);

// The same for a float matrix: the work is done in double precision on a copy
// and the result (also a failed one) is rounded back into a.
int rInvertSquareMatrix(int n, float **a, int *ierr);

// Sum of the diagonal of an n x n float matrix, accumulated in single precision.
float Trace_of_Matrix(int n, float **a);
