// Named frames attached to joints, and the coordinates a Jacobian is given in.
#pragma once

#include <cstdint>
#include <string>

#include "types/inertia.hpp"

namespace kavrel {

// Flags describing what a frame marks.
struct FrameType {
  static constexpr uint32_t OP_FRAME = 0x1;
  static constexpr uint32_t JOINT = 0x2;
  static constexpr uint32_t FIXED_JOINT = 0x4;
  static constexpr uint32_t BODY = 0x8;
  static constexpr uint32_t SENSOR = 0x10;

  uint32_t bits = 0;
};

// "FrameType(BODY)", "FrameType(OP_FRAME | BODY)", "FrameType(0x0)".
std::string to_string(FrameType type);

// The same without the wrapper: "BODY", "OP_FRAME | BODY", "0x0".
std::string flag_names(FrameType type);

struct Frame {
  std::string name;
  size_t parent_joint = 0;
  size_t previous_frame = 0;
  SE3 placement;  // relative to the parent joint's frame
  Inertia inertia;
  FrameType frame_type;
};

enum class ReferenceFrame : uint8_t { WORLD = 0, LOCAL = 1, LOCAL_WORLD_ALIGNED = 2 };

}  // namespace kavrel
