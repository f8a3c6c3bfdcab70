#include "urdf_parser/urdf_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include <expat.h>

namespace kavrel::urdf {

namespace {

static_assert(sizeof(XML_Char) == 1, "the reader takes expat's text as UTF-8");

constexpr bool is_xml_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Infinite joint limits mean "unbounded"; anywhere else a value must be finite.
enum class Range { Finite, Limit };

bool acceptable(double value, Range range) {
  return range == Range::Finite ? std::isfinite(value) : !std::isnan(value);
}

// An absent attribute leaves `out` as it was.
bool read_number(const char* text, double& out, Range range = Range::Finite) {
  if (text == nullptr) return true;
  auto value = parse_number(text);
  if (!value || !acceptable(*value, range)) return false;
  out = *value;
  return true;
}

bool read_triple(const char* attribute, Vec3& out) {
  if (attribute == nullptr) return true;
  std::string_view text = attribute;
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
    if (!value || !std::isfinite(*value)) return false;
    values[count++] = *value;
  }
  if (count != 3) return false;
  out = values;
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

// The attributes of one start tag, as expat hands them over: name, value, ..., null.
class Attributes {
 public:
  explicit Attributes(const XML_Char** pairs) : pairs_(pairs) {}
  const char* operator[](const char* name) const {
    for (const XML_Char** p = pairs_; *p != nullptr; p += 2)
      if (std::strcmp(*p, name) == 0) return p[1];
    return nullptr;
  }

 private:
  const XML_Char** pairs_;
};

bool read_pose(const Attributes& origin, Pose& pose) {
  return read_triple(origin["xyz"], pose.xyz) && read_triple(origin["rpy"], pose.rpy);
}

bool read_name(const Attributes& attributes, std::string& out) {
  const char* name = attributes["name"];
  if (name == nullptr) return false;
  out = name;
  return true;
}

// Builds the records from expat's callbacks. Only the first child of each
// kind is read (a second <origin> is ignored, as a tree lookup would), and
// nothing below an element whose attributes are read.
class Reader {
 public:
  explicit Reader(XML_Parser parser) : parser_(parser) {
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, &Reader::on_start, &Reader::on_end);
    // No loader: a document that needs an external DTD or entity is refused.
    XML_SetExternalEntityRefHandler(parser, [](XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                                               const XML_Char*) { return int{XML_STATUS_ERROR}; });
    // An entity left unexpanded would silently change the text.
    XML_SetSkippedEntityHandler(parser, [](void* self, const XML_Char*, int) {
      static_cast<Reader*>(self)->fail();
    });
  }

  bool failed() const { return failed_; }
  void rethrow() const {
    if (exception_) std::rethrow_exception(exception_);
  }
  RobotRecord& robot() { return robot_; }

 private:
  enum class Role { Robot, Link, Inertial, Joint };
  // Children already met, per element kind.
  enum Seen : unsigned {
    kInertial = 1, kOrigin = 2, kMass = 4, kInertia = 8, kParent = 16, kChild = 32, kAxis = 64, kLimit = 128
  };

  void fail() {
    if (failed_) return;
    failed_ = true;
    XML_StopParser(parser_, XML_FALSE);
  }

  // Exceptions must not cross expat's C frames.
  template <class F>
  static void guarded(void* self, F&& body) {
    auto* reader = static_cast<Reader*>(self);
    if (reader->failed_) return;  // expat may still report an element closed by the same token
    try {
      if (!body(*reader)) reader->fail();
    } catch (...) {
      reader->exception_ = std::current_exception();
      reader->fail();
    }
  }

  static void XMLCALL on_start(void* self, const XML_Char* name, const XML_Char** attributes) {
    guarded(self, [&](Reader& reader) { return reader.start(name, Attributes(attributes)); });
  }

  static void XMLCALL on_end(void* self, const XML_Char*) {
    guarded(self, [](Reader& reader) { return reader.end(); });
  }

  bool first(unsigned& seen, Seen kind) {
    if (seen & kind) return false;
    seen |= kind;
    return true;
  }

