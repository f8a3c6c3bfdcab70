#include "python/spatial_arrays.hpp"

namespace kavrel::python {

PyObject* rows_of_vec3(std::span<const Vec3> values) {
  double* out = nullptr;
  PyObject* array = new_array({static_cast<npy_intp>(values.size()), 3}, &out);
  if (array != nullptr)
    for (size_t i = 0; i < values.size(); ++i)
      for (int k = 0; k < 3; ++k) out[3 * i + k] = values[i][k];
  return array;
}

PyObject* vec3_array(const Vec3& value) {
  double* out = nullptr;
  PyObject* array = new_array({3}, &out);
  if (array != nullptr)
    for (int k = 0; k < 3; ++k) out[k] = value[k];
  return array;
}

PyObject* matrix6_array(const Matrix6& matrix) {
  double* out = nullptr;
  PyObject* array = new_array({6, 6}, &out);
  if (array != nullptr)
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 6; ++j) out[6 * i + j] = matrix(i, j);
  return array;
}

}  // namespace kavrel::python
