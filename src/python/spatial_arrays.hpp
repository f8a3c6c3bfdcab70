// Spatial quantities as array results. Component orders are decided in
// types/layout.hpp; this only gives the arrays their shapes.
#pragma once

#include <span>

#include "python/convert.hpp"
#include "types/layout.hpp"

namespace kavrel::python {

// (n, 6): one row per joint, angular part first as the workspace keeps it.
template <class Spatial>
auto rows_angular_first(std::span<const Spatial> values) {
  return array_result({values.size(), 6}, [values](double* out) {
    for (size_t i = 0; i < values.size(); ++i) write_angular_first(values[i], out + 6 * i);
  });
}

// (6,): angular part first.
template <class Spatial>
auto vector_angular_first(const Spatial& value) {
  return array_result({6}, [value](double* out) { write_angular_first(value, out); });
}

// (6, n): one column per velocity coordinate, linear rows first.
template <class Spatial>
auto columns_linear_first(std::span<const Spatial> columns) {
  return array_result({6, columns.size()},
                      [columns](double* out) { write_columns_linear_first(columns, out); });
}
using MotionColumns = decltype(columns_linear_first(std::span<const Motion>()));

// (n, 3) from a list of 3-vectors.
inline auto rows_of_vec3(std::span<const Vec3> values) {
  return array_result({values.size(), 3}, [values](double* out) {
    for (size_t i = 0; i < values.size(); ++i)
      for (int k = 0; k < 3; ++k) out[3 * i + k] = values[i][k];
  });
}

// (3,) from one 3-vector.
inline auto vec3_array(const Vec3& value) {
  return array_result({3}, [value](double* out) {
    for (int k = 0; k < 3; ++k) out[k] = value[k];
  });
}

using Vec3Array = decltype(vec3_array(Vec3()));

// (r, c) from a fixed-size Eigen matrix (copied into the result), row by row.
template <class EigenMatrix>
auto matrix_array(const EigenMatrix& matrix) {
  static_assert(EigenMatrix::SizeAtCompileTime != Eigen::Dynamic, "a fixed-size matrix");
  constexpr size_t rows = EigenMatrix::RowsAtCompileTime, cols = EigenMatrix::ColsAtCompileTime;
  return array_result({rows, cols}, [matrix](double* out) {
    for (size_t i = 0; i < rows; ++i)
      for (size_t j = 0; j < cols; ++j) out[i * cols + j] = matrix(i, j);
  });
}

// (n, 6, 6): one spatial matrix per item.
template <class Item, class ToMatrix>
auto stack_of_matrix6(std::span<const Item> items, ToMatrix to_matrix) {
  return array_result({items.size(), 6, 6}, [items, to_matrix](double* out) {
    for (size_t i = 0; i < items.size(); ++i) {
      const Matrix6 m = to_matrix(items[i]);
      for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 6; ++c) out[36 * i + 6 * r + c] = m(r, c);
    }
  });
}

}  // namespace kavrel::python
