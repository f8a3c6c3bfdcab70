// Time variation of a frame's Jacobian, from the last pass that wrote
// dJ, J, v, ov and oMi together. With oMf = oMi[j] * placement_f = (R, p):
//   WORLD                dJ_c
//   LOCAL                X(oMf)^-1 dJ_c - vf x (X(oMf)^-1 J_c),  vf the frame's own velocity
//   LOCAL_WORLD_ALIGNED  (dJ_lin - p x dJ_ang - vp x J_ang, dJ_ang),  vp the velocity of p
// The corrections are the rates of the re-expression itself. Reads only.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

// `columns` has nv entries; zeros off the frame's supporting joints.
void get_frame_jacobian_time_variation(const Model& model, const Data& data, size_t frame_id,
                                       ReferenceFrame reference_frame, std::span<Motion> columns);

}  // namespace kavrel
