// Frame Jacobian: the columns of J that move a joint, read from the last
// Jacobian pass and re-expressed about a frame placed on that joint,
// oMf = oMi[j] * placement = (R, p):
//   WORLD                J_c
//   LOCAL                X(oMf)^-1 J_c: the frame origin's velocity, in the frame's axes
//   LOCAL_WORLD_ALIGNED  [I, -[p]x; 0, I] J_c: the same in world axes
// Columns of joints that do not support joint j stay 0. Reads only.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

// `columns` has nv entries. With the identity placement oMi[j] is used as it is,
// so the result is the joint's own Jacobian bit for bit.
void get_frame_jacobian(const Model& model, const Data& data, size_t joint_id, const SE3& placement,
                        ReferenceFrame reference_frame, std::span<Motion> columns);

}  // namespace kavrel
