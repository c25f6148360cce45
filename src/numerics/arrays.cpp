#include "numerics/arrays.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

void alloc_error(const char *message) {
    std::fprintf(stderr, "Fatal Error:\n");
    std::fprintf(stderr, "%s\n", message);
    std::fprintf(stderr, "Program aborted.\n");
    std::exit(1);
}

namespace arrays_detail {

// A count that is negative or whose byte size overflows is an allocation failure.
static std::size_t byte_size(std::int64_t count, std::size_t element_size, const char *message) {
    if (count < 0 || static_cast<std::uint64_t>(count) > std::numeric_limits<std::size_t>::max() / element_size)
        alloc_error(message);
    std::size_t bytes = static_cast<std::size_t>(count) * element_size;
    return bytes == 0 ? 1 : bytes;  // a zero-length request still yields a releasable handle
}

void *checked_block(std::int64_t count, std::size_t element_size, const char *message) {
    void *p = std::malloc(byte_size(count, element_size, message));
    if (!p) alloc_error(message);
    return p;
}

// Row handles are followed by one hidden slot that keeps the data block, so
// that the matrix can be released knowing only its row count.
void **checked_rows(std::int64_t rows, std::int64_t cols, std::size_t element_size,
                    const char *message_rows, const char *message_data) {
    if (rows < 0 || cols < 0) alloc_error(message_rows);
    void **handles = static_cast<void **>(checked_block(rows + 1, sizeof(void *), message_rows));
    if (cols != 0 && rows > std::numeric_limits<std::int64_t>::max() / cols)
        alloc_error(message_data);
    char *data = static_cast<char *>(checked_block(rows * cols, element_size, message_data));
    for (std::int64_t r = 0; r < rows; ++r) handles[r] = data + static_cast<std::size_t>(r * cols) * element_size;
    handles[rows] = data;
    return handles;
}

void release_rows(void **rows, std::int64_t nrows) {
    if (!rows) return;
    std::free(rows[nrows]);
    std::free(rows);
}

}  // namespace arrays_detail

float *float_vector(std::int64_t n) { return alloc_vector<float>(n, "Allocation error in float_vector()."); }
double *double_vector(std::int64_t n) { return alloc_vector<double>(n, "Allocation error in double_vector()."); }
int *int_vector(std::int64_t n) { return alloc_vector<int>(n, "Allocation error in int_vector()."); }
std::int16_t *short_vector(std::int64_t n) { return alloc_vector<std::int16_t>(n, "Allocation error in short_vector()."); }
std::int32_t *long_vector(std::int64_t n) { return alloc_vector<std::int32_t>(n, "Allocation error in long_vector()."); }
ipoint3d *ipoint3d_vector(std::int64_t n) { return alloc_vector<ipoint3d>(n, "Allocation error in ipoint3d_vector()."); }

float **float_matrix(std::int64_t rows, std::int64_t cols) {
    return alloc_matrix<float>(rows, cols, "Allocation failure 1 in float_matrix().", "Allocation failure 2 in float_matrix().");
}
double **double_matrix(std::int64_t rows, std::int64_t cols) {
    return alloc_matrix<double>(rows, cols, "Allocation failure 1 in double_matrix().", "Allocation failure 2 in double_matrix().");
}
int **int_matrix(std::int64_t rows, std::int64_t cols) {
    return alloc_matrix<int>(rows, cols, "Allocation failure 1 in integer_matrix().", "Allocation failure 2 in integer_matrix().");
}

void free_float_vector(float *v) { release_vector(v); }
void free_double_vector(double *v) { release_vector(v); }
void free_int_vector(int *v) { release_vector(v); }
void free_short_vector(std::int16_t *v) { release_vector(v); }
void free_long_vector(std::int32_t *v) { release_vector(v); }
void free_ipoint3d_vector(ipoint3d *v) { release_vector(v); }
void free_float_matrix(float **m, std::int64_t rows) { release_matrix(m, rows); }
void free_double_matrix(double **m, std::int64_t rows) { release_matrix(m, rows); }
void free_int_matrix(int **m, std::int64_t rows) { release_matrix(m, rows); }
