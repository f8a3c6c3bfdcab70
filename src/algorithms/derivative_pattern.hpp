// Where the derivatives of the dynamics can be nonzero depends on the tree
// alone: entry (j, k) only when joints j and k lie on one path from the root.
#pragma once

#include "data/data.hpp"

namespace kavrel {

// When the tree (parents, joint_nv) is not the one this workspace last served:
// clears dtau_dq and dtau_dv, whose entries between branches no pass writes,
// and finds for each block of four columns the rows that can be nonzero.
void refresh_derivative_pattern(const Model& model, Data& data);

}  // namespace kavrel
