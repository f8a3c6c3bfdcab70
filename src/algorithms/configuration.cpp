#include "algorithms/configuration.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace kavrel {

namespace {

using std::to_string;

// The unit quaternion of q (x, y, z, w); scaled by its largest component
// first, so that neither huge nor tiny components overflow or underflow.
std::array<double, 4> unit_quaternion(const double* q) {
  const double scale = std::max({std::abs(q[0]), std::abs(q[1]), std::abs(q[2]), std::abs(q[3])});
  std::array<double, 4> u{q[0] / scale, q[1] / scale, q[2] / scale, q[3] / scale};
  const double n = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2] + u[3] * u[3]);
  for (double& x : u) x /= n;
  return u;
}

// Q (x) exp(w / 2), quaternions stored (x, y, z, w).
void rotate_quaternion(const double* in, const Vec3& w, double* out) {
  const auto [qx, qy, qz, qw] = unit_quaternion(in);
  // Near zero sin(theta / 2) / theta is 0/0; its limit 1/2 is exact to rounding there.
  const double theta = w.norm();
  double dx, dy, dz, dw;
  if (theta < 1e-7) {
    dx = w.x() / 2.0; dy = w.y() / 2.0; dz = w.z() / 2.0; dw = 1.0;
  } else {
    const double s = std::sin(theta / 2.0) / theta;
    dx = s * w.x(); dy = s * w.y(); dz = s * w.z(); dw = std::cos(theta / 2.0);
  }
  const double dn = std::sqrt(dx * dx + dy * dy + dz * dz + dw * dw);
  dx /= dn; dy /= dn; dz /= dn; dw /= dn;
  const double rw = qw * dw - qx * dx - qy * dy - qz * dz;
  const double rx = qw * dx + qx * dw + qy * dz - qz * dy;
  const double ry = qw * dy - qx * dz + qy * dw + qz * dx;
  const double rz = qw * dz + qx * dy - qy * dx + qz * dw;
  const double k = (3.0 - (rx * rx + ry * ry + rz * rz + rw * rw)) / 2.0;
  out[0] = k * rx; out[1] = k * ry; out[2] = k * rz; out[3] = k * rw;
}

// (c, s) turned by w, pulled back towards the unit circle.
void rotate_pair(double c, double s, double w, double* out) {
  const double cw = std::cos(w), sw = std::sin(w);
  const double c1 = c * cw - s * sw, s1 = s * cw + c * sw;
  const double k = (3.0 - (c1 * c1 + s1 * s1)) / 2.0;
  out[0] = k * c1; out[1] = k * s1;
}

// Planar joints are checked before any of their coordinates is written.
void require_planar(const Model& model, size_t id, size_t oq, size_t ov, size_t nq_len, size_t nv_len) {
  const size_t nq = model.joint_nq[id], nv = model.joint_nv[id];
  KAVREL_REQUIRE(nq >= 4, "Planar joint requires nq>=4, got nq=" + to_string(nq) + " at joint_id=" + to_string(id));
  KAVREL_REQUIRE(nv >= 3, "Planar joint requires nv>=3, got nv=" + to_string(nv) + " at joint_id=" + to_string(id));
  KAVREL_REQUIRE(oq + nq <= nq_len, "q index out of bounds: q_idx=" + to_string(oq) + ", nq_joint=" + to_string(nq) +
                                        ", q.len()=" + to_string(nq_len) + ", joint_id=" + to_string(id));
  KAVREL_REQUIRE(ov + nv <= nv_len, "v index out of bounds: v_idx=" + to_string(ov) + ", nv_joint=" + to_string(nv) +
                                        ", v.len()=" + to_string(nv_len) + ", joint_id=" + to_string(id));
}

}  // namespace

