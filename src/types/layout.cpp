#include "types/layout.hpp"

namespace kavrel {

Matrix6 to_matrix6(const Inertia& inertia) {
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

}  // namespace kavrel
