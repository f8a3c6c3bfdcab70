#include "algorithms/frame_jacobian_time_variation.hpp"

#include <algorithm>
#include <string>

namespace kavrel {

void get_frame_jacobian_time_variation(const Model& model, const Data& data, size_t frame_id,
                                       ReferenceFrame reference_frame, std::span<Motion> columns) {
  using std::to_string;
  require_matching_sizes(model, data);
  KAVREL_REQUIRE(frame_id < model.nframes && frame_id < model.frames.size(),
                 "Frame ID " + to_string(frame_id) + " out of bounds (nframes = " + to_string(model.nframes) + ")");
  const Frame& frame = model.frames[frame_id];
  const size_t joint_id = frame.parent_joint;
  KAVREL_REQUIRE(joint_id < model.njoints, "Frame " + to_string(frame_id) + " has invalid joint ID " +
                                               to_string(joint_id) + " (njoints = " + to_string(model.njoints) + ")");
  KAVREL_REQUIRE(columns.size() == model.nv, "get_frame_jacobian_time_variation: result has " +
                                                 to_string(columns.size()) + " columns");
  std::fill(columns.begin(), columns.end(), Motion::zero());
  const SE3 oMf = data.oMi[joint_id].compose(frame.placement);
  const Vec3& p = oMf.translation;
  // The frame's velocity in its own coordinates, and the world velocity of its origin.
  const Motion vf = frame.placement.act_inverse(data.v[joint_id]);
  const Vec3 vp = data.ov[joint_id].linear + data.ov[joint_id].angular.cross(p);
  for (size_t j = joint_id; j != 0; j = model.parents[j]) {
    const size_t first = model.joint_v_idx[j], last = first + model.joint_nv[j];
    for (size_t c = first; c < last; ++c) {
      Motion& out = columns[c];
      switch (reference_frame) {
        case ReferenceFrame::WORLD:
          out = data.dJ[c];
          break;
        case ReferenceFrame::LOCAL:
          out = oMf.act_inverse(data.dJ[c]) - cross(vf, oMf.act_inverse(data.J[c]));
          break;
        case ReferenceFrame::LOCAL_WORLD_ALIGNED:
          out = {data.dJ[c].angular, data.dJ[c].linear - p.cross(data.dJ[c].angular) - vp.cross(data.J[c].angular)};
          break;
      }
    }
  }
}

}  // namespace kavrel
