// Joint kinds and their kinematics: transform, motion subspace S, joint
// velocity S v and force projection S^T f. What depends only on the kind and
// the axis is computed once, when the joint is made.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <span>

#include "types/se3.hpp"
#include "types/sin_cos.hpp"

namespace kavrel {

enum class JointType : uint8_t { Fixed, Revolute, Continuous, Prismatic, Planar, Floating, Spherical };

struct JointDimensions {
  uint32_t nq;
  uint32_t nv;
};

// Configuration and velocity sizes of each kind.
constexpr JointDimensions dimensions(JointType type) {
  switch (type) {
    case JointType::Fixed: return {0, 0};
    case JointType::Revolute: return {1, 1};
    case JointType::Continuous: return {2, 1};
    case JointType::Prismatic: return {1, 1};
    case JointType::Planar: return {4, 3};
    case JointType::Floating: return {7, 6};
    case JointType::Spherical: return {4, 3};
  }
  return {0, 0};
}

// The URDF spelling of each kind: "fixed", "revolute", "continuous", ...
const char* kind_name(JointType type);

// The columns of S: the spatial velocity of a unit rate of each coordinate,
// in the joint's own frame.
struct MotionSubspace {
  std::array<Motion, 6> columns;
  uint32_t count = 0;

  const Motion& operator[](uint32_t k) const { return columns[k]; }
};

struct Joint {
  JointType joint_type = JointType::Fixed;
  Vec3 axis = Vec3::Zero();       // as given
  Vec3 unit_axis = Vec3::Zero();  // axis / |axis|, NaN for a zero axis of an axial kind
  uint32_t nq = 0;
  uint32_t nv = 0;
  MotionSubspace subspace;
  // k when unit_axis is +e_k or -e_k (sign in axis_sign), else -1: most
  // robot descriptions use such axes, and they make the placement cheap.
  int aligned_axis = -1;
  double axis_sign = 1.0;

  static Joint make(JointType type, const Vec3& axis);
};

// Transform of the moving side relative to the fixed side; x is the joint's
// slice of q (nq values).
SE3 compute_joint_transform(const Joint& joint, const double* x);

// placement * R(e_K, theta): two columns of the placement turn, one stays.
// The axis is a constant, so that the columns can stay in registers.
template <int K>
[[gnu::always_inline]] inline SE3 turn_about(const SE3& placement, double c, double s) {
  constexpr int a = (K + 1) % 3, b = (K + 2) % 3;
  SE3 out;
  out.rotation.col(K) = placement.rotation.col(K);
  out.rotation.col(a) = c * placement.rotation.col(a) + s * placement.rotation.col(b);
  out.rotation.col(b) = c * placement.rotation.col(b) - s * placement.rotation.col(a);
  out.translation = placement.translation;
  return out;
}

[[gnu::always_inline]] inline SE3 turn_about_aligned_axis(const SE3& placement, int k, double theta) {
  const auto [s, c] = sin_cos(theta);
  if (k == 0) return turn_about<0>(placement, c, s);
  return k == 1 ? turn_about<1>(placement, c, s) : turn_about<2>(placement, c, s);
}

// placement * transform: the joint's frame in its parent's frame.
[[gnu::always_inline]] inline SE3 compute_joint_placement(const Joint& joint, const SE3& placement, const double* x) {
  if (joint.aligned_axis >= 0) {
    switch (joint.joint_type) {
      case JointType::Revolute:
        return turn_about_aligned_axis(placement, joint.aligned_axis, joint.axis_sign * x[0]);
      case JointType::Prismatic:
        return {placement.rotation,
                placement.translation + (joint.axis_sign * x[0]) * placement.rotation.col(joint.aligned_axis)};
      case JointType::Fixed:
      case JointType::Continuous:
      case JointType::Planar:
      case JointType::Floating:
      case JointType::Spherical:
        break;
    }
  }
  if (joint.joint_type == JointType::Fixed) return placement;
  return placement.compose(compute_joint_transform(joint, x));
}

// Rotation of the quaternion (x, y, z, w), normalised without overflow or
// underflow: a very large or small one has its largest component scaled to 1 first.
Mat3 quaternion_rotation(double x, double y, double z, double w);

// S * v for the joint's slice of v (nv values). Inline: every pass calls it per joint.
inline Motion compute_joint_velocity(const Joint& joint, const double* x) {
  switch (joint.joint_type) {
    case JointType::Fixed:
      return Motion::zero();
    case JointType::Revolute:
    case JointType::Continuous:
      return {x[0] * joint.unit_axis, Vec3::Zero()};
    case JointType::Prismatic:
      return {Vec3::Zero(), x[0] * joint.unit_axis};
    case JointType::Planar:
      return {Vec3(0.0, 0.0, x[2]), Vec3(x[0], x[1], 0.0)};
    case JointType::Floating:
      return {Vec3(x[3], x[4], x[5]), Vec3(x[0], x[1], x[2])};
    case JointType::Spherical:
      return {Vec3(x[0], x[1], x[2]), Vec3::Zero()};
  }
  return Motion::zero();  // not reached: every kind returns above
}

// The columns of S carried to world coordinates by the joint's placement
// oMi, written to `columns` (nv values). Unit axes of the joint frame are
// columns of the rotation, which saves the products with zeros.
[[gnu::always_inline]] inline void write_world_subspace(const Joint& joint, const SE3& oMi, Motion* columns) {
  const Mat3& R = oMi.rotation;
  const Vec3& p = oMi.translation;
  const auto angular = [&](const Vec3& w) { return Motion{w, p.cross(w)}; };
  const auto linear = [](const Vec3& u) { return Motion{Vec3::Zero(), u}; };
  switch (joint.joint_type) {
    case JointType::Fixed:
      return;
    case JointType::Revolute:
    case JointType::Continuous:
      columns[0] = angular(joint.aligned_axis >= 0 ? Vec3(joint.axis_sign * R.col(joint.aligned_axis))
                                                   : rotate(R, joint.unit_axis));
      return;
    case JointType::Prismatic:
      columns[0] = linear(joint.aligned_axis >= 0 ? Vec3(joint.axis_sign * R.col(joint.aligned_axis))
                                                  : rotate(R, joint.unit_axis));
      return;
    case JointType::Planar:
      columns[0] = linear(R.col(0));
      columns[1] = linear(R.col(1));
      columns[2] = angular(R.col(2));
      return;
    case JointType::Floating:
      for (int k = 0; k < 3; ++k) {
        columns[k] = linear(R.col(k));
        columns[3 + k] = angular(R.col(k));
      }
      return;
    case JointType::Spherical:
      for (int k = 0; k < 3; ++k) columns[k] = angular(R.col(k));
      return;
  }
}

// S^T f, written to the joint's slice of a torque vector (nv values).
inline void project_force(const Joint& joint, const Force& f, double* tau) {
  switch (joint.joint_type) {
    case JointType::Fixed:
      return;
    case JointType::Revolute:
    case JointType::Continuous:
      tau[0] = joint.unit_axis.dot(f.angular);
      return;
    case JointType::Prismatic:
      tau[0] = joint.unit_axis.dot(f.linear);
      return;
    case JointType::Planar:
      tau[0] = f.linear.x(); tau[1] = f.linear.y(); tau[2] = f.angular.z();
      return;
    case JointType::Floating:
      for (int k = 0; k < 3; ++k) { tau[k] = f.linear[k]; tau[3 + k] = f.angular[k]; }
      return;
    case JointType::Spherical:
      for (int k = 0; k < 3; ++k) tau[k] = f.angular[k];
      return;
  }
}

}  // namespace kavrel
