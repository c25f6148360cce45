// Design rebuilds during a parameter search. The search rebuilds the design
// for every combination it tries, yet most event columns do not change
// between combinations, and the shift undone after each combination brings
// back a column built just before. While a search scope is open, rebuilds keep
// the finished columns of stimulus events and use a column again whenever
// every input it is made from is bit for bit the same, and they convolve long
// kernels through transforms.
#pragma once

class GLMDesignSearchScope {
public:
    GLMDesignSearchScope();
    ~GLMDesignSearchScope();
    GLMDesignSearchScope(const GLMDesignSearchScope &) = delete;
    GLMDesignSearchScope &operator=(const GLMDesignSearchScope &) = delete;
};

bool GLMInternal_design_search_active();
// Writes event e's kept column (grid factor S) into column e of design_matrix
// when one was made from the same inputs; true then.
bool GLMInternal_reuse_column(int e, int S);
// Keeps column e of design_matrix, just built from the inputs that the last
// GLMInternal_reuse_column(e, S) looked up.
void GLMInternal_keep_column(int e);
