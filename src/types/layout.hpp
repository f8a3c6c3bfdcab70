// The one place where spatial vectors meet a component order: 6-vectors and
// 6 x n matrices leave the core linear-first (Jacobians, spatial matrices,
// the gravity 6-vector) or angular-first (stored per-joint vectors).
#pragma once

#include <span>

#include <Eigen/Core>

#include "types/inertia.hpp"

namespace kavrel {

using Matrix6 = Eigen::Matrix<double, 6, 6>;
using Vector6 = Eigen::Matrix<double, 6, 1>;

// Six values, linear part first.
inline void write_linear_first(const Motion& m, double* out) {
  for (int k = 0; k < 3; ++k) { out[k] = m.linear[k]; out[3 + k] = m.angular[k]; }
}
inline Motion read_linear_first(const double* in) {
  return {Vec3(in[3], in[4], in[5]), Vec3(in[0], in[1], in[2])};
}

// Six values, angular part first.
template <class Spatial>
inline void write_angular_first(const Spatial& s, double* out) {
  for (int k = 0; k < 3; ++k) { out[k] = s.angular[k]; out[3 + k] = s.linear[k]; }
}

// Columns of spatial vectors as a 6 x n matrix, linear rows first, row-major.
template <class Spatial>
inline void write_columns_linear_first(std::span<const Spatial> columns, double* out) {
  const size_t n = columns.size();
  for (size_t c = 0; c < n; ++c)
    for (int k = 0; k < 3; ++k) {
      out[k * n + c] = columns[c].linear[k];
      out[(3 + k) * n + c] = columns[c].angular[k];
    }
}

// Spatial vectors as linear-first 6-vectors, for the core's 6 x n matrix algebra.
template <class Spatial>
inline Vector6 linear_first(const Spatial& s) {
  Vector6 out;
  out.head<3>() = s.linear;
  out.tail<3>() = s.angular;
  return out;
}
inline Motion motion_linear_first(const Vector6& x) { return {x.tail<3>(), x.head<3>()}; }
inline Force force_linear_first(const Vector6& x) { return {x.tail<3>(), x.head<3>()}; }

// The 4 x 4 homogeneous matrix of a transform, row by row.
inline void write_homogeneous(const SE3& m, double* out) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) out[4 * r + c] = m.rotation(r, c);
    out[4 * r + 3] = m.translation[r];
  }
  out[12] = out[13] = out[14] = 0.0;
  out[15] = 1.0;
}

// The 6 x 6 spatial inertia matrix, linear-first.
inline Matrix6 to_matrix6(const Inertia& inertia) {
  const double m = inertia.mass;
  const Vec3& c = inertia.lever;
  Mat3 cx = skew(c);
  Matrix6 out;
  out.topLeftCorner<3, 3>() = m * Mat3::Identity();
  out.topRightCorner<3, 3>() = -m * cx;
  out.bottomLeftCorner<3, 3>() = m * cx;
  const auto& s = inertia.rotational.values;
  // I_c + m (|c|^2 E - c c^T), written entry by entry.
  out(3, 3) = s[0] + m * (c.y() * c.y() + c.z() * c.z());
  out(4, 4) = s[2] + m * (c.x() * c.x() + c.z() * c.z());
  out(5, 5) = s[5] + m * (c.x() * c.x() + c.y() * c.y());
  out(4, 3) = out(3, 4) = s[1] - m * c.x() * c.y();
  out(5, 3) = out(3, 5) = s[3] - m * c.x() * c.z();
  out(5, 4) = out(4, 5) = s[4] - m * c.y() * c.z();
  return out;
}

// A linear-first 6 x 6 matrix applied to a motion, the result read as a force.
inline Force apply(const Matrix6& m, const Motion& x) { return force_linear_first(m * linear_first(x)); }

// The same with the transpose of the matrix, the result read as a motion's dual.
inline Force apply_transpose(const Matrix6& m, const Motion& x) {
  return force_linear_first(m.transpose() * linear_first(x));
}

// dY = (m x*) Y - Y (m x): the rate of a world inertia Y carried by a body
// moving with m, in closed form, linear-first.
[[gnu::always_inline]] inline Matrix6 compute_inertia_variation(const Inertia& inertia, const Motion& m) {
  // With W = [w]x, U = [u]x, C = [c]x and Ib = I_c - m C C, the product
  // formula reduces to the blocks [[0, -m [u + w x c]x], [m [u + w x c]x, W Ib - Ib W - m (U C + C U)]].
  const double mass = inertia.mass;
  const Vec3& c = inertia.lever;
  // C C = c c^T - |c|^2 E and U C + C U = c u^T + u c^T - 2 (u . c) E spare
  // the products of skew matrices.
  const Vec3& u = m.linear;
  Mat3 ib = inertia.rotational.matrix() - mass * c * c.transpose();
  ib.diagonal().array() += mass * c.squaredNorm();
  const Mat3 coupling = mass * skew(u + m.angular.cross(c));
  const Mat3 wib = skew(m.angular) * ib;
  Matrix6 out;
  out.topLeftCorner<3, 3>().setZero();
  out.topRightCorner<3, 3>() = -coupling;
  out.bottomLeftCorner<3, 3>() = coupling;
  const Mat3 cu = mass * c * u.transpose();
  out.bottomRightCorner<3, 3>() = wib + wib.transpose() - cu - cu.transpose();
  out.bottomRightCorner<3, 3>().diagonal().array() += 2.0 * mass * u.dot(c);
  return out;
}

// into += X(f), with X(f) m = m x* f for every motion m, linear-first.
inline void add_momentum_cross(Matrix6& into, const Force& f) {
  const Mat3 px = skew(f.linear);
  into.topRightCorner<3, 3>() -= px;
  into.bottomLeftCorner<3, 3>() -= px;
  into.bottomRightCorner<3, 3>() -= skew(f.angular);
}

}  // namespace kavrel
