// A weighted least-squares polynomial of up to four terms (constant, linear,
// quadratic, cubic) over n equally spaced points, kept in one process-wide
// record that each definition replaces.
#pragma once

// Defines the model for n points with point weights w and P terms; 0 or 1.
int PolynomialDefineGLM(int P, int n, const float *w);
// Fits y with the model in force and writes the fitted curve; 0 or 1.
int PolynomialFitGLM(int n, const float *y, float *fit);
// Subtracts the terms first..P-1 of the last fit from y and fit; 0 or 1.
int PolynomialRemoveGLM(int first, int n, float *y, float *fit);
// Coefficient k of the last fit (for tests and reports).
float PolynomialCoefficientGLM(int k);

// Removes a weighted polynomial of P terms from one column of a run's table;
// zero entries count as missing values. Nothing happens when P is 0.
void GLMInternal_drift_correct_table(int run, int column, int P);
