// Spatial inertia of a rigid body in compact form.
#pragma once

#include <array>

#include "types/se3.hpp"

namespace kavrel {

// Symmetric 3x3 matrix kept as its lower triangle: xx, yx, yy, zx, zy, zz.
struct Symmetric3 {
  std::array<double, 6> values{};

  static Symmetric3 from_matrix(const Mat3& m) {
    return {{m(0, 0), m(1, 0), m(1, 1), m(2, 0), m(2, 1), m(2, 2)}};
  }
  Mat3 matrix() const {
    const auto& s = values;
    Mat3 m;
    m << s[0], s[1], s[3], s[1], s[2], s[4], s[3], s[4], s[5];
    return m;
  }
  Vec3 operator*(const Vec3& w) const {
    const auto& s = values;
    return {s[0] * w.x() + s[1] * w.y() + s[3] * w.z(),
            s[1] * w.x() + s[2] * w.y() + s[4] * w.z(),
            s[3] * w.x() + s[4] * w.y() + s[5] * w.z()};
  }
  Vec3Pair operator*(const Vec3Pair& w) const {
    const auto& s = values;
    return {splat(s[0]) * w.x + splat(s[1]) * w.y + splat(s[3]) * w.z,
            splat(s[1]) * w.x + splat(s[2]) * w.y + splat(s[4]) * w.z,
            splat(s[3]) * w.x + splat(s[4]) * w.y + splat(s[5]) * w.z};
  }
};

struct Inertia {
  double mass = 0.0;
  Vec3 lever = Vec3::Zero();  // centre of mass
  Symmetric3 rotational{};    // about the centre of mass

  static Inertia zero() { return {}; }

  // Momentum of the body moving with m: p = m (u - c x w), h = I w + c x p.
  Force operator*(const Motion& m) const {
    const Vec3 linear = mass * minus_cross(m.linear, lever, m.angular);
    return {plus_cross(rotational * m.angular, lever, linear), linear};
  }

  // Y a + v x* (Y v), the force that gives the body acceleration a at
  // velocity v. With p_v = m (u - c x w) the terms about the origin reduce to
  //   f = m (a_u - c x a_w) + w x p_v,   n = I a_w + w x (I w) + c x f,
  // as (u + w x c) x p_v = 0 cancels the other cross terms.
  // The products of v and of a run side by side.
  [[gnu::always_inline]] Force force_at(const Motion& v, const Motion& a) const {
    const Vec3& w = v.angular;
    const Vec3Pair angular = Vec3Pair::of(w, a.angular);
    const Vec3Pair momenta = mass * minus_cross(Vec3Pair::of(v.linear, a.linear), lever, angular);
    const Vec3Pair turning = rotational * angular;
    const Vec3 linear = plus_cross(momenta.second(), w, momenta.first());
    return {plus_cross(plus_cross(turning.second(), w, turning.first()), lever, linear), linear};
  }
};

// Below this total mass a body or subtree has no centre of mass.
inline constexpr double kMassThreshold = 1e-10;

// The inertia re-expressed in the parent frame of the transform: (m, R c + p,
// R I R^T), the last product formed for the six stored entries only. Inline:
// a result returned through the stack stalls the copy into the workspace.
[[gnu::always_inline]] inline Inertia se3_act_on_inertia(const SE3& placement, const Inertia& inertia) {
  const Mat3& r = placement.rotation;
  // Rows 0 and 1 of R I side by side (I is symmetric: they are I times rows 0
  // and 1 of R), row 2 alone; then R I R^T from them.
  const Vec3Pair top = inertia.rotational * Vec3Pair::of(r.row(0), r.row(1));
  const Vec3 bottom = inertia.rotational * Vec3(r.row(2));
  // (xx, yx) and (xy, yy): the two rows times rows 0 and 1 of R; zx, zy, zz one by one.
  const auto top_dot = [&](int j) { return top.x * splat(r(j, 0)) + top.y * splat(r(j, 1)) + top.z * splat(r(j, 2)); };
  const auto bottom_dot = [&](int j) { return bottom.x() * r(j, 0) + bottom.y() * r(j, 1) + bottom.z() * r(j, 2); };
  const Lanes first = top_dot(0), second = top_dot(1);
  return {inertia.mass, placement.act_on_point(inertia.lever),
          Symmetric3{{first[0], first[1], second[1], bottom_dot(0), bottom_dot(1), bottom_dot(2)}}};
}

// Adds `other` into `into`, both in the same coordinates. Below the mass
// threshold the masses and rotational inertias add and the lever stays.
inline void add_inertias_inplace(Inertia& into, const Inertia& other) {
  const double m = into.mass + other.mass;
  // Too light for a centre of mass: keep the lever, but never drop rotational
  // inertia (a NaN total does not take this exit).
  if (m < kMassThreshold) {
    for (int k = 0; k < 6; ++k) into.rotational.values[k] += other.rotational.values[k];
    into.mass = m;
    return;
  }
  // The parallel-axis terms of both parts about the common centre of mass
  // sum to one of the reduced mass m1 m2 / m at the offset between them.
  const Vec3 d = into.lever - other.lever;
  const double reduced = into.mass * other.mass / m, n2 = d.squaredNorm();
  const std::array<double, 6> shift{reduced * (n2 - d.x() * d.x()), -reduced * d.y() * d.x(),
                                    reduced * (n2 - d.y() * d.y()), -reduced * d.z() * d.x(),
                                    -reduced * d.z() * d.y(),       reduced * (n2 - d.z() * d.z())};
  for (int k = 0; k < 6; ++k) into.rotational.values[k] += other.rotational.values[k] + shift[k];
  into.lever = (other.mass * other.lever + into.mass * into.lever) / m;
  into.mass = m;
}

}  // namespace kavrel
