// Frame Jacobian: the columns of J that move a joint, read from the last
// Jacobian pass and re-expressed about the joint frame:
//   WORLD                J_c
//   LOCAL                X(oMi[j])^-1 J_c
//   LOCAL_WORLD_ALIGNED  [I, -[p]x; 0, I] J_c, p the joint origin in the world
// Columns of joints that do not support joint j stay 0. Reads only.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

// `columns` has nv entries.
void get_frame_jacobian(const Model& model, const Data& data, size_t joint_id, ReferenceFrame reference_frame,
                        std::span<Motion> columns);

}  // namespace kavrel