  bool start(std::string_view name, const Attributes& attributes) {
    if (ignored_ > 0) {
      ++ignored_;
      return true;
    }
    if (depth_ == 0) {
      if (name != "robot" || !read_name(attributes, robot_.name)) return false;
      return push(Role::Robot);
    }
    switch (roles_[depth_ - 1]) {
      case Role::Robot:
        if (name == "link") {
          outer_ = 0;
          return read_name(attributes, robot_.links.emplace_back().name) && push(Role::Link);
        }
        if (name == "joint") {
          outer_ = 0;
          return start_joint(robot_.joints.emplace_back(), attributes) && push(Role::Joint);
        }
        break;
      case Role::Link:
        if (name == "inertial" && first(outer_, kInertial)) {
          inner_ = 0;
          return push(Role::Inertial);
        }
        break;
      case Role::Inertial:
        if (!read_inertial_child(robot_.links.back().inertial, name, attributes)) return false;
        break;
      case Role::Joint:
        if (!read_joint_child(robot_.joints.back(), name, attributes)) return false;
        break;
    }
    ignored_ = 1;
    return true;
  }

  bool end() {
    if (ignored_ > 0) {
      --ignored_;
      return true;
    }
    const Role role = roles_[--depth_];
    return role != Role::Joint || ((outer_ & kParent) && (outer_ & kChild));
  }

  bool push(Role role) {
    roles_[depth_++] = role;
    return true;
  }

  bool start_joint(JointRecord& joint, const Attributes& attributes) {
    if (!read_name(attributes, joint.name)) return false;
    const char* type = attributes["type"];
    auto kind = type != nullptr ? joint_type(type) : std::nullopt;
    if (!kind) return false;
    joint.type = *kind;
    return true;
  }

  bool read_inertial_child(InertialRecord& record, std::string_view name, const Attributes& attributes) {
    if (name == "origin" && first(inner_, kOrigin)) return read_pose(attributes, record.origin);
    if (name == "mass" && first(inner_, kMass)) return read_number(attributes["value"], record.mass);
    if (name == "inertia" && first(inner_, kInertia))
      return read_number(attributes["ixx"], record.ixx) && read_number(attributes["ixy"], record.ixy) &&
             read_number(attributes["ixz"], record.ixz) && read_number(attributes["iyy"], record.iyy) &&
             read_number(attributes["iyz"], record.iyz) && read_number(attributes["izz"], record.izz);
    return true;
  }

  bool read_joint_child(JointRecord& joint, std::string_view name, const Attributes& attributes) {
    const bool parent = name == "parent" && first(outer_, kParent);
    if (parent || (name == "child" && first(outer_, kChild))) {
      const char* link = attributes["link"];
      if (link == nullptr) return false;
      (parent ? joint.parent : joint.child) = link;
      return true;
    }
    if (name == "origin" && first(outer_, kOrigin)) return read_pose(attributes, joint.origin);
    if (name == "axis" && first(outer_, kAxis)) return read_triple(attributes["xyz"], joint.axis);
    if (name == "limit" && first(outer_, kLimit))
      return read_number(attributes["lower"], joint.lower, Range::Limit) &&
             read_number(attributes["upper"], joint.upper, Range::Limit);
    return true;
  }

  XML_Parser parser_;
  RobotRecord robot_;
  Role roles_[3] = {};
  size_t depth_ = 0;
  size_t ignored_ = 0;  // depth below the innermost element that is read
  unsigned outer_ = 0;  // children met by the open link or joint
  unsigned inner_ = 0;  // children met by the open inertial
  bool failed_ = false;
  std::exception_ptr exception_;
};

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
  // Strings and files decode alike; a byte order mark still selects UTF-16.
  std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate("UTF-8"), &XML_ParserFree);
  if (!parser) throw std::bad_alloc();
  // Parameter entities are needed to notice an external DTD; without DTD support
  // in the library, nothing would stop one from being silently skipped.
  if (!XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_UNLESS_STANDALONE)) return std::nullopt;
  Reader reader(parser.get());
  // XML_Parse takes an int length.
  constexpr size_t kChunk = size_t{1} << 30;
  bool last = false;
  while (!last) {
    const size_t n = std::min(text.size(), kChunk);
    last = n == text.size();
    const XML_Status status = XML_Parse(parser.get(), text.data(), static_cast<int>(n), last);
    reader.rethrow();
    if (status != XML_STATUS_OK || reader.failed()) return std::nullopt;
    text.remove_prefix(n);
  }
  return std::move(reader.robot());
}

}  // namespace kavrel::urdf
