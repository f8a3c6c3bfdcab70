#include "algorithms/aba_derivatives.hpp"

#include <algorithm>

#include "algorithms/aba.hpp"
#include "algorithms/minverse.hpp"
#include "algorithms/rnea_derivatives.hpp"
#include "types/dense_product.hpp"

namespace kavrel {

namespace {

// Rows of dtau that can be nonzero in each block of four columns: the
// coordinates of joints on one path from the root with a joint of the block
// (its ancestors, itself and its subtree), since entries between branches are 0.
void rows_by_column_block(const Model& model, Data& data) {
  std::vector<size_t>& tree = data.product_tree;
  const auto same = [&](const std::vector<size_t>& list, size_t at) {
    return std::equal(list.begin(), list.end(), tree.begin() + static_cast<std::ptrdiff_t>(at));
  };
  if (tree.size() == 2 * model.njoints && same(model.parents, 0) && same(model.joint_nv, model.njoints)) return;
  tree.assign(model.parents.begin(), model.parents.end());
  tree.insert(tree.end(), model.joint_nv.begin(), model.joint_nv.end());
  enum : uint8_t { kInBlock = 1, kAncestor = 2, kBelow = 4 };
  std::vector<uint8_t>& marks = data.joint_marks;
  uint32_t count = 0;
  for (size_t k = 0, block = 0; k < model.nv; k += 4, ++block) {
    std::fill(marks.begin(), marks.end(), uint8_t{0});
    // The joints with a column in [k, k + 4), and their strict ancestors.
    for (size_t i = 1; i < model.njoints; ++i) {
      if (model.joint_nv[i] == 0 || model.joint_v_idx[i] >= k + 4 || model.joint_v_idx[i] + model.joint_nv[i] <= k)
        continue;
      marks[i] |= kInBlock;
      for (size_t p = model.parents[i]; p != 0; p = model.parents[p]) marks[p] |= kAncestor;
    }
    // Parents come first, so one ascending sweep finds every subtree.
    for (size_t m = 1; m < model.njoints; ++m) {
      if ((marks[m] & kInBlock) || (marks[model.parents[m]] & kBelow)) marks[m] |= kBelow;
      if (!(marks[m] & (kBelow | kAncestor))) continue;
      for (size_t r = model.joint_v_idx[m], end = r + model.joint_nv[m]; r < end; ++r)
        data.product_rows[count++] = static_cast<uint32_t>(r);
    }
    data.product_row_offsets[block + 1] = count;
  }
}

}  // namespace

Status aba_derivatives(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                       std::span<const double> tau) {
  if (Status done = aba(model, data, q, v, tau); !done) return done;
  // aba leaves its joint factors, and the world motion at a = ddq.
  minverse_from_factors(model, data);
  derivatives_from_world_motion(model, data);
  // Minv is symmetric, and dtau is zero between branches.
  rows_by_column_block(model, data);
  negated_product(data.Minv, data.dtau_dq, data.product_rows, data.product_row_offsets, data.ddq_dq);
  negated_product(data.Minv, data.dtau_dv, data.product_rows, data.product_row_offsets, data.ddq_dv);
  return ok_status();
}

}  // namespace kavrel
