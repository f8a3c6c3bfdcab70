#include "algorithms/minverse.hpp"

#include <algorithm>

#include "algorithms/articulated_body.hpp"

namespace kavrel {

namespace {

// Rows 6 i .. 6 i + 5 of the acceleration table: joint i's accelerations.
auto accelerations(Data& data, size_t i) { return data.unit_accelerations.middleRows<6>(6 * static_cast<Eigen::Index>(i)); }

}  // namespace

Status compute_minverse(const Model& model, Data& data, std::span<const double> q) {
  require_configuration(model, data, q);
  const auto nv = static_cast<Eigen::Index>(model.nv);
  Matrix& Minv = data.Minv_work;
  Minv.setZero();
  std::fill(data.unit_forces.begin(), data.unit_forces.end(), Force::zero());
  // Forward: placements, Jacobian columns, body inertias; each subtree ends
  // at least after its own joint's coordinates.
  for (size_t i = 1; i < model.njoints; ++i) {
    articulated_forward_step(model, data, i, q);
    data.subtree_end[i] = model.joint_v_idx[i] + model.joint_nv[i];
    for (size_t b = model.joint_v_idx[i]; b < data.subtree_end[i]; ++b) data.subtree_top[b] = i;
  }
  // Backward: each joint's rows against the columns of its subtree. With
  // branches numbered alternately, a subtree's columns need not be
  // contiguous: column b is joint i's when its top so far is i or a child of i.
  for (size_t i = model.njoints - 1; i > 0; --i) {
    if (Status factored = factor_joint(model, data, i); !factored) return factored;
    const size_t parent = model.parents[i], first = model.joint_v_idx[i], n = model.joint_nv[i];
    const size_t end = data.subtree_end[i];
    data.subtree_end[parent] = std::max(data.subtree_end[parent], end);
    const auto Dinv = data.joint_inertia_inverse[i].topLeftCorner(n, n);
    for (size_t b = first; b < end; ++b) {
      size_t& top = data.subtree_top[b];
      if (top != i && model.parents[top] != i) continue;
      top = i;
      if (n == 0) continue;
      Eigen::Matrix<double, Eigen::Dynamic, 1, 0, 6, 1> rhs(n);
      for (size_t k = 0; k < n; ++k) rhs[k] = (first + k == b ? 1.0 : 0.0) - dot(data.J[first + k], data.unit_forces[b]);
      Minv.block(first, b, n, 1).noalias() = Dinv * rhs;
      for (size_t k = 0; k < n; ++k) data.unit_forces[b] += Minv(first + k, b) * data.articulated_columns[first + k];
    }
    if (parent != 0) pass_articulated_inertia(model, data, i);
  }
  // Forward: the ancestors' accelerations enter each row.
  for (size_t i = 1; i < model.njoints; ++i) {
    const size_t parent = model.parents[i], first = model.joint_v_idx[i], n = model.joint_nv[i];
    const Eigen::Index from = static_cast<Eigen::Index>(first), width = nv - from;
    auto A = accelerations(data, i).rightCols(width);
    if (parent == 0) A.setZero(); else A = accelerations(data, parent).rightCols(width);
    if (n == 0) continue;
    const JointColumns U = joint_columns(data.articulated_columns, first, n);
    auto rows = Minv.block(from, from, static_cast<Eigen::Index>(n), width);
    if (parent != 0) rows.noalias() -= data.joint_inertia_inverse[i].topLeftCorner(n, n) * (U.transpose() * A);
    JointColumns J(6, static_cast<Eigen::Index>(n));
    for (size_t k = 0; k < n; ++k) J.col(static_cast<Eigen::Index>(k)) = linear_first(data.J[first + k]);
    A.noalias() += J * rows;
  }
  Minv.triangularView<Eigen::StrictlyLower>() = Minv.transpose();
  data.Minv.swap(Minv);
  return ok_status();
}

}  // namespace kavrel
