#include <cstdio>
#include <cstdlib>

#include "numerics/matrix_inverse.h"
#include "volume/volume_header.h"

namespace {
Mat44 identity() {
    Mat44 m{};
    for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
    return m;
}

// Names the file of a voxel-to-world matrix that cannot be inverted and why:
// an axis whose column is zero has a voxel size of 0; otherwise the axes are
// not independent.
void explain_singular(const Mat44 &m, const char *file_name) {
    for (int j = 0; j < 3; ++j)
        if (m.m[0][j] == 0.0f && m.m[1][j] == 0.0f && m.m[2][j] == 0.0f) {
            std::printf("Error: the voxel size along %c of file %s is 0, so its voxel-to-world matrix cannot be "
                        "inverted.\n", "xyz"[j], file_name);
            return;
        }
    std::printf("Error: the voxel axes of file %s are not independent, so its voxel-to-world matrix cannot be "
                "inverted.\n", file_name);
}
}  // namespace

Mat44 scale_and_shift_to_mat44(const float resolution[3], const float origin[3], const float direction[3]) {
    Mat44 m = identity();
    for (int i = 0; i < 3; ++i) {
        m.m[i][i] = resolution[i] * direction[i];
        m.m[i][3] = origin[i];
    }
    return m;
}

Mat44 general_affine_to_mat44(const float row_x[4], const float row_y[4], const float row_z[4]) {
    Mat44 m = identity();
    const float *rows[3] = {row_x, row_y, row_z};
    bool degenerate = false;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) m.m[i][j] = rows[i][j];
        if (rows[i][0] == 0.0f && rows[i][1] == 0.0f && rows[i][2] == 0.0f) degenerate = true;
    }
    if (degenerate) {
        // A row without any rotation/scaling part makes the matrix singular:
        // fall back to the identity, keeping the translations.
        std::printf("Invalid Affine transformation matrix: resetting to identity matrix.\n");
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) m.m[i][j] = i == j ? 1.0f : 0.0f;
    }
    return m;
}

// The work matrix lives on the stack: a singular matrix ends the program, and
// nothing is left allocated when it does.
Mat44 invert_mat44(const Mat44 &m, const char *file_name) {
    Mat44 inverse = m;
    float *rows[4] = {inverse.m[0], inverse.m[1], inverse.m[2], inverse.m[3]};
    int failed_row = -1;
    if (rInvertSquareMatrix(4, rows, &failed_row)) {
        if (file_name) explain_singular(m, file_name);
        std::printf("failed on row %d\n", failed_row);
        std::exit(1);
    }
    return inverse;
}
