// z values with the same tail probability as a condition's test.
#pragma once

// The z whose upper normal tail probability is exp(log_p), log_p <= 0. Works
// from the logarithm (never from 1 - p), so tail probabilities down to the
// smallest doubles keep their precision (|z| up to 37 and beyond).
double z_from_log_upper_tail(double log_p);

// z of one test with F statistic F, signed t, degrees of freedom dof and the
// condition's number of rows. One row: the z with the two-sided probability
// of t, signed like t. Several rows: the z whose upper tail equals that of F,
// 0 when that tail is 0.5 or more. The probability is floored at exp(-100),
// like the p-values of the maps.
float z_statistic(float F, float t, float dof, int rows);
// The same from the upper tail probability of F (ConditionTest::tail).
float z_from_tail(double tail, float F, float t, float dof, int rows);
