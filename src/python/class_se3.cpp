// SE3: an immutable rigid transform.
#include "python/binding.hpp"
#include "python/classes.hpp"
#include "python/spatial_arrays.hpp"

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
  Eigen::Matrix4d h = Eigen::Matrix4d::Identity();
  h.topLeftCorner<3, 3>() = self.rotation;
  h.topRightCorner<3, 1>() = self.translation;
  return matrix_array(h);
}

std::string text(const SE3&) { return "SE3(rotation=..., translation=...)"; }

PyMethodDef methods[] = {
    method_row<"SE3", "identity()", identity, "", METH_STATIC>(),
    method_row<"SE3", "compose($self, other)", compose>(),
    method_row<"SE3", "inverse($self)", inverse>(),
    method_row<"SE3", "to_homogeneous($self)", to_homogeneous>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    property_row<"homogeneous", to_homogeneous,
                 "Get homogeneous matrix as a property (alias for to_homogeneous)">(),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr auto doc = class_doc<"SE3", "(rotation, translation)">();

}  // namespace

PyTypeObject* create_se3_class() {
  return create_class({"kavrel.SE3", doc.c_str(), sizeof(Box<SE3>), dealloc_box<SE3>,
                       &Constructor<"SE3", "(rotation, translation)", construct>::call, methods,
                       properties, self_text<text>, self_text<text>});
}

}  // namespace kavrel::python
