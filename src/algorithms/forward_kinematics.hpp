// Forward kinematics:
//   liMi[i] = placement_i * X_J,i(q)
//   oMi[i]  = oMi[parent(i)] * liMi[i]
// Writes liMi and oMi, nothing else.
#pragma once

#include <span>
#include <string>

#include "data/data.hpp"

namespace kavrel {

void forward_kinematics(const Model& model, Data& data, std::span<const double> q);

// Placement of joint i in its parent's frame at q.
inline SE3 joint_placement_at(const Model& model, size_t i, std::span<const double> q) {
  return model.joint_placements[i].compose(
      compute_joint_transform(model.joints[i], q, model.joint_q_idx[i]));
}

// The shared checks of a pass over q: its length, and a workspace made for this model.
inline void require_configuration(const Model& model, const Data& data, std::span<const double> q) {
  KAVREL_REQUIRE(q.size() == model.nq, "Configuration vector size mismatch: expected " +
                                           std::to_string(model.nq) + ", got " + std::to_string(q.size()));
  require_matching_sizes(model, data);
}

inline void require_velocity(const Model& model, std::span<const double> v) {
  KAVREL_REQUIRE(v.size() == model.nv, "Velocity vector size mismatch: expected " +
                                           std::to_string(model.nv) + ", got " + std::to_string(v.size()));
}

}  // namespace kavrel
