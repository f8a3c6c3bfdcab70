// Reads a URDF document into plain records, in document order.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "joint/joint.hpp"

namespace kavrel::urdf {

struct Pose {
  Vec3 xyz = Vec3::Zero();
  Vec3 rpy = Vec3::Zero();  // roll, pitch, yaw about the fixed x, y, z axes
};

// A link without <inertial>, or an <inertial> without <mass>, reads as mass 0;
// absent tensor entries read as 0.
struct InertialRecord {
  Pose origin;
  double mass = 0.0;
  double ixx = 0.0, ixy = 0.0, ixz = 0.0, iyy = 0.0, iyz = 0.0, izz = 0.0;
};

struct LinkRecord {
  std::string name;
  InertialRecord inertial;
};

struct JointRecord {
  std::string name;
  JointType type = JointType::Fixed;
  Pose origin;
  std::string parent;
  std::string child;
  Vec3 axis = Vec3(1.0, 0.0, 0.0);
  double lower = 0.0;
  double upper = 0.0;
};

struct RobotRecord {
  std::string name;
  std::vector<LinkRecord> links;
  std::vector<JointRecord> joints;
};

// Nothing when the text is not a URDF document: not well-formed XML 1.0 with
// a single <robot> root, needing an external entity or DTD to be read, a
// required name or link reference missing, an unknown joint type, or a number
// that this reader reads and cannot parse, that is NaN, or that is infinite
// anywhere but in a joint limit. The text is UTF-8 whatever its
// declaration names (UTF-16 only with a byte order mark). Internal entities
// are expanded. Elements and attributes it does not read are not looked at.
std::optional<RobotRecord> read_urdf(std::string_view text);

// A decimal number as an XML attribute holds it: surrounding XML whitespace,
// an optional sign ('+' included), nothing after the number, and the value
// must fit a double. Independent of the locale.
std::optional<double> parse_number(std::string_view text);

}  // namespace kavrel::urdf
