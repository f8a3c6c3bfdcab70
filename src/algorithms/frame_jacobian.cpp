#include "algorithms/frame_jacobian.hpp"

#include <algorithm>
#include <string>

namespace kavrel {

void get_frame_jacobian(const Model& model, const Data& data, size_t joint_id, const SE3& placement,
                        ReferenceFrame reference_frame, std::span<Motion> columns) {
  require_matching_sizes(model, data);
  KAVREL_REQUIRE(joint_id < model.njoints, "Joint ID " + std::to_string(joint_id) +
                                               " out of bounds (njoints = " + std::to_string(model.njoints) + ")");
  KAVREL_REQUIRE(columns.size() == model.nv, "get_frame_jacobian: result has " +
                                                 std::to_string(columns.size()) + " columns");
  std::fill(columns.begin(), columns.end(), Motion::zero());
  if (joint_id == 0) return;
  const bool at_joint = placement.rotation == Mat3::Identity() && placement.translation == Vec3::Zero();
  const SE3 oMf = at_joint ? data.oMi[joint_id] : data.oMi[joint_id].compose(placement);
  // Supporting joints, from the joint to the root.
  for (size_t j = joint_id; j != 0; j = model.parents[j]) {
    const size_t first = model.joint_v_idx[j];
    for (size_t c = first; c < first + model.joint_nv[j]; ++c) {
      const Motion& x = data.J[c];
      switch (reference_frame) {
        case ReferenceFrame::WORLD: columns[c] = x; break;
        case ReferenceFrame::LOCAL: columns[c] = oMf.act_inverse(x); break;
        case ReferenceFrame::LOCAL_WORLD_ALIGNED:
          columns[c] = {x.angular, x.linear - oMf.translation.cross(x.angular)};
          break;
      }
    }
  }
}

}  // namespace kavrel
