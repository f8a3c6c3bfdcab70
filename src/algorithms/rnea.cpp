#include "algorithms/rnea.hpp"

#include <tuple>

#include "algorithms/forward_kinematics.hpp"

namespace kavrel {

namespace {

// The wrappers' zero velocity or acceleration is known at compile time, so
// their passes skip the terms it would cancel.
template <bool WithVelocity, bool WithAcceleration>
void rnea_pass(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
               std::span<const double> a) {
  require_configuration(model, data, q);
  if constexpr (WithVelocity) require_velocity(model, v);
  if constexpr (WithAcceleration) require_velocity(model, a);
  data.v[0] = Motion::zero();
  data.a[0] = -model.gravity;
  // Forward: placements, velocities, accelerations and body forces.
  for (size_t i = 1; i < model.njoints; ++i) {
    const SE3 liMi = forward_step(model, data, i, q);
    const Joint& joint = model.joints[i];
    const size_t parent = model.parents[i], first = model.joint_v_idx[i];
    const Inertia& body = model.inertias[i];
    Motion vi, ai;
    if constexpr (WithVelocity) std::tie(vi, ai) = liMi.act_inverse(data.v[parent], data.a[parent]);
    else ai = liMi.act_inverse(data.a[parent]);
    if constexpr (WithAcceleration) ai += compute_joint_velocity(joint, a.data() + first);
    if constexpr (WithVelocity) {
      const Motion vj = compute_joint_velocity(joint, v.data() + first);
      vi += vj;
      ai += cross(vi, vj);
      data.f[i] = body.force_at(vi, ai);
      data.v[i] = vi;
    } else {
      data.f[i] = body * ai;
      data.v[i] = Motion::zero();
    }
    data.a[i] = ai;
  }
  // Backward: project each subtree force on its joint, pass it to the parent.
  for (size_t i = model.njoints - 1; i > 0; --i) {
    project_force(model.joints[i], data.f[i], data.tau.data() + model.joint_v_idx[i]);
    const size_t parent = model.parents[i];
    if (parent != 0) data.f[parent] += data.liMi[i].act(data.f[i]);
  }
}

}  // namespace

void rnea(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
          std::span<const double> a) {
  rnea_pass<true, true>(model, data, q, v, a);
}

void non_linear_effects(const Model& model, Data& data, std::span<const double> q, std::span<const double> v) {
  rnea_pass<true, false>(model, data, q, v, {});
  data.nle = data.tau;
}

void compute_gravity(const Model& model, Data& data, std::span<const double> q) {
  rnea_pass<false, false>(model, data, q, {}, {});
  data.g = data.tau;
}

}  // namespace kavrel
