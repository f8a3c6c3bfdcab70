// Steps shared by the articulated-body passes, all in world coordinates,
// where inertias of children add to their parent without a transform:
//   IA_i = oMi . Y_i + sum over children (IA_c - U_c D_c^-1 U_c^T)
//   U_i = IA_i J_i,   D_i = J_i^T U_i
// Joints have 1, 3 or 6 velocity coordinates; each size gets its own
// fixed-size code through with_joint_size.
#pragma once

#include <cmath>
#include <span>
#include <string>
#include <type_traits>

#include "algorithms/forward_kinematics.hpp"

namespace kavrel {

template <int N>
using JointColumns = Eigen::Matrix<double, 6, N>;
template <int N>
using JointSquare = Eigen::Matrix<double, N, N>;
template <int N>
using JointVector = Eigen::Matrix<double, N, 1>;

// Calls step(std::integral_constant<int, N>) with N = nv_i, for nv_i > 0.
template <class Step>
void with_joint_size(size_t nv, Step&& step) {
  switch (nv) {
    case 1: return step(std::integral_constant<int, 1>{});
    case 3: return step(std::integral_constant<int, 3>{});
    case 6: return step(std::integral_constant<int, 6>{});
    default: fail_internal("a joint with " + std::to_string(nv) + " velocity coordinates");
  }
}

// J_i as a linear-first 6 x N matrix.
template <int N>
JointColumns<N> jacobian_columns(const Data& data, size_t first) {
  JointColumns<N> out;
  for (int k = 0; k < N; ++k) out.col(k) = linear_first(data.J[first + k]);
  return out;
}

template <int N>
JointColumns<N> inertia_columns(const Data& data, size_t first) {
  JointColumns<N> out;
  for (int k = 0; k < N; ++k) out.col(k) = data.articulated_columns[first + k];
  return out;
}

template <int N>
auto joint_inverse(Data& data, size_t i) { return data.joint_inertia_inverse[i].topLeftCorner<N, N>(); }

// Placements, world Jacobian columns and the body's own inertia as IA_i,
// which is returned in its compact form too.
[[gnu::always_inline]] inline Inertia articulated_forward_step(const Model& model, Data& data, size_t i,
                                                               std::span<const double> q) {
  const SE3 oMi = forward_step<StepResult::World>(model, data, i, q);
  write_world_subspace(model.joints[i], oMi, data.J.data() + model.joint_v_idx[i]);
  const Inertia body = se3_act_on_inertia(oMi, model.inertias[i]);
  write_matrix6(body, data.articulated_inertia[i]);
  return body;
}

// D_i^-1 of the symmetric D_i = J^T U, from the fixed-size factors
// D = L diag(d) L^T (L unit lower) as L^-T diag(d)^-1 L^-1: no square roots
// and one division per pivot. False when a pivot is not positive
// (non-finite values pass, to propagate as everywhere).
template <int N>
bool invert_joint_inertia(const JointSquare<N>& D, Data& data, size_t i) {
  auto out = joint_inverse<N>(data, i);
  if constexpr (N == 1) {
    if (D(0, 0) <= 0.0) return false;
    out(0, 0) = 1.0 / D(0, 0);
  } else {
    JointSquare<N> L = JointSquare<N>::Identity(), W = JointSquare<N>::Identity();
    JointVector<N> pivots, inverse_pivot;
    for (int j = 0; j < N; ++j) {
      double pivot = D(j, j);
      for (int k = 0; k < j; ++k) pivot -= L(j, k) * L(j, k) * pivots[k];
      if (pivot <= 0.0) return false;
      pivots[j] = pivot;
      inverse_pivot[j] = 1.0 / pivot;
      for (int r = j + 1; r < N; ++r) {
        double s = D(r, j);
        for (int k = 0; k < j; ++k) s -= L(r, k) * L(j, k) * pivots[k];
        L(r, j) = s * inverse_pivot[j];
      }
    }
    // W = L^-1, unit lower, column by column.
    for (int c = 0; c < N; ++c)
      for (int r = c + 1; r < N; ++r) {
        double s = 0.0;
        for (int k = c; k < r; ++k) s -= L(r, k) * W(k, c);
        W(r, c) = s;
      }
    out = W.transpose().lazyProduct(inverse_pivot.asDiagonal() * W);
  }
  return true;
}

// U_i and D_i^-1 of joint i, whose IA_i is complete; false when D_i is not
// positive definite.
template <int N>
bool factor_joint(const Model& model, Data& data, size_t i) {
  const size_t first = model.joint_v_idx[i];
  const JointColumns<N> J = jacobian_columns<N>(data, first);
  const JointColumns<N> U = data.articulated_inertia[i] * J;
  for (int k = 0; k < N; ++k) data.articulated_columns[first + k] = U.col(k);
  return invert_joint_inertia<N>(J.transpose() * U, data, i);
}

inline Error singular_joint(const Model& model, size_t i) {
  return value_error("Joint " + model.names[i] + " has no inertia to accelerate: the mass matrix is singular");
}

// IA_p += IA_i - U_i D_i^-1 U_i^T, in one sweep over the parent's matrix.
template <int N>
void pass_articulated_inertia(const Model& model, Data& data, size_t i) {
  const JointColumns<N> U = inertia_columns<N>(data, model.joint_v_idx[i]);
  const JointColumns<N> UDinv = U * joint_inverse<N>(data, i);
  data.articulated_inertia[model.parents[i]] += data.articulated_inertia[i] - UDinv.lazyProduct(U.transpose());
}

}  // namespace kavrel
