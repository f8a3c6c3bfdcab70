// SE3: an immutable rigid transform.
#include "python/binding.hpp"
#include "python/classes.hpp"
#include "python/spatial_arrays.hpp"
#include "types/exponential.hpp"

namespace kavrel::python {

namespace {

Result<SE3> construct(const MatrixArgument<3, 3>& rotation, std::span<const double> translation) {
  if (rotation.rows != 3 || rotation.cols != 3 || translation.size() != 3)
    return value_error("Rotation must be 3x3 matrix and translation must be 3D vector");
  SE3 transform;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) transform.rotation(i, j) = rotation(i, j);
    transform.translation[i] = translation[i];
  }
  return transform;
}

SE3 identity() { return SE3::identity(); }
SE3 compose(const SE3& self, const SE3& other) { return self.compose(other); }
SE3 inverse(const SE3& self) { return self.inverse(); }

auto to_homogeneous(const SE3& self) {
  return array_result({4, 4}, [self](double* out) { write_homogeneous(self, out); });
}

std::string text(const SE3&) { return "SE3(rotation=..., translation=...)"; }

auto rotation(const SE3& self) { return matrix_array(self.rotation); }
auto translation(const SE3& self) { return vec3_array(self.translation); }

// R x + p for one point (3,) or for each row of an (N, 3) array; the result has the same shape.
auto act(const SE3& self, const PointsArgument& points) {
  const RowsArgument<3>& in = points.points;
  const size_t n = static_cast<size_t>(in.rows);
  auto fill = [self, &in, n](double* out) {
    for (size_t i = 0; i < n; ++i) {
      const Vec3 x = self.act_on_point(Vec3(in.values[3 * i], in.values[3 * i + 1], in.values[3 * i + 2]));
      for (int k = 0; k < 3; ++k) out[3 * i + k] = x[k];
    }
  };
  using Points = decltype(array_result({n, 3}, fill));
  if (in.cols != 3) return Result<Points>(value_error("points must have shape (3,) or (N, 3)"));
  return Result<Points>(points.single ? array_result({3}, fill) : array_result({n, 3}, fill));
}

// The twist, linear part first like the rows of a Jacobian.
auto log_twist(const SE3& self) {
  return array_result({6}, [twist = se3_log(self)](double* out) { write_linear_first(twist, out); });
}

Result<SE3> exp_twist(std::span<const double> twist) {
  if (twist.size() != 6) return value_error("twist must have 6 elements [vx, vy, vz, wx, wy, wz]");
  return se3_exp(read_linear_first(twist.data()));
}

// Pickling and copying rebuild the transform from its two arrays.
auto reduce(const SE3& self) {
  return std::tuple(ClassObject<SE3>{}, std::tuple(rotation(self), translation(self)));
}

PyMethodDef methods[] = {
    method_row<"SE3", "identity()", identity, "", METH_STATIC>(),
    method_row<"SE3", "compose($self, other)", compose>(),
    method_row<"SE3", "inverse($self)", inverse>(),
    method_row<"SE3", "to_homogeneous($self)", to_homogeneous>(),
    method_row<"SE3", "act($self, points)", act>(),
    method_row<"SE3", "log($self)", log_twist>(),
    method_row<"SE3", "exp(twist)", exp_twist, "", METH_STATIC>(),
    method_row<"SE3", "__reduce__($self)", reduce>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    property_row<"homogeneous", to_homogeneous,
                 "Get homogeneous matrix as a property (alias for to_homogeneous)">(),
    property_row<"rotation", rotation>(),
    property_row<"translation", translation>(),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr auto doc = class_doc<"SE3", "(rotation, translation)">();

}  // namespace

PyTypeObject* create_se3_class() {
  return create_class({"kavrel.SE3", doc.c_str(), sizeof(Box<SE3>), dealloc_box<SE3>,
                       &Constructor<"SE3", "(rotation, translation)", construct>::call, methods,
                       properties, self_text<text>, self_text<text>, binary_operator<SE3, compose>});
}

}  // namespace kavrel::python
