// Coriolis matrix C(q, v) with C + C^T = dM/dt, in world coordinates. With
// the body's world inertia Y_i, velocity ov_i and momentum h_i = Y_i ov_i,
//   B_i = 1/2 (dY(Y_i, ov_i) + X(h_i)),   dY = (ov x*) Y - Y (ov x),  X(h) m = m x* h
// summed over subtrees like the inertias (Ic, Bc). For columns a, b on one
// path from the root, k the deeper of their joints:
//   C(a, b) = J_a . (Ic_k dJ_b + Bc_k J_b)
// Entries between branches stay 0. Writes liMi, oMi, v, ov, J, dJ,
// composite_inertia, ag and C.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

void compute_coriolis_matrix(const Model& model, Data& data, std::span<const double> q,
                             std::span<const double> v);

}  // namespace kavrel
