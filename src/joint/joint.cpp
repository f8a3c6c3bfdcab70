#include "joint/joint.hpp"

#include <algorithm>
#include <cmath>

#include "types/result.hpp"
#include "types/sin_cos.hpp"

namespace kavrel {

namespace {

// Rotation by theta about the unit axis u, entry by entry (Rodrigues).
Mat3 axis_rotation(const Vec3& u, double theta) {
  if (theta == 0.0) return Mat3::Identity();
  const auto [s, c] = sin_cos(theta);
  const double t = 1.0 - c;
  const double ux = u.x(), uy = u.y(), uz = u.z();
  Mat3 r;
  r(0, 0) = ux * ux + c * (1.0 - ux * ux);
  r(1, 1) = uy * uy + c * (1.0 - uy * uy);
  r(2, 2) = uz * uz + c * (1.0 - uz * uz);
  r(0, 1) = t * ux * uy - s * uz;
  r(1, 0) = t * ux * uy + s * uz;
  r(0, 2) = t * ux * uz + s * uy;
  r(2, 0) = t * ux * uz - s * uy;
  r(1, 2) = t * uy * uz - s * ux;
  r(2, 1) = t * uy * uz + s * ux;
  return r;
}

MotionSubspace make_subspace(JointType type, const Vec3& u) {
  MotionSubspace s;
  auto angular = [](const Vec3& w) { return Motion{w, Vec3::Zero()}; };
  auto linear = [](const Vec3& l) { return Motion{Vec3::Zero(), l}; };
  switch (type) {
    case JointType::Fixed:
      break;
    case JointType::Revolute:
    case JointType::Continuous:
      s.columns[s.count++] = angular(u);
      break;
    case JointType::Prismatic:
      s.columns[s.count++] = linear(u);
      break;
    case JointType::Planar:
      s.columns[s.count++] = linear(Vec3::UnitX());
      s.columns[s.count++] = linear(Vec3::UnitY());
      s.columns[s.count++] = angular(Vec3::UnitZ());
      break;
    case JointType::Floating:
      for (int k = 0; k < 3; ++k) s.columns[s.count++] = linear(Vec3::Unit(k));
      for (int k = 0; k < 3; ++k) s.columns[s.count++] = angular(Vec3::Unit(k));
      break;
    case JointType::Spherical:
      for (int k = 0; k < 3; ++k) s.columns[s.count++] = angular(Vec3::Unit(k));
      break;
  }
  return s;
}

}  // namespace

const char* kind_name(JointType type) {
  switch (type) {
    case JointType::Fixed: return "fixed";
    case JointType::Revolute: return "revolute";
    case JointType::Continuous: return "continuous";
    case JointType::Prismatic: return "prismatic";
    case JointType::Planar: return "planar";
    case JointType::Floating: return "floating";
    case JointType::Spherical: return "spherical";
  }
  fail_internal("unknown joint type");
}

Joint Joint::make(JointType type, const Vec3& axis) {
  const auto [nq, nv] = dimensions(type);
  const Vec3 unit = axis / axis.norm();
  Joint joint{type, axis, unit, nq, nv, make_subspace(type, unit)};
  for (int k = 0; k < 3; ++k)
    if (std::abs(unit[k]) == 1.0 && unit[(k + 1) % 3] == 0.0 && unit[(k + 2) % 3] == 0.0) {
      joint.aligned_axis = k;
      joint.axis_sign = unit[k];
    }
  return joint;
}

Mat3 quaternion_rotation(double x, double y, double z, double w) {
  const double scale = std::max({std::abs(x), std::abs(y), std::abs(z), std::abs(w)});
  // Far from overflow and underflow (and not NaN), one division does.
  if (scale >= 0x1p-500 && scale <= 0x1p500) {
    const double inverse = 1.0 / std::sqrt(x * x + y * y + z * z + w * w);
    x *= inverse; y *= inverse; z *= inverse; w *= inverse;
  } else {
    x /= scale; y /= scale; z /= scale; w /= scale;
    const double n = std::sqrt(x * x + y * y + z * z + w * w);
    x /= n; y /= n; z /= n; w /= n;
  }
  Mat3 r;
  r(0, 0) = w * w + x * x - y * y - z * z;
  r(1, 1) = w * w - x * x + y * y - z * z;
  r(2, 2) = w * w - x * x - y * y + z * z;
  r(0, 1) = 2.0 * (x * y - w * z);
  r(1, 0) = 2.0 * (x * y + w * z);
  r(0, 2) = 2.0 * (x * z + w * y);
  r(2, 0) = 2.0 * (x * z - w * y);
  r(1, 2) = 2.0 * (y * z - w * x);
  r(2, 1) = 2.0 * (y * z + w * x);
  return r;
}

SE3 compute_joint_transform(const Joint& joint, const double* x) {
  switch (joint.joint_type) {
    case JointType::Fixed:
      return SE3::identity();
    case JointType::Revolute:
      return {axis_rotation(joint.unit_axis, x[0]), Vec3::Zero()};
    case JointType::Continuous:
      return {axis_rotation(joint.unit_axis, std::atan2(x[1], x[0])), Vec3::Zero()};
    case JointType::Prismatic:
      return {Mat3::Identity(), x[0] * joint.unit_axis};
    case JointType::Planar: {
      Mat3 r;
      r << x[2], -x[3], 0.0, x[3], x[2], 0.0, 0.0, 0.0, 1.0;
      return {r, Vec3(x[0], x[1], 0.0)};
    }
    case JointType::Floating:
      return {quaternion_rotation(x[3], x[4], x[5], x[6]), Vec3(x[0], x[1], x[2])};
    case JointType::Spherical:
      return {quaternion_rotation(x[0], x[1], x[2], x[3]), Vec3::Zero()};
  }
  fail_internal("unknown joint type");
}

}  // namespace kavrel
