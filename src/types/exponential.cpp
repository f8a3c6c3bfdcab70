#include "types/exponential.hpp"

#include <cmath>

namespace kavrel {

namespace {

// Below this angle the coefficients that cancel are taken from their series.
constexpr double kSeriesAngle = 0.1;

// (theta - sin theta) / theta^3.
double v_coefficient(double theta) {
  if (theta >= kSeriesAngle) return (theta - std::sin(theta)) / (theta * theta * theta);
  const double t2 = theta * theta;
  return 1.0 / 6.0 - t2 * (1.0 / 120.0 - t2 * (1.0 / 5040.0 - t2 * (1.0 / 362880.0 - t2 / 39916800.0)));
}

// (1 - (theta / 2) cot(theta / 2)) / theta^2, with cos(theta / 2) and sin(theta / 2) given.
double inverse_v_coefficient(double theta, double half_cos, double half_sin) {
  const double t2 = theta * theta;
  if (theta >= kSeriesAngle) return (1.0 - 0.5 * theta * half_cos / half_sin) / t2;
  return 1.0 / 12.0 + t2 * (1.0 / 720.0 + t2 * (1.0 / 30240.0 + t2 * (1.0 / 1209600.0 + t2 / 47900160.0)));
}

// The unit quaternion (x, y, z, w) of a rotation with w >= 0, from the largest
// of its four candidates so that no component is found by a small division.
Eigen::Vector4d quaternion_of(const Mat3& r) {
  const double trace = r.trace();
  Eigen::Vector4d q;
  int i = 0;
  r.diagonal().maxCoeff(&i);
  if (trace >= r(i, i)) {
    const double w = 0.5 * std::sqrt(1.0 + trace);
    const double s = 0.25 / w;
    q << s * (r(2, 1) - r(1, 2)), s * (r(0, 2) - r(2, 0)), s * (r(1, 0) - r(0, 1)), w;
  } else {
    const int j = (i + 1) % 3, k = (i + 2) % 3;
    const double qi = 0.5 * std::sqrt(1.0 + r(i, i) - r(j, j) - r(k, k));
    const double s = 0.25 / qi;
    q[i] = qi;
    q[j] = s * (r(j, i) + r(i, j));
    q[k] = s * (r(k, i) + r(i, k));
    q[3] = s * (r(k, j) - r(j, k));
  }
  if (q[3] < 0.0) q = -q;
  return q / q.norm();
}

}  // namespace

SE3 se3_exp(const Motion& twist) {
  const Vec3& w = twist.angular;
  const double theta = w.norm();
  const double half = 0.5 * theta;
  // sin(theta) / theta and (1 - cos theta) / theta^2, without cancellation.
  const double sinc = theta == 0.0 ? 1.0 : std::sin(theta) / theta;
  const double half_sinc = half == 0.0 ? 1.0 : std::sin(half) / half;
  const double versine = 0.5 * half_sinc * half_sinc;
  const Mat3 wx = skew(w), wx2 = wx * wx;
  SE3 out;
  out.rotation = Mat3::Identity() + sinc * wx + versine * wx2;
  out.translation = twist.linear + versine * w.cross(twist.linear) + v_coefficient(theta) * (wx2 * twist.linear);
  return out;
}

Motion se3_log(const SE3& transform) {
  const Eigen::Vector4d q = quaternion_of(transform.rotation);
  const Vec3 axis_sin = q.head<3>();  // sin(theta / 2) times the axis
  const double half_sin = axis_sin.norm(), half_cos = q[3];
  const double theta = 2.0 * std::atan2(half_sin, half_cos);
  // theta / sin(theta / 2) tends to 2 / cos(theta / 2) as the angle vanishes.
  const Vec3 w = half_sin == 0.0 ? Vec3::Zero() : Vec3((theta / half_sin) * axis_sin);
  const Vec3& p = transform.translation;
  const Vec3 wxp = w.cross(p);
  const Vec3 v = p - 0.5 * wxp + inverse_v_coefficient(theta, half_cos, half_sin) * w.cross(wxp);
  return {w, v};
}

}  // namespace kavrel
