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

// I_c + m (|c|^2 E - c c^T): the rotational inertia about the frame's origin.
inline Mat3 rotational_about_origin(const Inertia& inertia) {
  const double m = inertia.mass;
  const Vec3& c = inertia.lever;
  const auto& s = inertia.rotational.values;
  Mat3 out;
  out(0, 0) = s[0] + m * (c.y() * c.y() + c.z() * c.z());
  out(1, 1) = s[2] + m * (c.x() * c.x() + c.z() * c.z());
  out(2, 2) = s[5] + m * (c.x() * c.x() + c.y() * c.y());
  out(1, 0) = out(0, 1) = s[1] - m * c.x() * c.y();
  out(2, 0) = out(0, 2) = s[3] - m * c.x() * c.z();
  out(2, 1) = out(1, 2) = s[4] - m * c.y() * c.z();
  return out;
}

// The 6 x 6 spatial inertia matrix, linear-first, written entry by entry into
// out (a 6 x 6 matrix or block): a matrix put together first and then copied
// would be read back in packets before its single entries have landed.
template <class Out>
inline void write_matrix6(const Inertia& inertia, Out&& out) {
  const double m = inertia.mass;
  const Vec3& c = inertia.lever;
  const double mx = m * c.x(), my = m * c.y(), mz = m * c.z();
  // m E, and m [c]x below it with its transpose beside it.
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) out(r, k) = r == k ? m : 0.0;
  out(3, 0) = out(4, 1) = out(5, 2) = out(0, 3) = out(1, 4) = out(2, 5) = 0.0;
  out(4, 0) = out(0, 4) = mz;
  out(3, 1) = out(1, 3) = -mz;
  out(5, 0) = out(0, 5) = -my;
  out(3, 2) = out(2, 3) = my;
  out(5, 1) = out(1, 5) = mx;
  out(4, 2) = out(2, 4) = -mx;
  const Mat3 about_origin = rotational_about_origin(inertia);
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) out(3 + r, 3 + k) = about_origin(r, k);
}

inline Matrix6 to_matrix6(const Inertia& inertia) {
  Matrix6 out;
  write_matrix6(inertia, out);
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
