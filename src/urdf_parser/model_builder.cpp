#include "urdf_parser/model_builder.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kavrel::urdf {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);

// Larger files are refused rather than read: a URDF of that size is a
// mistake (or /dev/zero), not a robot.
constexpr size_t kMaxFileSize = size_t{256} << 20;

std::optional<std::string> read_whole_file(const std::string& path) {
  // The C library would stop at the NUL and open some other file.
  if (path.find('\0') != std::string::npos) return std::nullopt;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return std::nullopt;
  size_t capacity = size_t{1} << 16;
  struct stat status;
  if (fstat(fileno(file.get()), &status) == 0 && S_ISREG(status.st_mode)) {
    if (static_cast<uintmax_t>(status.st_size) > kMaxFileSize) return std::nullopt;
    capacity = static_cast<size_t>(status.st_size) + 1;  // the extra byte sees the end of the file
  }
  // Devices and pipes have no size: grow up to one byte past the limit.
  std::string text(capacity, '\0');
  size_t size = 0;
  while (true) {
    if (size == text.size()) {
      if (size > kMaxFileSize) return std::nullopt;
      text.resize(std::min(kMaxFileSize + 1, 2 * size));
    }
    const size_t got = std::fread(text.data() + size, 1, text.size() - size, file.get());
    if (got == 0) break;
    size += got;
  }
  // A directory opens but fails on the first read.
  if (std::ferror(file.get())) return std::nullopt;
  text.resize(size);
  return text;
}

Vec3 stored_axis(const JointRecord& joint) {
  switch (joint.type) {
    case JointType::Revolute:
    case JointType::Continuous:
    case JointType::Prismatic:
    case JointType::Planar: return joint.axis;
    case JointType::Fixed:
    case JointType::Floating:
    case JointType::Spherical: return Vec3::Zero();
  }
  fail_internal("unknown joint type");
}

// The joints leaving each link, in document order, as one flat array.
struct ChildTable {
  std::vector<size_t> start;   // per link, into `joints`; one extra entry at the end
  std::vector<size_t> joints;  // joint indices
};

}  // namespace

Mat3 rotation_from_rpy(const Vec3& rpy) {
  const double cr = std::cos(rpy.x()), sr = std::sin(rpy.x());
  const double cp = std::cos(rpy.y()), sp = std::sin(rpy.y());
  const double cy = std::cos(rpy.z()), sy = std::sin(rpy.z());
  Mat3 r;
  r << cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr,  //
      sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr,   //
      -sp, cp * sr, cp * cr;
  return r;
}

Inertia convert_inertia_from_urdf(const InertialRecord& inertial) {
  if (inertial.mass == 0.0) return Inertia::zero();
  const Vec3& rpy = inertial.origin.rpy;
  const Eigen::Quaterniond q = Eigen::AngleAxisd(rpy.z(), Vec3::UnitZ()) *
                               Eigen::AngleAxisd(rpy.y(), Vec3::UnitY()) *
                               Eigen::AngleAxisd(rpy.x(), Vec3::UnitX());
  const Mat3 r = q.normalized().toRotationMatrix();
  Mat3 tensor;
  tensor << inertial.ixx, inertial.ixy, inertial.ixz,  //
      inertial.ixy, inertial.iyy, inertial.iyz,        //
      inertial.ixz, inertial.iyz, inertial.izz;
  return {inertial.mass, inertial.origin.xyz, Symmetric3::from_matrix(r * tensor * r.transpose())};
}

