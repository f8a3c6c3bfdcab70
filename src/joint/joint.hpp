// Joint kinds and their kinematics: transform, motion subspace, velocity.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "types/se3.hpp"

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

struct Joint {
  JointType joint_type = JointType::Fixed;
  Vec3 axis = Vec3::Zero();  // normalised at every use, never in place
  uint32_t nq = 0;
  uint32_t nv = 0;

  static Joint make(JointType type, const Vec3& axis) {
    auto [nq, nv] = dimensions(type);
    return {type, axis, nq, nv};
  }
};

// The columns of S: the spatial velocity of a unit rate of each coordinate.
struct MotionSubspace {
  std::array<Motion, 6> columns;
  uint32_t count = 0;

  const Motion& operator[](uint32_t k) const { return columns[k]; }
};

// Transform of the moving side relative to the fixed side, from q[offset..].
SE3 compute_joint_transform(const Joint& joint, std::span<const double> q, size_t offset);

MotionSubspace compute_joint_motion_subspace(const Joint& joint);

// S * v[offset .. offset + nv).
Motion compute_joint_velocity(const Joint& joint, std::span<const double> v, size_t offset);

}  // namespace kavrel
