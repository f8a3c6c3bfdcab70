// Steps shared by the articulated-body passes, all in world coordinates,
// where inertias of children add to their parent without a transform:
//   IA_i = oMi . Y_i + sum over children (IA_c - U_c D_c^-1 U_c^T)
//   U_i = IA_i J_i,   D_i = J_i^T U_i
#pragma once

#include <span>
#include <string>

#include <Eigen/Cholesky>

#include "algorithms/forward_kinematics.hpp"

namespace kavrel {

// Up to 6 x 6, on the stack.
using JointMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, 6, 6>;
using JointColumns = Eigen::Matrix<double, 6, Eigen::Dynamic, 0, 6, 6>;

// Placements, world Jacobian columns and the body's own inertia as IA_i.
inline void articulated_forward_step(const Model& model, Data& data, size_t i, std::span<const double> q) {
  forward_step(model, data, i, q);
  const Joint& joint = model.joints[i];
  const size_t first = model.joint_v_idx[i];
  for (uint32_t k = 0; k < joint.nv; ++k) data.J[first + k] = data.oMi[i].act(joint.subspace[k]);
  data.articulated_inertia[i] = to_matrix6(se3_act_on_inertia(data.oMi[i], model.inertias[i]));
}

inline JointColumns joint_columns(const std::vector<Force>& columns, size_t first, size_t n) {
  JointColumns out(6, static_cast<Eigen::Index>(n));
  for (size_t k = 0; k < n; ++k) out.col(static_cast<Eigen::Index>(k)) = linear_first(columns[first + k]);
  return out;
}

// U_i and D_i^-1 of joint i, whose IA_i is complete; an error when D_i is not
// positive definite (non-finite values pass, to propagate as everywhere).
inline Status factor_joint(const Model& model, Data& data, size_t i) {
  const size_t first = model.joint_v_idx[i], n = model.joint_nv[i];
  if (n == 0) return ok_status();
  for (size_t k = 0; k < n; ++k)
    data.articulated_columns[first + k] = apply(data.articulated_inertia[i], data.J[first + k]);
  JointMatrix D(n, n);
  for (size_t r = 0; r < n; ++r)
    for (size_t c = 0; c < n; ++c) D(r, c) = dot(data.J[first + r], data.articulated_columns[first + c]);
  const Eigen::LLT<JointMatrix> factor(D);
  if (factor.info() != Eigen::Success)
    return value_error("Joint " + model.names[i] + " has no inertia to accelerate: the mass matrix is singular");
  data.joint_inertia_inverse[i].topLeftCorner(n, n) = factor.solve(JointMatrix::Identity(n, n));
  return ok_status();
}

// IA_p += IA_i - U_i D_i^-1 U_i^T.
inline void pass_articulated_inertia(const Model& model, Data& data, size_t i) {
  const size_t parent = model.parents[i], first = model.joint_v_idx[i], n = model.joint_nv[i];
  Matrix6& into = data.articulated_inertia[parent];
  into += data.articulated_inertia[i];
  if (n == 0) return;
  const JointColumns U = joint_columns(data.articulated_columns, first, n);
  into.noalias() -= U * data.joint_inertia_inverse[i].topLeftCorner(n, n) * U.transpose();
}

}  // namespace kavrel
