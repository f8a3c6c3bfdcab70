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
    // Placements, as forward kinematics.
    data.liMi[i] = joint_placement_at(model, i, q);
    const size_t parent = model.parents[i];
    data.oMi[i] = parent == 0 ? data.liMi[i] : data.oMi[parent].compose(data.liMi[i]);
    // The joint's motion subspace carried into the world.
    const MotionSubspace s = compute_joint_motion_subspace(model.joints[i]);
    const size_t first = model.joint_v_idx[i], nv = model.joint_nv[i];
    KAVREL_REQUIRE(s.count >= nv, "motion subspace of joint " + std::to_string(i) + " is too small");
    for (size_t k = 0; k < nv && first + k < data.J.size(); ++k) data.J[first + k] = data.oMi[i].act(s[k]);
  }
}

void compute_joint_jacobian(const Model& model, Data& data, std::span<const double> q, size_t joint_id,
                            std::span<Motion> columns) {
  KAVREL_REQUIRE(q.size() == model.nq, "Configuration vector size mismatch: expected " +
                                           std::to_string(model.nq) + ", got " + std::to_string(q.size()));
  KAVREL_REQUIRE(joint_id < model.njoints, "Joint ID " + std::to_string(joint_id) +
                                               " is out of range (njoints = " + std::to_string(model.njoints) + ")");
  require_matching_sizes(model, data);
  KAVREL_REQUIRE(columns.size() == model.nv, "compute_joint_jacobian: result has " +
                                                 std::to_string(columns.size()) + " columns");
  std::fill(columns.begin(), columns.end(), Motion::zero());
  // jMt: the target joint's frame seen from joint j; one transform replaces a per-joint table.
  SE3 jMt = SE3::identity();
  for (size_t j = joint_id; j != 0; j = model.parents[j]) {
    data.liMi[j] = joint_placement_at(model, j, q);
    const size_t first = model.joint_v_idx[j], nv = model.joint_nv[j];
    if (nv > 0) {
      const MotionSubspace s = compute_joint_motion_subspace(model.joints[j]);
      KAVREL_REQUIRE(s.count >= nv, "motion subspace of joint " + std::to_string(j) + " is too small");
      for (size_t k = 0; k < nv && first + k < columns.size(); ++k) columns[first + k] = jMt.act_inverse(s[k]);
    }
    // Moving up one joint: the target as seen from the parent.
    jMt = data.liMi[j].compose(jMt);
  }
}

}  // namespace kavrel
