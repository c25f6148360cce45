// Zero-based numeric arrays. A vector is one block of n elements; a matrix is
// an array of row handles, rows addressable one by one (they share one
// contiguous block behind the row handles). Allocation never fails towards the
// caller: it ends the process with a fatal message on standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

struct ipoint3d {
    int x, y, z;
};

[[noreturn]] void alloc_error(const char *message);

namespace arrays_detail {
void *checked_block(std::int64_t count, std::size_t element_size, const char *message);
void **checked_rows(std::int64_t rows, std::int64_t cols, std::size_t element_size,
                    const char *message_rows, const char *message_data);
void release_rows(void **rows, std::int64_t nrows);
}  // namespace arrays_detail

template <typename T>
T *alloc_vector(std::int64_t n, const char *message) {
    return static_cast<T *>(arrays_detail::checked_block(n, sizeof(T), message));
}

template <typename T>
void release_vector(T *v) {
    std::free(v);
}

template <typename T>
T **alloc_matrix(std::int64_t rows, std::int64_t cols, const char *message_rows, const char *message_data) {
    return reinterpret_cast<T **>(arrays_detail::checked_rows(rows, cols, sizeof(T), message_rows, message_data));
}

template <typename T>
void release_matrix(T **m, std::int64_t rows) {
    arrays_detail::release_rows(reinterpret_cast<void **>(m), rows);
}

float *float_vector(std::int64_t n);
double *double_vector(std::int64_t n);
int *int_vector(std::int64_t n);
std::int16_t *short_vector(std::int64_t n);
std::int32_t *long_vector(std::int64_t n);
ipoint3d *ipoint3d_vector(std::int64_t n);
float **float_matrix(std::int64_t rows, std::int64_t cols);
double **double_matrix(std::int64_t rows, std::int64_t cols);
int **int_matrix(std::int64_t rows, std::int64_t cols);

void free_float_vector(float *v);
void free_double_vector(double *v);
void free_int_vector(int *v);
void free_short_vector(std::int16_t *v);
void free_long_vector(std::int32_t *v);
void free_ipoint3d_vector(ipoint3d *v);
void free_float_matrix(float **m, std::int64_t rows);
void free_double_matrix(double **m, std::int64_t rows);
void free_int_matrix(int **m, std::int64_t rows);

// RAII owners for working storage that does not live in the model state.
template <typename T>
class OwnedVector {
public:
    OwnedVector() = default;
    explicit OwnedVector(std::int64_t n, const char *message = "Allocation error in float_vector().")
        : data_(alloc_vector<T>(n, message)), size_(n) {}
    OwnedVector(const OwnedVector &) = delete;
    OwnedVector &operator=(const OwnedVector &) = delete;
    OwnedVector(OwnedVector &&o) noexcept : data_(o.data_), size_(o.size_) { o.data_ = nullptr; o.size_ = 0; }
    OwnedVector &operator=(OwnedVector &&o) noexcept {
        if (this != &o) { release_vector(data_); data_ = o.data_; size_ = o.size_; o.data_ = nullptr; o.size_ = 0; }
        return *this;
    }
    ~OwnedVector() { release_vector(data_); }
    T *get() const { return data_; }
    T &operator[](std::int64_t i) const { return data_[i]; }
    std::int64_t size() const { return size_; }

private:
    T *data_ = nullptr;
    std::int64_t size_ = 0;
};

template <typename T>
class OwnedMatrix {
public:
    OwnedMatrix() = default;
    OwnedMatrix(std::int64_t rows, std::int64_t cols,
                const char *message_rows = "Allocation failure 1 in float_matrix().",
                const char *message_data = "Allocation failure 2 in float_matrix().")
        : rows_(rows), cols_(cols), data_(alloc_matrix<T>(rows, cols, message_rows, message_data)) {}
    OwnedMatrix(const OwnedMatrix &) = delete;
    OwnedMatrix &operator=(const OwnedMatrix &) = delete;
    OwnedMatrix(OwnedMatrix &&o) noexcept : rows_(o.rows_), cols_(o.cols_), data_(o.data_) { o.data_ = nullptr; }
    OwnedMatrix &operator=(OwnedMatrix &&o) noexcept {
        if (this != &o) {
            if (data_) release_matrix(data_, rows_);
            rows_ = o.rows_; cols_ = o.cols_; data_ = o.data_; o.data_ = nullptr;
        }
        return *this;
    }
    ~OwnedMatrix() { if (data_) release_matrix(data_, rows_); }
    T **get() const { return data_; }
    T *operator[](std::int64_t i) const { return data_[i]; }
    std::int64_t rows() const { return rows_; }
    std::int64_t cols() const { return cols_; }

private:
    std::int64_t rows_ = 0, cols_ = 0;
    T **data_ = nullptr;
};
