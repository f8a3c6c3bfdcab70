#include "algorithms/jacobian_time_variation.hpp"

#include <algorithm>
#include <string>

#include "algorithms/forward_kinematics.hpp"

namespace kavrel {

void compute_joint_jacobians_time_variation(const Model& model, Data& data, std::span<const double> q,
                                            std::span<const double> v) {
  require_configuration(model, data, q);
  require_velocity(model, v);
  KAVREL_REQUIRE(data.dJ.size() == model.nv && data.v.size() == model.njoints && data.ov.size() == model.njoints,
                 "Data was created for another model: velocity fields have the wrong size");
  std::fill(data.J.begin(), data.J.end(), Motion::zero());
  std::fill(data.dJ.begin(), data.dJ.end(), Motion::zero());
  data.v[0] = Motion::zero();
  for (size_t i = 1; i < model.njoints; ++i) {
    // Placements.
    data.liMi[i] = joint_placement_at(model, i, q);
    const size_t parent = model.parents[i];
    data.oMi[i] = parent == 0 ? data.liMi[i] : data.oMi[parent].compose(data.liMi[i]);
    // Velocities: the parent's seen from joint i, plus the joint's own.
    const Joint& joint = model.joints[i];
    const size_t first = model.joint_v_idx[i], nv = model.joint_nv[i];
    const Motion vj = nv > 0 ? compute_joint_velocity(joint, v, first) : Motion::zero();
    data.v[i] = parent == 0 ? vj : data.liMi[i].act_inverse(data.v[parent]) + vj;
    data.ov[i] = data.oMi[i].act(data.v[i]);
    if (nv == 0) continue;
    // Columns and their rates: S_i is fixed in body i, which moves with ov[i].
    const MotionSubspace s = compute_joint_motion_subspace(joint);
    KAVREL_REQUIRE(s.count >= nv, "motion subspace of joint " + std::to_string(i) + " is too small");
    for (size_t k = 0; k < nv; ++k) {
      data.J[first + k] = data.oMi[i].act(s[k]);
      data.dJ[first + k] = cross(data.ov[i], data.J[first + k]);
    }
  }
}

}  // namespace kavrel
