#include "types/layout.hpp"

namespace kavrel {

Matrix6 compute_inertia_variation(const Inertia& inertia, const Motion& m) {
  // With W = [w]x, U = [u]x, C = [c]x and Ib = I_c - m C C, the product
  // formula reduces to the blocks [[0, -m [u + w x c]x], [m [u + w x c]x, W Ib - Ib W - m (U C + C U)]].
  const double mass = inertia.mass;
  const Vec3& c = inertia.lever;
  const Mat3 cx = skew(c), wx = skew(m.angular), ux = skew(m.linear);
  const Mat3 ib = inertia.rotational.matrix() - mass * cx * cx;
  const Mat3 coupling = mass * skew(m.linear + m.angular.cross(c));
  const Mat3 wib = wx * ib;
  Matrix6 out;
  out.topLeftCorner<3, 3>().setZero();
  out.topRightCorner<3, 3>() = -coupling;
  out.bottomLeftCorner<3, 3>() = coupling;
  out.bottomRightCorner<3, 3>() = wib + wib.transpose() - mass * (ux * cx + cx * ux);
  return out;
}

Matrix6 momentum_cross_matrix(const Force& f) {
  Matrix6 out;
  const Mat3 px = skew(f.linear);
  out.topLeftCorner<3, 3>().setZero();
  out.topRightCorner<3, 3>() = -px;
  out.bottomLeftCorner<3, 3>() = -px;
  out.bottomRightCorner<3, 3>() = -skew(f.angular);
  return out;
}

}  // namespace kavrel
