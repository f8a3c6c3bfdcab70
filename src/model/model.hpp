// The kinematic tree: joints, bodies, frames, limits and gravity.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "frame/frame.hpp"
#include "joint/joint.hpp"
#include "types/result.hpp"

namespace kavrel {

struct Model {
  std::string name;
  size_t njoints = 0;
  size_t nbodies = 0;
  size_t nframes = 0;
  size_t nq = 0;
  size_t nv = 0;

  // One entry per joint; joint 0 is the fixed root "universe" and every
  // parent has a smaller index than its children.
  std::vector<Joint> joints;
  std::vector<SE3> joint_placements;  // fixed side of joint i in its parent's frame
  std::vector<Inertia> inertias;      // body of joint i, in joint i's frame
  std::vector<std::string> names;
  std::vector<size_t> parents;
  std::vector<size_t> joint_nq;
  std::vector<size_t> joint_nv;
  std::vector<size_t> joint_q_idx;  // first coordinate of joint i in q
  std::vector<size_t> joint_v_idx;  // first coordinate of joint i in v

  // Indexed like v; they grow lazily as limits are set.
  std::vector<double> lowerPositionLimit;
  std::vector<double> upperPositionLimit;

  std::vector<Frame> frames;
  Motion gravity{Vec3::Zero(), Vec3(0.0, 0.0, -9.81)};

  static Model create();
};

// Appends a joint and its massless body; fails if the parent does not exist.
Result<size_t> add_joint(Model& model, size_t parent, const Joint& joint, const SE3& placement,
                         std::string name);


// Writes the limits of one joint's velocity coordinates; ignores unknown joints.
void set_joint_position_limits(Model& model, size_t joint_id, std::span<const double> lower,
                               std::span<const double> upper);

void add_frame(Model& model, Frame frame);

// Adds an operational frame (previous frame 0) on an existing joint and returns its
// index; for a joint that does not exist it fails and changes nothing.
Result<size_t> add_operational_frame(Model& model, std::string name, size_t parent_joint, const SE3& placement);

std::optional<size_t> find_joint(const Model& model, std::string_view name);
std::optional<size_t> find_frame(const Model& model, std::string_view name);

}  // namespace kavrel
