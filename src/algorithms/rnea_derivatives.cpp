#include "algorithms/rnea_derivatives.hpp"

#include "algorithms/derivative_pattern.hpp"
#include "algorithms/rnea.hpp"

namespace kavrel {

namespace {

using Factor = decltype(Data::derivative_factor)::value_type;
using Columns = decltype(Data::derivative_columns)::value_type;

// [Y, 2 B] of a body moving with ov = (w, u), Y in the world. 2 B's columns of
// angular inputs are [-2 [p]x; Q] with p, h the body's momentum, Ib its
// inertia about the origin and Q = W Ib - Ib W - m (UC + CU) - [h]x.
void write_body_factor(const Inertia& body, const Motion& ov, const Force& momentum, Factor& out) {
  write_matrix6(body, out.leftCols<6>());
  const Vec3 &w = ov.angular, &u = ov.linear, &c = body.lever, &h = momentum.angular;
  const double m = body.mass, twice_uc = 2.0 * m * u.dot(c);
  // W Ib column by column, Ib from the compact form: out's copy is not yet stored.
  const Mat3 ib = rotational_about_origin(body);
  Mat3 wib;
  for (int k = 0; k < 3; ++k) wib.col(k) = w.cross(ib.col(k));
  const Vec3 p2 = 2.0 * momentum.linear;  // -2 [p]x, entry by entry
  out(0, 6) = 0.0, out(1, 6) = -p2.z(), out(2, 6) = p2.y();
  out(0, 7) = p2.z(), out(1, 7) = 0.0, out(2, 7) = -p2.x();
  out(0, 8) = -p2.y(), out(1, 8) = p2.x(), out(2, 8) = 0.0;
  for (int r = 0; r < 3; ++r)
    for (int s = 0; s < 3; ++s)
      out(3 + r, 6 + s) = wib(r, s) + wib(s, r) - m * (c[r] * u[s] + u[r] * c[s]) + (r == s ? twice_uc : 0.0);
  out(4, 6) -= h.z(); out(3, 7) += h.z();
  out(5, 6) += h.y(); out(3, 8) -= h.y();
  out(5, 7) -= h.x(); out(4, 8) += h.x();
}

// A motion into a column of K, linear part first, written in place part by
// part: a 6-vector put together first would be read back whole before its
// halves have landed.
template <class Column>
void put_motion(const Motion& m, Column&& column) {
  column.template segment<3>(0) = m.linear;
  column.template segment<3>(3) = m.angular;
}

// Joint i's K, its body's H and world force.
void world_step(const Model& model, Data& data, size_t i) {
  const SE3& oMi = data.oMi[i];
  const size_t parent = model.parents[i], first = model.joint_v_idx[i];
  const Motion &ov = data.ov[i], &parent_velocity = data.ov[parent];
  const Motion& parent_acceleration = data.world_acceleration[parent];
  const Joint& joint = model.joints[i];
  for (uint32_t k = 0; k < joint.nv; ++k) {
    const Motion& J = data.J[first + k];
    const Motion phi = cross(parent_velocity, J);
    Columns& K = data.derivative_columns[first + k];
    put_motion(cross(parent_acceleration, J) + cross(parent_velocity, phi), K.col(0));
    K.col(0).segment<3>(6) = phi.angular;
    put_motion(cross(ov, J) + phi, K.col(1));
    K.col(1).segment<3>(6) = J.angular;
    put_motion(J, K.col(2));
  }
  const Inertia body = se3_act_on_inertia(oMi, model.inertias[i]);
  const Force momentum = body * ov;
  Factor& H = data.derivative_factor[i];
  write_body_factor(body, ov, momentum, H);
  data.world_force[i] =
      force_linear_first(H.leftCols<6>() * linear_first(data.world_acceleration[i])) + cross(ov, momentum);
}

// Row c of joint `owner` against the columns of `owner` and its ancestors.
void write_row(const Model& model, Data& data, size_t owner, size_t c) {
  const Eigen::Matrix<double, 1, 10> P =
      data.derivative_columns[c].col(2).head<6>().transpose() * data.derivative_factor[owner];
  for (size_t j = owner; j != 0; j = model.parents[j])
    for (size_t k = model.joint_v_idx[j], end = k + model.joint_nv[j]; k < end; ++k) {
      const Eigen::RowVector2d entries = P * data.derivative_columns[k].leftCols<2>();
      data.dtau_dq(c, k) = entries[0];
      data.dtau_dv(c, k) = entries[1];
    }
}

// Column c of joint `owner` against the rows of its strict ancestors.
void write_column(const Model& model, Data& data, size_t owner, size_t c) {
  const Columns& K = data.derivative_columns[c];
  Eigen::Matrix<double, 6, 2> G = data.derivative_factor[owner] * K.leftCols<2>();
  G.col(0) += linear_first(cross(data.J[c], data.world_force[owner]));
  for (size_t j = model.parents[owner]; j != 0; j = model.parents[j])
    for (size_t r = model.joint_v_idx[j], end = r + model.joint_nv[j]; r < end; ++r) {
      const Eigen::RowVector2d entries = data.derivative_columns[r].col(2).head<6>().transpose() * G;
      data.dtau_dq(r, c) = entries[0];
      data.dtau_dv(r, c) = entries[1];
    }
}

}  // namespace

void rnea_derivatives(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                      std::span<const double> a) {
  // The checks, placements and tau; its joint-frame v and a, and the columns, in the world.
  rnea(model, data, q, v, a);
  data.ov[0] = Motion::zero();
  data.world_acceleration[0] = -model.gravity;
  for (size_t i = 1; i < model.njoints; ++i) {
    const SE3& oMi = data.oMi[i];
    data.ov[i] = oMi.act(data.v[i]);
    data.world_acceleration[i] = oMi.act(data.a[i]);
    write_world_subspace(model.joints[i], oMi, data.J.data() + model.joint_v_idx[i]);
  }
  derivatives_from_world_motion(model, data);
}

void derivatives_from_world_motion(const Model& model, Data& data) {
  refresh_derivative_pattern(model, data);
  // Forward: each column's K, each body's H and force.
  for (size_t i = 1; i < model.njoints; ++i) world_step(model, data, i);
  // Backward: H_i and F_i are complete when joint i is reached.
  for (size_t i = model.njoints - 1; i > 0; --i) {
    for (size_t c = model.joint_v_idx[i], end = c + model.joint_nv[i]; c < end; ++c) {
      write_row(model, data, i, c);
      write_column(model, data, i, c);
    }
    if (const size_t parent = model.parents[i]; parent != 0) {
      data.derivative_factor[parent] += data.derivative_factor[i];
      data.world_force[parent] += data.world_force[i];
    }
  }
}

}  // namespace kavrel
