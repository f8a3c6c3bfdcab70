// Spatial quantities as new NumPy arrays. Component orders are decided in
// types/layout.hpp; this only shapes the arrays.
#pragma once

#include <span>

#include "python/convert.hpp"
#include "types/layout.hpp"

namespace kavrel::python {

// (n, 6): one row per joint, angular part first as the workspace keeps it.
template <class Spatial>
PyObject* rows_angular_first(std::span<const Spatial> values) {
  double* out = nullptr;
  PyObject* array = new_array({static_cast<npy_intp>(values.size()), 6}, &out);
  if (array != nullptr)
    for (size_t i = 0; i < values.size(); ++i) write_angular_first(values[i], out + 6 * i);
  return array;
}

// (6,): angular part first.
template <class Spatial>
PyObject* vector_angular_first(const Spatial& value) {
  double* out = nullptr;
  PyObject* array = new_array({6}, &out);
  if (array != nullptr) write_angular_first(value, out);
  return array;
}

// (6, n): one column per velocity coordinate, linear rows first.
template <class Spatial>
PyObject* columns_linear_first(std::span<const Spatial> columns) {
  double* out = nullptr;
  PyObject* array = new_array({6, static_cast<npy_intp>(columns.size())}, &out);
  if (array != nullptr) write_columns_linear_first(columns, out);
  return array;
}

// (n, 3) from a list of 3-vectors.
PyObject* rows_of_vec3(std::span<const Vec3> values);

// (3,) from one 3-vector.
PyObject* vec3_array(const Vec3& value);

// (6, 6) from a fixed-size matrix, row by row.
PyObject* matrix6_array(const Matrix6& matrix);

}  // namespace kavrel::python
