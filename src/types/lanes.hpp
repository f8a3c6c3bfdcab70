// Two 3-vectors side by side, one per lane of a two-double register: two
// quantities that go through the same products (a body's velocity and its
// acceleration) take one pass of the arithmetic. Each lane sums in the order
// of the single-vector form, so that both round alike.
#pragma once

#include "types/spatial.hpp"

namespace kavrel {

typedef double Lanes __attribute__((vector_size(16)));

inline Lanes splat(double s) { return Lanes{s, s}; }

struct Vec3Pair {
  Lanes x, y, z;

  static Vec3Pair of(const Vec3& first, const Vec3& second) {
    return {Lanes{first.x(), second.x()}, Lanes{first.y(), second.y()}, Lanes{first.z(), second.z()}};
  }
  Vec3 first() const { return {x[0], y[0], z[0]}; }
  Vec3 second() const { return {x[1], y[1], z[1]}; }

  friend Vec3Pair operator*(double s, const Vec3Pair& v) { return {splat(s) * v.x, splat(s) * v.y, splat(s) * v.z}; }
};

// The pair forms of rotate_back and minus_cross (types/se3.hpp), term for term.
inline Vec3Pair rotate_back(const Mat3& R, const Vec3Pair& v) {
  const auto column_dot = [&](int c) { return splat(R(0, c)) * v.x + splat(R(1, c)) * v.y + splat(R(2, c)) * v.z; };
  return {column_dot(0), column_dot(1), column_dot(2)};
}

inline Vec3Pair minus_cross(const Vec3Pair& u, const Vec3& t, const Vec3Pair& w) {
  return {u.x - (splat(t.y()) * w.z - splat(t.z()) * w.y), u.y - (splat(t.z()) * w.x - splat(t.x()) * w.z),
          u.z - (splat(t.x()) * w.y - splat(t.y()) * w.x)};
}

}  // namespace kavrel
