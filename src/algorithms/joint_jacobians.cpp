#include "algorithms/joint_jacobians.hpp"

#include <algorithm>
#include <string>

#include "algorithms/forward_kinematics.hpp"

namespace kavrel {

void compute_joint_jacobians(const Model& model, Data& data, std::span<const double> q) {
  require_configuration(model, data, q);
  std::fill(data.J.begin(), data.J.end(), Motion::zero());
  data.oMi[0] = data.liMi[0] = SE3::identity();
  for (size_t i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q);
    // The joint's motion subspace carried into the world.
    const Joint& joint = model.joints[i];
    const size_t first = model.joint_v_idx[i];
    write_world_subspace(joint, data.oMi[i], data.J.data() + first);
  }
}

void compute_joint_jacobian(const Model& model, Data& data, std::span<const double> q, size_t joint_id,
                            std::span<Motion> columns) {
  require_configuration(model, data, q);
  KAVREL_REQUIRE(joint_id < model.njoints, "Joint ID " + std::to_string(joint_id) +
                                               " is out of range (njoints = " + std::to_string(model.njoints) + ")");
  KAVREL_REQUIRE(columns.size() == model.nv, "compute_joint_jacobian: result has " +
                                                 std::to_string(columns.size()) + " columns");
  std::fill(columns.begin(), columns.end(), Motion::zero());
  // jMt: the target joint's frame seen from joint j; one transform replaces a per-joint table.
  SE3 jMt = SE3::identity();
  for (size_t j = joint_id; j != 0; j = model.parents[j]) {
    data.liMi[j] = joint_placement_at(model, j, q);
    const Joint& joint = model.joints[j];
    const size_t first = model.joint_v_idx[j];
    for (uint32_t k = 0; k < joint.nv; ++k) columns[first + k] = jMt.act_inverse(joint.subspace[k]);
    // Moving up one joint: the target as seen from the parent.
    jMt = data.liMi[j].compose(jMt);
  }
}

}  // namespace kavrel
