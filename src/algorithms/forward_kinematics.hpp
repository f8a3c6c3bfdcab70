// Forward kinematics:
//   liMi[i] = placement_i * X_J,i(q)
//   oMi[i]  = oMi[parent(i)] * liMi[i]
// Writes liMi and oMi, nothing else. The step and the entry checks here are
// shared by every pass.
#pragma once

#include <span>
#include <string>

#include "data/data.hpp"

namespace kavrel {

void forward_kinematics(const Model& model, Data& data, std::span<const double> q);

// Placement of joint i in its parent's frame at q.
[[gnu::always_inline]] inline SE3 joint_placement_at(const Model& model, size_t i, std::span<const double> q) {
  return compute_joint_placement(model.joints[i], model.joint_placements[i], q.data() + model.joint_q_idx[i]);
}

enum class StepResult { Local, World };

// One step of the forward pass: liMi[i] and oMi[i], the parent's oMi being
// final. Returns liMi[i], or oMi[i] for the passes in world coordinates:
// they read it from registers, not back from the store just made.
template <StepResult Result = StepResult::Local>
[[gnu::always_inline]] inline SE3 forward_step(const Model& model, Data& data, size_t i, std::span<const double> q) {
  const SE3 liMi = joint_placement_at(model, i, q);
  const size_t parent = model.parents[i];
  if constexpr (Result == StepResult::World) {
    const SE3 oMi = parent == 0 ? liMi : data.oMi[parent].compose(liMi);
    data.oMi[i] = oMi;
    data.liMi[i] = liMi;
    return oMi;
  } else {
    data.oMi[i] = parent == 0 ? liMi : data.oMi[parent].compose(liMi);
    data.liMi[i] = liMi;
    return liMi;
  }
}

// The checks at the door of a pass over q (and v): lengths, and a workspace
// made for this model. Nothing inside a pass checks again.
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
