#include "algorithms/minverse.hpp"

#include <algorithm>

#include "algorithms/articulated_body.hpp"
#include "types/dense_kernels.hpp"

namespace kavrel {

namespace {

// Rows 6 i .. 6 i + 5 of the acceleration table: joint i's accelerations.
auto accelerations(Data& data, size_t i) { return data.unit_accelerations.middleRows<6>(6 * static_cast<Eigen::Index>(i)); }

// Joint i's rows against the columns of its subtree, and their forces on
// the parent. With branches numbered alternately a subtree's columns need
// not be contiguous: column b is joint i's when its top so far is i or a
// child of i.
template <int N>
void subtree_rows(const Model& model, Data& data, size_t i) {
  const size_t first = model.joint_v_idx[i];
  const JointColumns<N> J = jacobian_columns<N>(data, first), U = inertia_columns<N>(data, first);
  const auto Dinv = joint_inverse<N>(data, i);
  const auto row = static_cast<Eigen::Index>(first);
  // A root's forces have no ancestor to reach.
  const bool reaches_parent = model.parents[i] != 0;
  // The joint's own unit torques: no force has reached them yet.
  for (int k = 0; k < N; ++k) {
    data.Minv_work.block<N, 1>(row, row + k) = Dinv.col(k);
    if (reaches_parent) data.unit_forces[first + k] = U * Dinv.col(k);
  }
  for (size_t b = first + N; b < data.subtree_end[i]; ++b) {
    size_t& top = data.subtree_top[b];
    if (top != i && model.parents[top] != i) continue;
    top = i;
    const JointVector<N> rows = -Dinv * (J.transpose() * data.unit_forces[b]);
    data.Minv_work.block<N, 1>(row, static_cast<Eigen::Index>(b)) = rows;
    if (reaches_parent) data.unit_forces[b] += U * rows;
  }
}

// Fixed joints pass their subtree's columns on unchanged.
void pass_columns(const Model& model, Data& data, size_t i) {
  for (size_t b = model.joint_v_idx[i]; b < data.subtree_end[i]; ++b)
    if (size_t& top = data.subtree_top[b]; model.parents[top] == i) top = i;
}

// Joint i's rows from its first column on: the ancestors' accelerations
// enter, and A_i = A_parent + J rows is written in the same sweep, one
// fixed-size column at a time (a joint with one coordinate, the common case,
// four at a time).
template <int N>
void ancestor_rows(const Model& model, Data& data, size_t i) {
  const size_t first = model.joint_v_idx[i], parent = model.parents[i];
  const auto from = static_cast<Eigen::Index>(first);
  const JointColumns<N> J = jacobian_columns<N>(data, first);
  const Eigen::Matrix<double, N, 6> factor = joint_inverse<N>(data, i) * inertia_columns<N>(data, first).transpose();
  auto A = accelerations(data, i);
  const auto parent_A = accelerations(data, parent);
  const auto nv = static_cast<Eigen::Index>(model.nv);
  if constexpr (N == 1) {
    sweep_joint_row(factor.data(), J.data(), parent == 0 ? nullptr : parent_A.data(), A.data(),
                    &data.Minv_work(from, 0), from, nv);
  } else {
    for (Eigen::Index b = from; b < nv; ++b) {
      auto rows = data.Minv_work.block<N, 1>(from, b);
      if (parent == 0) {
        A.col(b) = J * rows;
        continue;
      }
      const Vector6 parent_column = parent_A.col(b);
      rows -= factor * parent_column;
      A.col(b) = parent_column + J * rows;
    }
  }
}

}  // namespace

void minverse_from_factors(const Model& model, Data& data) {
  data.Minv_work.setZero();
  // Each subtree ends at least after its own joint's coordinates.
  for (size_t i = 1; i < model.njoints; ++i) {
    data.subtree_end[i] = model.joint_v_idx[i] + model.joint_nv[i];
    for (size_t b = model.joint_v_idx[i]; b < data.subtree_end[i]; ++b) data.subtree_top[b] = i;
  }
  // Backward: each joint's rows against its subtree.
  for (size_t i = model.njoints - 1; i > 0; --i) {
    const size_t parent = model.parents[i], n = model.joint_nv[i];
    data.subtree_end[parent] = std::max(data.subtree_end[parent], data.subtree_end[i]);
    if (n == 0) pass_columns(model, data, i);
    else with_joint_size(n, [&](auto N) { subtree_rows<N>(model, data, i); });
  }
  // Forward: each joint's accelerations start from its parent's.
  const auto nv = static_cast<Eigen::Index>(model.nv);
  for (size_t i = 1; i < model.njoints; ++i) {
    const size_t parent = model.parents[i], n = model.joint_nv[i];
    if (n > 0) {
      with_joint_size(n, [&](auto N) { ancestor_rows<N>(model, data, i); });
      continue;
    }
    // A fixed joint's body moves with its parent.
    const Eigen::Index from = static_cast<Eigen::Index>(model.joint_v_idx[i]);
    auto A = accelerations(data, i).rightCols(nv - from);
    if (parent == 0) A.setZero(); else A = accelerations(data, parent).rightCols(nv - from);
  }
  mirror_upper(data.Minv_work);
  data.Minv.swap(data.Minv_work);
}

Status compute_minverse(const Model& model, Data& data, std::span<const double> q) {
  require_configuration(model, data, q);
  // Forward: placements, Jacobian columns, body inertias.
  for (size_t i = 1; i < model.njoints; ++i) articulated_forward_step(model, data, i, q);
  // Backward: articulated inertias and the joints' factors, from the leaves.
  for (size_t i = model.njoints - 1; i > 0; --i) {
    const size_t parent = model.parents[i], n = model.joint_nv[i];
    if (n == 0) {
      if (parent != 0) data.articulated_inertia[parent] += data.articulated_inertia[i];
      continue;
    }
    bool ok = true;
    with_joint_size(n, [&](auto N) {
      if ((ok = factor_joint<N>(model, data, i)) && parent != 0) pass_articulated_inertia<N>(model, data, i);
    });
    if (!ok) return singular_joint(model, i);
  }
  minverse_from_factors(model, data);
  return ok_status();
}

}  // namespace kavrel
