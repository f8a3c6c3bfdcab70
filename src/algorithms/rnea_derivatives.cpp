#include "algorithms/rnea_derivatives.hpp"

#include "algorithms/rnea.hpp"

namespace kavrel {

namespace {

// World velocity and acceleration of joint i, its columns and their rates, its body's Y and B.
void world_step(const Model& model, Data& data, size_t i) {
  const SE3& oMi = data.oMi[i];
  const size_t parent = model.parents[i], first = model.joint_v_idx[i];
  const Motion& parent_velocity = data.ov[parent];
  const Motion& parent_acceleration = data.world_acceleration[parent];
  const Motion ov = data.ov[i] = oMi.act(data.v[i]);
  data.world_acceleration[i] = oMi.act(data.a[i]);
  const Joint& joint = model.joints[i];
  for (uint32_t k = 0; k < joint.nv; ++k) {
    const size_t c = first + k;
    const Motion J = data.J[c] = oMi.act(joint.subspace[k]);
    const Motion phi = data.velocity_dq[c] = cross(parent_velocity, J);
    data.acceleration_dq[c] = cross(parent_acceleration, J) + cross(parent_velocity, phi);
    data.acceleration_dv[c] = cross(ov, J) + phi;
  }
  const Inertia& body = data.composite_inertia[i] = se3_act_on_inertia(oMi, model.inertias[i]);
  data.coriolis_factor[i] = 0.5 * (compute_inertia_variation(body, ov) + momentum_cross_matrix(body * ov));
}

// Row c of joint `owner` against the columns of `owner` and its ancestors.
void write_row(const Model& model, Data& data, size_t owner, size_t c) {
  const Force inertial = data.composite_inertia[owner] * data.J[c];
  const Force rate = 2.0 * apply_transpose(data.coriolis_factor[owner], data.J[c]);
  for (size_t j = owner; j != 0; j = model.parents[j])
    for (size_t k = model.joint_v_idx[j], end = k + model.joint_nv[j]; k < end; ++k) {
      data.dtau_dq(c, k) = dot(data.acceleration_dq[k], inertial) + dot(data.velocity_dq[k], rate);
      data.dtau_dv(c, k) = dot(data.acceleration_dv[k], inertial) + dot(data.J[k], rate);
    }
}

// Column c of joint `owner` against the rows of its strict ancestors.
void write_column(const Model& model, Data& data, size_t owner, size_t c, const Force& subtree_force) {
  const Inertia& composite = data.composite_inertia[owner];
  const Matrix6& factor = data.coriolis_factor[owner];
  const Motion& J = data.J[c];
  const Force by_q = cross(J, subtree_force) + composite * data.acceleration_dq[c] +
                     2.0 * apply(factor, data.velocity_dq[c]);
  const Force by_v = composite * data.acceleration_dv[c] + 2.0 * apply(factor, J);
  for (size_t j = model.parents[owner]; j != 0; j = model.parents[j])
    for (size_t r = model.joint_v_idx[j], end = r + model.joint_nv[j]; r < end; ++r) {
      data.dtau_dq(r, c) = dot(data.J[r], by_q);
      data.dtau_dv(r, c) = dot(data.J[r], by_v);
    }
}

}  // namespace

void rnea_derivatives(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                      std::span<const double> a) {
  // The checks, placements, joint-frame v and a, and subtree forces f.
  rnea(model, data, q, v, a);
  data.dtau_dq.setZero();
  data.dtau_dv.setZero();
  data.ov[0] = Motion::zero();
  data.world_acceleration[0] = -model.gravity;
  // Forward: everything in the world.
  for (size_t i = 1; i < model.njoints; ++i) world_step(model, data, i);
  // Backward: Ic_i and Bc_i are complete when joint i is reached.
  for (size_t i = model.njoints - 1; i > 0; --i) {
    const Force subtree_force = data.oMi[i].act(data.f[i]);
    for (size_t c = model.joint_v_idx[i], end = c + model.joint_nv[i]; c < end; ++c) {
      write_row(model, data, i, c);
      write_column(model, data, i, c, subtree_force);
    }
    if (const size_t parent = model.parents[i]; parent != 0) {
      add_inertias_inplace(data.composite_inertia[parent], data.composite_inertia[i]);
      data.coriolis_factor[parent] += data.coriolis_factor[i];
    }
  }
}

}  // namespace kavrel
