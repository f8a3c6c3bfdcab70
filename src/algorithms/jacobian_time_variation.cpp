#include "algorithms/jacobian_time_variation.hpp"

#include <algorithm>

#include "algorithms/forward_kinematics.hpp"

namespace kavrel {

void compute_joint_jacobians_time_variation(const Model& model, Data& data, std::span<const double> q,
                                            std::span<const double> v) {
  require_configuration(model, data, q);
  require_velocity(model, v);
  std::fill(data.J.begin(), data.J.end(), Motion::zero());
  std::fill(data.dJ.begin(), data.dJ.end(), Motion::zero());
  data.v[0] = Motion::zero();
  for (size_t i = 1; i < model.njoints; ++i) {
    forward_step(model, data, i, q);
    // Velocities: the parent's seen from joint i, plus the joint's own.
    const Joint& joint = model.joints[i];
    const size_t parent = model.parents[i], first = model.joint_v_idx[i];
    const Motion vj = compute_joint_velocity(joint, v.data() + first);
    data.v[i] = parent == 0 ? vj : data.liMi[i].act_inverse(data.v[parent]) + vj;
    data.ov[i] = data.oMi[i].act(data.v[i]);
    // Columns and their rates: S_i is fixed in body i, which moves with ov[i].
    write_world_subspace(joint, data.oMi[i], data.J.data() + first);
    for (uint32_t k = 0; k < joint.nv; ++k) data.dJ[first + k] = cross(data.ov[i], data.J[first + k]);
  }
}

}  // namespace kavrel
