#include "algorithms/aba.hpp"

#include "algorithms/articulated_body.hpp"

namespace kavrel {

Status aba(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
           std::span<const double> tau) {
  require_configuration(model, data, q);
  require_velocity(model, v);
  require_velocity(model, tau);
  data.ov[0] = Motion::zero();
  // Forward: velocities, velocity products, bias forces.
  for (size_t i = 1; i < model.njoints; ++i) {
    articulated_forward_step(model, data, i, q);
    const size_t first = model.joint_v_idx[i];
    Motion vj = Motion::zero();
    for (size_t c = first; c < first + model.joint_nv[i]; ++c) vj += v[c] * data.J[c];
    const Motion ov = data.ov[i] = data.ov[model.parents[i]] + vj;
    data.velocity_product[i] = cross(ov, vj);
    data.articulated_bias[i] = cross(ov, apply(data.articulated_inertia[i], ov));
  }
  // Backward: articulated inertias and bias forces, from the leaves.
  for (size_t i = model.njoints - 1; i > 0; --i) {
    if (Status factored = factor_joint(model, data, i); !factored) return factored;
    const size_t parent = model.parents[i], first = model.joint_v_idx[i], n = model.joint_nv[i];
    for (size_t k = 0; k < n; ++k)
      data.articulated_torque[first + k] = tau[first + k] - dot(data.J[first + k], data.articulated_bias[i]);
    if (parent == 0) continue;
    Force bias = data.articulated_bias[i];
    if (n > 0) {
      const JointColumns U = joint_columns(data.articulated_columns, first, n);
      const auto Dinv = data.joint_inertia_inverse[i].topLeftCorner(n, n);
      const Vector6 c = linear_first(data.velocity_product[i]);
      const Vector6 reduced = data.articulated_inertia[i] * c - U * (Dinv * (U.transpose() * c));
      bias += force_linear_first(reduced + U * (Dinv * data.articulated_torque.segment(first, n)));
    } else {
      bias += apply(data.articulated_inertia[i], data.velocity_product[i]);
    }
    data.articulated_bias[parent] += bias;
    pass_articulated_inertia(model, data, i);
  }
  // Forward: accelerations, with gravity as an acceleration of the root.
  data.world_acceleration[0] = -model.gravity;
  for (size_t i = 1; i < model.njoints; ++i) {
    const size_t first = model.joint_v_idx[i], n = model.joint_nv[i];
    Motion a = data.world_acceleration[model.parents[i]] + data.velocity_product[i];
    if (n > 0) {
      const JointColumns U = joint_columns(data.articulated_columns, first, n);
      auto qdd = data.ddq.segment(first, n);
      qdd.noalias() = data.joint_inertia_inverse[i].topLeftCorner(n, n) *
                      (data.articulated_torque.segment(first, n) - U.transpose() * linear_first(a));
      for (size_t k = 0; k < n; ++k) a += qdd[k] * data.J[first + k];
    }
    data.world_acceleration[i] = a;
  }
  return ok_status();
}

}  // namespace kavrel
