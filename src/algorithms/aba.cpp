#include "algorithms/aba.hpp"

#include "algorithms/articulated_body.hpp"

namespace kavrel {

namespace {

// Forward: velocities, velocity products, bias forces.
void velocities_and_bias(const Model& model, Data& data, std::span<const double> q, std::span<const double> v) {
  data.ov[0] = Motion::zero();
  for (size_t i = 1; i < model.njoints; ++i) {
    const Inertia body = articulated_forward_step(model, data, i, q);
    const size_t first = model.joint_v_idx[i];
    Motion vj = Motion::zero();
    for (size_t c = first; c < first + model.joint_nv[i]; ++c) vj += v[c] * data.J[c];
    const Motion ov = data.ov[model.parents[i]] + vj;
    data.ov[i] = ov;
    data.velocity_product[i] = cross(ov, vj);
    data.articulated_bias[i] = cross(ov, body * ov);
  }
}

// Backward step of a joint with N coordinates: U, D^-1 and u_i, then what
// the parent sees,
//   IA_p += IA_i - U D^-1 U^T,   pA_p += pA_i + IA_i c_i + U D^-1 (u_i - U^T c_i).
template <int N>
bool articulate(const Model& model, Data& data, size_t i, std::span<const double> tau) {
  const size_t first = model.joint_v_idx[i], parent = model.parents[i];
  const Matrix6& IA = data.articulated_inertia[i];
  // IA [J c] in one product: U, and IA c for the parent.
  Eigen::Matrix<double, 6, N + 1> Jc;
  Jc.template leftCols<N>() = jacobian_columns<N>(data, first);
  Jc.col(N) = linear_first(data.velocity_product[i]);
  const Eigen::Matrix<double, 6, N + 1> product = IA * Jc;
  const auto J = Jc.template leftCols<N>();
  const auto U = product.template leftCols<N>();
  const Vector6 pA = linear_first(data.articulated_bias[i]);
  auto u = data.articulated_torque.segment<N>(first);
  u = Eigen::Map<const JointVector<N>>(tau.data() + first) - J.transpose() * pA;
  for (int k = 0; k < N; ++k) data.articulated_columns[first + k] = U.col(k);
  if (!invert_joint_inertia<N>(J.transpose() * U, data, i)) return false;
  const auto Dinv = joint_inverse<N>(data, i);
  if (parent == 0) return true;
  const JointVector<N> rate = Dinv * (u - U.transpose() * Jc.col(N));
  data.articulated_bias[parent] += force_linear_first(pA + product.col(N) + U * rate);
  pass_articulated_inertia<N>(model, data, i);
  return true;
}

// Forward step: qdd_i = D^-1 (u_i - U^T a'),  a_i = a' + J qdd_i.
template <int N>
void accelerate(const Model& model, Data& data, size_t i, Motion& a) {
  const size_t first = model.joint_v_idx[i];
  auto qdd = data.ddq.segment<N>(first);
  qdd.noalias() = joint_inverse<N>(data, i) *
                  (data.articulated_torque.segment<N>(first) - inertia_columns<N>(data, first).transpose() * linear_first(a));
  for (int k = 0; k < N; ++k) a += qdd[k] * data.J[first + k];
}

}  // namespace

Status aba(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
           std::span<const double> tau) {
  require_configuration(model, data, q);
  require_velocity(model, v);
  require_velocity(model, tau);
  velocities_and_bias(model, data, q, v);
  // Backward: articulated inertias and bias forces, from the leaves.
  for (size_t i = model.njoints - 1; i > 0; --i) {
    const size_t parent = model.parents[i], n = model.joint_nv[i];
    if (n == 0) {
      // The body rides on its parent: all of its inertia and bias pass on.
      if (parent == 0) continue;
      data.articulated_bias[parent] += data.articulated_bias[i] + apply(data.articulated_inertia[i], data.velocity_product[i]);
      data.articulated_inertia[parent] += data.articulated_inertia[i];
      continue;
    }
    bool ok = true;
    with_joint_size(n, [&](auto N) { ok = articulate<N>(model, data, i, tau); });
    if (!ok) return singular_joint(model, i);
  }
  // Forward: accelerations, with gravity as an acceleration of the root.
  Motion previous = data.world_acceleration[0] = -model.gravity;
  for (size_t i = 1; i < model.njoints; ++i) {
    // Along a chain the parent is the joint just done, whose acceleration is
    // still at hand: reading it back from its store would stall.
    const size_t parent = model.parents[i];
    Motion a = data.velocity_product[i];
    a += parent == i - 1 ? previous : data.world_acceleration[parent];
    if (const size_t n = model.joint_nv[i]; n > 0) with_joint_size(n, [&](auto N) { accelerate<N>(model, data, i, a); });
    data.world_acceleration[i] = previous = a;
  }
  return ok_status();
}

}  // namespace kavrel
