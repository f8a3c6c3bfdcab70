// Rigid transforms: child coordinates to parent coordinates.
#pragma once

#include <utility>

#include "types/lanes.hpp"

namespace kavrel {

// R v and R^T v, summed in one written order: some passes are built with
// other vectorisation settings (see CMakeLists.txt), and Eigen's products
// would round differently in them, so that two passes could disagree in the
// last bit of the placements and Jacobian columns they both write.
inline Vec3 rotate(const Mat3& R, const Vec3& v) { return R.col(0) * v.x() + R.col(1) * v.y() + R.col(2) * v.z(); }

inline Vec3 rotate_back(const Mat3& R, const Vec3& v) {
  const auto column_dot = [&](int c) { return R(0, c) * v.x() + R(1, c) * v.y() + R(2, c) * v.z(); };
  return {column_dot(0), column_dot(1), column_dot(2)};
}

// u - t x w and u + t x w component by component: a cross product stored
// whole and read back in halves would stall the pass.
inline Vec3 minus_cross(const Vec3& u, const Vec3& t, const Vec3& w) {
  return {u.x() - (t.y() * w.z() - t.z() * w.y()), u.y() - (t.z() * w.x() - t.x() * w.z()),
          u.z() - (t.x() * w.y() - t.y() * w.x())};
}

inline Vec3 plus_cross(const Vec3& u, const Vec3& t, const Vec3& w) {
  return {u.x() + (t.y() * w.z() - t.z() * w.y()), u.y() + (t.z() * w.x() - t.x() * w.z()),
          u.z() + (t.x() * w.y() - t.y() * w.x())};
}

struct SE3 {
  Mat3 rotation = Mat3::Identity();
  Vec3 translation = Vec3::Zero();

  static SE3 identity() { return {}; }

  // First this->other, then this: (Ra Rb, pa + Ra pb).
  SE3 compose(const SE3& other) const {
    SE3 out{Mat3(), translation + rotate(rotation, other.translation)};
    for (int c = 0; c < 3; ++c) out.rotation.col(c) = rotate(rotation, other.rotation.col(c));
    return out;
  }

  // Uses the transpose; the rotation is not checked for orthonormality.
  SE3 inverse() const {
    return {rotation.transpose(), -rotate_back(rotation, translation)};
  }

  Vec3 act_on_point(const Vec3& x) const { return rotate(rotation, x) + translation; }

  // Motion expressed in the child frame, re-expressed in the parent frame.
  Motion act(const Motion& m) const {
    const Vec3 angular = rotate(rotation, m.angular);
    return {angular, plus_cross(rotate(rotation, m.linear), translation, angular)};
  }

  // Motion expressed in the parent frame, re-expressed in the child frame.
  Motion act_inverse(const Motion& m) const {
    return {rotate_back(rotation, m.angular), rotate_back(rotation, minus_cross(m.linear, translation, m.angular))};
  }

  // Two motions at once, as a body's velocity and acceleration go.
  std::pair<Motion, Motion> act_inverse(const Motion& first, const Motion& second) const {
    const Vec3Pair angular = Vec3Pair::of(first.angular, second.angular);
    const Vec3Pair w = rotate_back(rotation, angular);
    const Vec3Pair linear = Vec3Pair::of(first.linear, second.linear);
    const Vec3Pair u = rotate_back(rotation, minus_cross(linear, translation, angular));
    return {{w.first(), u.first()}, {w.second(), u.second()}};
  }

  Force act(const Force& f) const {
    const Vec3 linear = rotate(rotation, f.linear);
    return {plus_cross(rotate(rotation, f.angular), translation, linear), linear};
  }

  Force act_inverse(const Force& f) const {
    return {rotate_back(rotation, minus_cross(f.angular, translation, f.linear)), rotate_back(rotation, f.linear)};
  }
};

}  // namespace kavrel
