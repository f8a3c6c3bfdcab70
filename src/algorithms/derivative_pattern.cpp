#include "algorithms/derivative_pattern.hpp"

#include <algorithm>

namespace kavrel {

namespace {

bool same_tree(const Model& model, const Data& data) {
  const std::vector<size_t>& tree = data.pattern_tree;
  const auto nv_part = tree.begin() + static_cast<std::ptrdiff_t>(model.njoints);
  return tree.size() == 2 * model.njoints && std::equal(model.parents.begin(), model.parents.end(), tree.begin()) &&
         std::equal(model.joint_nv.begin(), model.joint_nv.end(), nv_part);
}

// The coordinates of joints on one path from the root with a joint of the
// block (its ancestors, itself and its subtree), in ascending order.
void rows_by_column_block(const Model& model, Data& data) {
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

void refresh_derivative_pattern(const Model& model, Data& data) {
  if (same_tree(model, data)) return;
  data.pattern_tree.assign(model.parents.begin(), model.parents.end());
  data.pattern_tree.insert(data.pattern_tree.end(), model.joint_nv.begin(), model.joint_nv.end());
  data.dtau_dq.setZero();
  data.dtau_dv.setZero();
  rows_by_column_block(model, data);
}

}  // namespace kavrel
