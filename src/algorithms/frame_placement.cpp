#include "algorithms/frame_placement.hpp"

#include <string>

namespace kavrel {

SE3 frame_placement(const Model& model, const Data& data, size_t frame_id) {
  require_matching_sizes(model, data);
  KAVREL_REQUIRE(frame_id < model.frames.size(), "Frame ID " + std::to_string(frame_id) +
                                                     " out of bounds (nframes = " + std::to_string(model.nframes) + ")");
  const Frame& frame = model.frames[frame_id];
  KAVREL_REQUIRE(frame.parent_joint < model.njoints, "Frame " + std::to_string(frame_id) + " has invalid joint ID " +
                                                         std::to_string(frame.parent_joint));
  return data.oMi[frame.parent_joint].compose(frame.placement);
}

}  // namespace kavrel
