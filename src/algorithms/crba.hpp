// Joint-space mass matrix by the composite-rigid-body algorithm, in world
// coordinates:
//   forward   J_c = X(oMi) S_i[k],   Ic_i = oMi . Y_i
//   backward  F_c = Ic_i J_c for the columns c of joint i (Ic_i complete)
//             M(a, c) = J_a . F_c for every column a of joint i and its ancestors
//             (a free root's own block is Ic in its frame, as the columns are
//             the world images of that frame's unit twists)
//             Ic_p += Ic_i
// Only the upper triangle is written; entries between branches stay 0.
// Writes liMi, oMi, J, composite_inertia and M.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

void crba(const Model& model, Data& data, std::span<const double> q);

// M(a, c) = J_a . F_c for the columns a of joint `owner` and of its ancestors,
// c one column of `owner`: the block rule shared with the all-terms pass.
inline void write_mass_column(const Model& model, Data& data, size_t owner, size_t c, const Force& column) {
  for (size_t j = owner; j != 0; j = model.parents[j]) {
    const size_t first = model.joint_v_idx[j], n = model.joint_nv[j];
    if (n == 6) {
      // A free joint's columns are the world images of its frame's unit
      // twists, so their products with F are F in that frame, linear first.
      const Force local = data.oMi[j].act_inverse(column);
      const double entries[6] = {local.linear.x(),  local.linear.y(),  local.linear.z(),
                                 local.angular.x(), local.angular.y(), local.angular.z()};
      for (size_t k = 0; k < 6 && first + k <= c; ++k) data.M(first + k, c) = entries[k];
      continue;
    }
    for (size_t a = first; a < first + n && a <= c; ++a) data.M(a, c) = dot(data.J[a], column);
  }
}

// A free root's own block is the whole tree's inertia in the root's frame, as
// its columns are the world images of that frame's unit twists: the upper
// triangle, shared with the all-terms pass so that both write the same M.
inline void write_free_root_block(Data& data, size_t first, const SE3& oMroot, const Inertia& composite) {
  const Matrix6 local = to_matrix6(se3_act_on_inertia(oMroot.inverse(), composite));
  for (int r = 0; r < 6; ++r)
    for (int c = r; c < 6; ++c) data.M(first + r, first + c) = local(r, c);
}

}  // namespace kavrel
