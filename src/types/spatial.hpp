// Spatial motion and force vectors with named parts.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>

namespace kavrel {

using Vec3 = Eigen::Vector3d;
using Mat3 = Eigen::Matrix3d;

// [v]x, so that skew(v) * y == v.cross(y).
inline Mat3 skew(const Vec3& v) {
  Mat3 s;
  s << 0.0, -v.z(), v.y(), v.z(), 0.0, -v.x(), -v.y(), v.x(), 0.0;
  return s;
}

// Velocity or acceleration of a body, or one column of a Jacobian.
struct Motion {
  Vec3 angular = Vec3::Zero();
  Vec3 linear = Vec3::Zero();

  static Motion zero() { return {}; }
  Motion operator+(const Motion& o) const { return {angular + o.angular, linear + o.linear}; }
  Motion operator-(const Motion& o) const { return {angular - o.angular, linear - o.linear}; }
  Motion operator-() const { return {-angular, -linear}; }
  Motion& operator+=(const Motion& o) { angular += o.angular; linear += o.linear; return *this; }
  Motion& operator-=(const Motion& o) { angular -= o.angular; linear -= o.linear; return *this; }
  friend Motion operator*(double s, const Motion& m) { return {s * m.angular, s * m.linear}; }
};

// Moment and force acting on a body, or a spatial momentum.
struct Force {
  Vec3 angular = Vec3::Zero();  // moment
  Vec3 linear = Vec3::Zero();   // force

  static Force zero() { return {}; }
  Force operator+(const Force& o) const { return {angular + o.angular, linear + o.linear}; }
  Force operator-(const Force& o) const { return {angular - o.angular, linear - o.linear}; }
  Force& operator+=(const Force& o) { angular += o.angular; linear += o.linear; return *this; }
  friend Force operator*(double s, const Force& f) { return {s * f.angular, s * f.linear}; }
};

// m1 x m2: how m2 changes when seen from a frame moving with m1.
inline Motion cross(const Motion& m1, const Motion& m2) {
  return {m1.angular.cross(m2.angular),
          m1.angular.cross(m2.linear) + m1.linear.cross(m2.angular)};
}

// m x* f: the dual cross product, acting on forces.
inline Force cross(const Motion& m, const Force& f) {
  return {m.angular.cross(f.angular) + m.linear.cross(f.linear), m.angular.cross(f.linear)};
}

// Power of a force along a motion.
inline double dot(const Motion& m, const Force& f) {
  return m.linear.dot(f.linear) + m.angular.dot(f.angular);
}

}  // namespace kavrel
