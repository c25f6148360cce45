// The design matrix seen as a set of regressors: correlations and variance
// inflation of its event columns, and its picture.
#pragma once

#include <vector>

#include "numerics/arrays.h"
#include "report/rgb_image.h"

struct DesignSummary {
    int nevents = 0;
    // Pearson correlations of the event columns over the time points used;
    // NaN for a column that is constant there.
    OwnedMatrix<double> correlation;
    // Variance inflation factor of each event column: 1 / (1 - R^2) of its
    // regression on all other columns of the design (R^2 about the mean when
    // the baseline terms hold a constant, else about 0); NaN when undefined.
    std::vector<double> inflation;
};

// From the unweighted design and the time points it uses (GLM.include).
DesignSummary summarize_design();

// Every column of the design in gray (the column's range, widened to hold 0,
// from black to white), time points downward, excluded ones tinted red;
// column labels above, run numbers at the left of each run's first row.
RgbImage design_picture();
