#include "frame/frame.hpp"

#include <cstdio>

namespace kavrel {

std::string flag_names(FrameType type) {
  static constexpr struct { uint32_t bit; const char* name; } kNames[] = {
      {FrameType::OP_FRAME, "OP_FRAME"}, {FrameType::JOINT, "JOINT"},
      {FrameType::FIXED_JOINT, "FIXED_JOINT"}, {FrameType::BODY, "BODY"},
      {FrameType::SENSOR, "SENSOR"}};
  std::string text;
  uint32_t known = 0;
  bool first = true;
  for (const auto& entry : kNames) {
    known |= entry.bit;
    if (type.bits & entry.bit) {
      if (!first) text += " | ";
      text += entry.name;
      first = false;
    }
  }
  uint32_t rest = type.bits & ~known;
  if (rest != 0 || first) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", rest);
    if (!first) text += " | ";
    text += hex;
  }
  return text;
}

std::string to_string(FrameType type) { return "FrameType(" + flag_names(type) + ")"; }

}  // namespace kavrel