Result<Model> build_model_from_urdf(const RobotRecord& robot) {
  const auto& links = robot.links;
  const auto& joints = robot.joints;

  // One parent joint per link; this also keeps cycles away from the walk,
  // since entering a cycle needs a link with a second parent.
  std::unordered_map<std::string_view, size_t> joint_by_child;
  joint_by_child.reserve(joints.size());
  for (size_t j = 0; j < joints.size(); ++j)
    if (!joint_by_child.emplace(joints[j].child, j).second)
      return runtime_error("Link " + joints[j].child + " is the child of more than one joint");

  size_t root = kNone;
  for (size_t l = 0; l < links.size() && root == kNone; ++l)
    if (!joint_by_child.contains(links[l].name)) root = l;
  if (root == kNone) return runtime_error("No root link found in URDF");

  // Names resolve to their first link in document order.
  std::unordered_map<std::string_view, size_t> link_by_name;
  link_by_name.reserve(links.size());
  for (size_t l = 0; l < links.size(); ++l) link_by_name.emplace(links[l].name, l);

  // Joints whose parent or child link is not declared are never reached.
  std::vector<size_t> parent_link(joints.size(), kNone), child_link(joints.size(), kNone);
  ChildTable children{std::vector<size_t>(links.size() + 1, 0), {}};
  for (size_t j = 0; j < joints.size(); ++j) {
    auto parent = link_by_name.find(joints[j].parent);
    auto child = link_by_name.find(joints[j].child);
    if (parent == link_by_name.end() || child == link_by_name.end()) continue;
    parent_link[j] = parent->second;
    child_link[j] = child->second;
    ++children.start[parent->second + 1];
  }
  for (size_t l = 0; l < links.size(); ++l) children.start[l + 1] += children.start[l];
  children.joints.resize(children.start.back());
  std::vector<size_t> fill(children.start.begin(), children.start.end() - 1);
  for (size_t j = 0; j < joints.size(); ++j)
    if (parent_link[j] != kNone) children.joints[fill[parent_link[j]]++] = j;

  Model model = Model::create();
  model.name = robot.name;
  model.frames.reserve(2 + 2 * joints.size());
  model.inertias[0] = convert_inertia_from_urdf(links[root].inertial);
  add_frame(model, Frame{links[root].name, 0, 0, SE3::identity(), Inertia::zero(),
                         FrameType{FrameType::BODY}});

  // Depth-first pre-order on an explicit stack: children are pushed in
  // reverse so that they come off in document order.
  std::vector<std::pair<size_t, size_t>> pending;  // (URDF joint, parent model joint)
  auto push_children = [&](size_t link, size_t parent) {
    for (size_t k = children.start[link + 1]; k-- > children.start[link];)
      pending.emplace_back(children.joints[k], parent);
  };
  push_children(root, 0);
  while (!pending.empty()) {
    const auto [j, parent] = pending.back();
    pending.pop_back();
    const JointRecord& joint = joints[j];
    const LinkRecord& link = links[child_link[j]];
    const SE3 placement{rotation_from_rpy(joint.origin.rpy), joint.origin.xyz};
    auto id = add_joint(model, parent, Joint::make(joint.type, stored_axis(joint)), placement, joint.name);
    if (!id) return id.error();
    const size_t n = model.joint_nv[*id];
    if (joint.type != JointType::Fixed) {
      std::array<double, 6> lower, upper;
      lower.fill(joint.lower);
      upper.fill(joint.upper);
      set_joint_position_limits(model, *id, std::span(lower.data(), n), std::span(upper.data(), n));
    }
    model.inertias[*id] = convert_inertia_from_urdf(link.inertial);
    add_frame(model, Frame{joint.name, *id, 0, SE3::identity(), Inertia::zero(),
                           FrameType{FrameType::JOINT}});
    add_frame(model, Frame{link.name, *id, 0, SE3::identity(), Inertia::zero(),
                           FrameType{FrameType::BODY}});
    push_children(child_link[j], *id);
  }
  return model;
}

Result<Model> parse_urdf_from_string(std::string_view text) {
  auto robot = read_urdf(text);
  if (!robot) return runtime_error("Failed to parse URDF from string");
  return build_model_from_urdf(*robot);
}

Result<Model> parse_urdf_file(const std::string& path) {
  auto text = read_whole_file(path);
  std::optional<RobotRecord> robot;
  if (text) robot = read_urdf(*text);
  if (!robot) return runtime_error("Failed to parse URDF file: " + path);
  return build_model_from_urdf(*robot);
}

}  // namespace kavrel::urdf
