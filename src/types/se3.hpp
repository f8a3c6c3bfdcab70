// Rigid transforms: child coordinates to parent coordinates.
#pragma once

#include "types/spatial.hpp"

namespace kavrel {

struct SE3 {
  Mat3 rotation = Mat3::Identity();
  Vec3 translation = Vec3::Zero();

  static SE3 identity() { return {}; }

  // First this->other, then this: (Ra Rb, pa + Ra pb).
  SE3 compose(const SE3& other) const {
    return {rotation * other.rotation, translation + rotation * other.translation};
  }

  // Uses the transpose; the rotation is not checked for orthonormality.
  SE3 inverse() const {
    Mat3 rt = rotation.transpose();
    return {rt, -(rt * translation)};
  }

  Vec3 act_on_point(const Vec3& x) const { return rotation * x + translation; }

  // Motion expressed in the child frame, re-expressed in the parent frame.
  Motion act(const Motion& m) const {
    Vec3 angular = rotation * m.angular;
    return {angular, rotation * m.linear + translation.cross(angular)};
  }

  // Motion expressed in the parent frame, re-expressed in the child frame.
  Motion act_inverse(const Motion& m) const {
    return {rotation.transpose() * m.angular,
            rotation.transpose() * (m.linear - translation.cross(m.angular))};
  }

  Force act(const Force& f) const {
    Vec3 linear = rotation * f.linear;
    return {rotation * f.angular + translation.cross(linear), linear};
  }

  Force act_inverse(const Force& f) const {
    return {rotation.transpose() * (f.angular - translation.cross(f.linear)),
            rotation.transpose() * f.linear};
  }
};

}  // namespace kavrel
