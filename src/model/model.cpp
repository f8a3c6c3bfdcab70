#include "model/model.hpp"

#include <limits>

namespace kavrel {

Model Model::create() {
  Model model;
  model.njoints = model.nbodies = 1;
  model.joints.push_back(Joint::make(JointType::Fixed, Vec3::Zero()));
  model.joint_placements.push_back(SE3::identity());
  model.inertias.push_back(Inertia::zero());
  model.names.emplace_back("universe");
  model.parents.push_back(0);
  model.joint_nq.push_back(0);
  model.joint_nv.push_back(0);
  model.joint_q_idx.push_back(0);
  model.joint_v_idx.push_back(0);
  add_frame(model, Frame{"universe", 0, 0, SE3::identity(), Inertia::zero(),
                         FrameType{FrameType::FIXED_JOINT}});
  return model;
}

Result<size_t> add_joint(Model& model, size_t parent, const Joint& joint, const SE3& placement,
                         std::string name) {
  // Checked first so that a refused joint leaves the model as it was.
  if (parent >= model.njoints)
    return value_error("parent " + std::to_string(parent) + " >= njoints " +
                       std::to_string(model.njoints));
  const size_t id = model.njoints;
  model.joints.push_back(joint);
  model.joint_placements.push_back(placement);
  model.inertias.push_back(Inertia::zero());
  model.names.push_back(std::move(name));
  model.parents.push_back(parent);
  model.joint_nq.push_back(joint.nq);
  model.joint_nv.push_back(joint.nv);
  model.joint_q_idx.push_back(model.nq);
  model.joint_v_idx.push_back(model.nv);
  model.nq += joint.nq;
  model.nv += joint.nv;
  model.njoints += 1;
  model.nbodies += 1;
  return id;
}

void set_joint_position_limits(Model& model, size_t joint_id, std::span<const double> lower,
                               std::span<const double> upper) {
  if (joint_id >= model.njoints) return;
  const size_t start = model.joint_v_idx[joint_id];
  const size_t n = model.joint_nv[joint_id];
  constexpr double inf = std::numeric_limits<double>::infinity();
  if (model.lowerPositionLimit.size() < start + n) model.lowerPositionLimit.resize(start + n, -inf);
  if (model.upperPositionLimit.size() < start + n) model.upperPositionLimit.resize(start + n, inf);
  for (size_t k = 0; k < n; ++k) {
    if (k < lower.size()) model.lowerPositionLimit[start + k] = lower[k];
    if (k < upper.size()) model.upperPositionLimit[start + k] = upper[k];
  }
}

void add_frame(Model& model, Frame frame) {
  model.frames.push_back(std::move(frame));
  model.nframes = model.frames.size();
}

Result<size_t> add_operational_frame(Model& model, std::string name, size_t parent_joint, const SE3& placement) {
  if (parent_joint >= model.njoints)
    return value_error("joint_id " + std::to_string(parent_joint) + " >= njoints " + std::to_string(model.njoints));
  add_frame(model, Frame{std::move(name), parent_joint, 0, placement, Inertia::zero(), FrameType{FrameType::OP_FRAME}});
  return model.nframes - 1;
}

std::optional<size_t> find_joint(const Model& model, std::string_view name) {
  for (size_t i = 0; i < model.names.size(); ++i)
    if (model.names[i] == name) return i;
  return std::nullopt;
}

std::optional<size_t> find_frame(const Model& model, std::string_view name) {
  for (size_t i = 0; i < model.frames.size(); ++i)
    if (model.frames[i].name == name) return i;
  return std::nullopt;
}

}  // namespace kavrel
