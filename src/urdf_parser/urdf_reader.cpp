#include "urdf_parser/urdf_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <pugixml.hpp>

namespace kavrel::urdf {

namespace {

constexpr bool is_xml_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Well-formed UTF-8 made only of characters XML allows: pugixml checks neither,
// and NUL would end its parse early without an error.
bool is_xml_text(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned c = bytes[i];
    if (c < 0x80) {
      if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) return false;
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t code = 0;
    if ((c & 0xE0) == 0xC0) length = 2, code = c & 0x1F;
    else if ((c & 0xF0) == 0xE0) length = 3, code = c & 0x0F;
    else if ((c & 0xF8) == 0xF0) length = 4, code = c & 0x07;
    else return false;
    if (n - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (bytes[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and the two non-characters XML excludes.
    static constexpr uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
        code == 0xFFFE || code == 0xFFFF)
      return false;
    i += length;
  }
  return true;
}

bool attributes_unique(pugi::xml_node node) {
  pugi::xml_attribute first = node.first_attribute();
  if (!first || !first.next_attribute()) return true;
  // Pairwise for the few attributes URDF elements carry, sorted beyond that.
  std::array<const char*, 8> few;
  size_t count = 0;
  pugi::xml_attribute a = first;
  for (; a && count < few.size(); a = a.next_attribute()) {
    for (size_t k = 0; k < count; ++k)
      if (std::strcmp(few[k], a.name()) == 0) return false;
    few[count++] = a.name();
  }
  if (!a) return true;
  std::vector<std::string_view> names(few.begin(), few.end());
  for (; a; a = a.next_attribute()) names.emplace_back(a.name());
  std::sort(names.begin(), names.end());
  return std::adjacent_find(names.begin(), names.end()) == names.end();
}

// Duplicate attributes make XML ill-formed, and pugixml keeps them.
// Iterative, so that deeply nested input cannot exhaust the stack.
bool all_attributes_unique(pugi::xml_node root) {
  pugi::xml_node node = root;
  while (true) {
    if (!attributes_unique(node)) return false;
    if (pugi::xml_node child = node.first_child()) {
      node = child;
      continue;
    }
    while (node != root && !node.next_sibling()) node = node.parent();
    if (node == root) return true;
    node = node.next_sibling();
  }
}

bool is(pugi::xml_node node, const char* name) {
  return node.type() == pugi::node_element && std::strcmp(node.name(), name) == 0;
}

// An absent attribute leaves `out` as it was.
bool read_number(pugi::xml_attribute attribute, double& out) {
  if (!attribute) return true;
  auto value = parse_number(attribute.value());
  if (!value) return false;
  out = *value;
  return true;
}

bool read_triple(pugi::xml_attribute attribute, Vec3& out) {
  if (!attribute) return true;
  std::string_view text = attribute.value();
  Vec3 values;
  int count = 0;
  size_t i = 0;
  while (true) {
    while (i < text.size() && is_xml_space(text[i])) ++i;
    if (i == text.size()) break;
    const size_t start = i;
    while (i < text.size() && !is_xml_space(text[i])) ++i;
    if (count == 3) return false;
    auto value = parse_number(text.substr(start, i - start));
    if (!value) return false;
    values[count++] = *value;
  }
  if (count != 3) return false;
  out = values;
  return true;
}

bool read_pose(pugi::xml_node owner, Pose& pose) {
  pugi::xml_node origin = owner.child("origin");
  return read_triple(origin.attribute("xyz"), pose.xyz) && read_triple(origin.attribute("rpy"), pose.rpy);
}

bool read_name(pugi::xml_node node, std::string& out) {
  pugi::xml_attribute name = node.attribute("name");
  if (!name) return false;
  out = name.value();
  return true;
}

std::optional<JointType> joint_type(std::string_view type) {
  static constexpr std::pair<std::string_view, JointType> kinds[] = {
      {"revolute", JointType::Revolute}, {"continuous", JointType::Continuous},
      {"prismatic", JointType::Prismatic}, {"fixed", JointType::Fixed},
      {"floating", JointType::Floating}, {"planar", JointType::Planar},
      {"spherical", JointType::Spherical}};
  for (const auto& [name, kind] : kinds)
    if (name == type) return kind;
  return std::nullopt;
}

bool read_link(pugi::xml_node node, LinkRecord& link) {
  if (!read_name(node, link.name)) return false;
  pugi::xml_node inertial = node.child("inertial");
  if (!inertial) return true;
  InertialRecord& record = link.inertial;
  pugi::xml_node inertia = inertial.child("inertia");
  return read_pose(inertial, record.origin) &&
         read_number(inertial.child("mass").attribute("value"), record.mass) &&
         read_number(inertia.attribute("ixx"), record.ixx) &&
         read_number(inertia.attribute("ixy"), record.ixy) &&
         read_number(inertia.attribute("ixz"), record.ixz) &&
         read_number(inertia.attribute("iyy"), record.iyy) &&
         read_number(inertia.attribute("iyz"), record.iyz) &&
         read_number(inertia.attribute("izz"), record.izz);
}

bool read_joint(pugi::xml_node node, JointRecord& joint) {
  if (!read_name(node, joint.name)) return false;
  pugi::xml_attribute type = node.attribute("type");
  if (!type) return false;
  auto kind = joint_type(type.value());
  if (!kind) return false;
  joint.type = *kind;
  pugi::xml_attribute parent = node.child("parent").attribute("link");
  pugi::xml_attribute child = node.child("child").attribute("link");
  if (!parent || !child) return false;
  joint.parent = parent.value();
  joint.child = child.value();
  pugi::xml_node limit = node.child("limit");
  return read_pose(node, joint.origin) && read_triple(node.child("axis").attribute("xyz"), joint.axis) &&
         read_number(limit.attribute("lower"), joint.lower) &&
         read_number(limit.attribute("upper"), joint.upper);
}

}  // namespace

std::optional<double> parse_number(std::string_view text) {
  while (!text.empty() && is_xml_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_xml_space(text.back())) text.remove_suffix(1);
  // from_chars takes '-' but not '+'; a second sign stays an error.
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) return std::nullopt;
  }
  double value = 0.0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc{} || stop != end) return std::nullopt;
  return value;
}

std::optional<RobotRecord> read_urdf(std::string_view text) {
  if (!is_xml_text(text)) return std::nullopt;
  pugi::xml_document document;
  // As a fragment, so that text outside the root element is kept and can be refused.
  const pugi::xml_parse_result parsed = document.load_buffer(
      text.data(), text.size(), pugi::parse_default | pugi::parse_fragment, pugi::encoding_utf8);
  if (!parsed) return std::nullopt;
  pugi::xml_node robot;
  for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return std::nullopt;
    if (node.type() != pugi::node_element) continue;
    if (robot) return std::nullopt;
    robot = node;
  }
  if (!is(robot, "robot") || !all_attributes_unique(document)) return std::nullopt;

  RobotRecord record;
  if (!read_name(robot, record.name)) return std::nullopt;
  for (pugi::xml_node node = robot.first_child(); node; node = node.next_sibling()) {
    if (is(node, "link")) {
      if (!read_link(node, record.links.emplace_back())) return std::nullopt;
    } else if (is(node, "joint")) {
      if (!read_joint(node, record.joints.emplace_back())) return std::nullopt;
    }
  }
  return record;
}

}  // namespace kavrel::urdf