Vector neutral(const Model& model) {
  // The kinds decide the slices; a record whose nq disagrees shows up here.
  size_t total = 0;
  for (size_t i = 1; i < model.njoints; ++i) total += dimensions(model.joints[i].joint_type).nq;
  KAVREL_REQUIRE(total == model.nq, "Configuration vector size mismatch: expected " + to_string(model.nq) +
                                        ", got " + to_string(total));
  Vector q = Vector::Zero(static_cast<Eigen::Index>(model.nq));
  for (size_t i = 1, oq = 0; i < model.njoints; oq += dimensions(model.joints[i].joint_type).nq, ++i) {
    // Unit (cos, sin) pairs and identity quaternions; everything else is 0.
    switch (model.joints[i].joint_type) {
      case JointType::Continuous: q[oq] = 1.0; break;
      case JointType::Planar: q[oq + 2] = 1.0; break;
      case JointType::Floating: q[oq + 6] = 1.0; break;
      case JointType::Spherical: q[oq + 3] = 1.0; break;
      case JointType::Fixed:
      case JointType::Revolute:
      case JointType::Prismatic: break;
    }
  }
  return q;
}

void integrate(const Model& model, std::span<const double> q, std::span<const double> v,
               std::span<double> result) {
  KAVREL_REQUIRE(q.size() == model.nq, "Configuration vector size mismatch: expected " + to_string(model.nq) +
                                           ", got " + to_string(q.size()));
  KAVREL_REQUIRE(v.size() == model.nv, "Velocity vector size mismatch: expected " + to_string(model.nv) +
                                           ", got " + to_string(v.size()));
  KAVREL_REQUIRE(result.size() == model.nq, "integrate: result has length " + to_string(result.size()));
  for (size_t i = 1; i < model.njoints; ++i) {
    const Joint& joint = model.joints[i];
    const size_t oq = model.joint_q_idx[i], ov = model.joint_v_idx[i];
    if (joint.joint_type == JointType::Planar) require_planar(model, i, oq, ov, q.size(), v.size());
    const auto [kind_nq, kind_nv] = dimensions(joint.joint_type);
    KAVREL_REQUIRE(oq + kind_nq <= q.size() && ov + kind_nv <= v.size(),
                   "integrate: joint " + to_string(i) + " reaches past the end of q or v");
    const double* x = q.data() + oq;
    const double* dv = v.data() + ov;
    double* out = result.data() + oq;
    switch (joint.joint_type) {
      case JointType::Fixed:
        break;
      case JointType::Revolute:
      case JointType::Prismatic:
        out[0] = x[0] + dv[0];
        break;
      case JointType::Continuous:
        rotate_pair(x[0], x[1], dv[0], out);
        break;
      case JointType::Planar: {
        // Exact arc of a constant planar twist, seen in the joint's current frame.
        const double w = dv[2];
        double dx = dv[0], dy = dv[1];
        if (std::abs(w) > 1e-14) {
          const double sw = std::sin(w), cw1 = 1.0 - std::cos(w);
          dx = (dv[0] * sw - dv[1] * cw1) / w;
          dy = (dv[0] * cw1 + dv[1] * sw) / w;
        }
        out[0] = x[0] + x[2] * dx - x[3] * dy;
        out[1] = x[1] + x[3] * dx + x[2] * dy;
        rotate_pair(x[2], x[3], w, out + 2);
        break;
      }
      case JointType::Spherical:
        rotate_quaternion(x, Vec3(dv[0], dv[1], dv[2]), out);
        break;
      case JointType::Floating: {
        // u is in the moving frame: rotate it by the current orientation, not coupled with w.
        const auto [ex, ey, ez, ew] = unit_quaternion(x + 3);
        const Vec3 e(ex, ey, ez), u(dv[0], dv[1], dv[2]);
        const Vec3 t = 2.0 * e.cross(u);
        const Vec3 p = Vec3(x[0], x[1], x[2]) + u + ew * t + e.cross(t);
        out[0] = p.x(); out[1] = p.y(); out[2] = p.z();
        rotate_quaternion(x + 3, Vec3(dv[3], dv[4], dv[5]), out + 3);
        break;
      }
    }
  }
}

Vector integrate(const Model& model, std::span<const double> q, std::span<const double> v) {
  Vector result = Vector::Zero(static_cast<Eigen::Index>(model.nq));
  integrate(model, q, v, std::span<double>(result.data(), model.nq));
  return result;
}

}  // namespace kavrel
