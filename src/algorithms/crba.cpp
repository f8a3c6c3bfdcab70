#include "algorithms/crba.hpp"

#include "algorithms/forward_kinematics.hpp"

namespace kavrel {

void crba(const Model& model, Data& data, std::span<const double> q) {
  require_configuration(model, data, q);
  data.oMi[0] = data.liMi[0] = SE3::identity();
  data.composite_inertia[0] = Inertia::zero();
  data.M.setZero();
  // Forward: placements, then world Jacobian columns and body inertias in the
  // world, read back once the placements' stores have landed.
  for (size_t i = 1; i < model.njoints; ++i) forward_step(model, data, i, q);
  for (size_t i = 1; i < model.njoints; ++i) {
    const Joint& joint = model.joints[i];
    const size_t first = model.joint_v_idx[i];
    write_world_subspace(joint, data.oMi[i], data.J.data() + first);
    data.composite_inertia[i] = se3_act_on_inertia(data.oMi[i], model.inertias[i]);
  }
  // Backward: each composite inertia is complete when its joint is reached.
  for (size_t i = model.njoints - 1; i > 0; --i) {
    const Inertia& composite = data.composite_inertia[i];
    const size_t parent = model.parents[i], first = model.joint_v_idx[i];
    if (model.joint_nv[i] == 6 && parent == 0) {
      write_free_root_block(data, first, data.oMi[i], composite);
      continue;
    }
    for (size_t c = first, end = c + model.joint_nv[i]; c < end; ++c) {
      write_mass_column(model, data, i, c, composite * data.J[c]);
    }
    if (parent != 0) add_inertias_inplace(data.composite_inertia[parent], composite);
  }
}

}  // namespace kavrel
