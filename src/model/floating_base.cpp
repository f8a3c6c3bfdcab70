#include "model/floating_base.hpp"

#include <limits>

namespace kavrel {

Model with_floating_base(const Model& model, std::string name) {
  Model out = Model::create();
  out.name = model.name;
  out.gravity = model.gravity;
  const auto base = add_joint(out, 0, Joint::make(JointType::Floating, Vec3::Zero()), SE3::identity(), std::move(name));
  KAVREL_REQUIRE(base && base.value() == 1, "with_floating_base: the new joint must be joint 1");
  out.inertias[1] = model.inertias[0];
  for (size_t i = 1; i < model.njoints; ++i) {
    const auto id = add_joint(out, model.parents[i] + 1, model.joints[i], model.joint_placements[i], model.names[i]);
    KAVREL_REQUIRE(id && id.value() == i + 1, "with_floating_base: joint " + std::to_string(i) + " was not copied in order");
    out.inertias[i + 1] = model.inertias[i];
  }

  // Limits are indexed like v: the new joint's six come first.
  constexpr double inf = std::numeric_limits<double>::infinity();
  out.lowerPositionLimit.assign(6, -inf);
  out.upperPositionLimit.assign(6, inf);
  out.lowerPositionLimit.insert(out.lowerPositionLimit.end(), model.lowerPositionLimit.begin(),
                                model.lowerPositionLimit.end());
  out.upperPositionLimit.insert(out.upperPositionLimit.end(), model.upperPositionLimit.begin(),
                                model.upperPositionLimit.end());

  // Frame 0 stays the universe; the new JOINT frame takes index 1, so every later frame moves one on.
  out.frames.clear();
  out.frames.reserve(model.frames.size() + 1);
  auto renumbered = [](size_t frame) { return frame == 0 ? 0 : frame + 1; };
  for (size_t f = 0; f < model.frames.size(); ++f) {
    Frame frame = model.frames[f];
    const bool root_body = frame.parent_joint == 0 && (frame.frame_type.bits & FrameType::BODY) != 0;
    frame.parent_joint = frame.parent_joint != 0 || root_body ? frame.parent_joint + 1 : 0;
    frame.previous_frame = renumbered(frame.previous_frame);
    out.frames.push_back(std::move(frame));
  }
  out.frames.insert(out.frames.begin() + 1, Frame{out.names[1], 1, 0, SE3::identity(), Inertia::zero(),
                                                  FrameType{FrameType::JOINT}});
  out.nframes = out.frames.size();
  return out;
}

}  // namespace kavrel
