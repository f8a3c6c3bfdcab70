// Derivatives of inverse dynamics with respect to q and v, in world coordinates.
// A step of coordinate k of joint i moves i's subtree rigidly by the world
// twist J_k, as integrate does; with p the parent of i, each body force
// f = Y a + v x* Y v of the subtree then changes by
//   df/dq_k = J_k x* f + Y psi_k + 2 B phi_k        df/dv_k = Y delta_k + 2 B J_k
//   phi_k = ov_p x J_k,  psi_k = oa_p x J_k + ov_p x phi_k,  delta_k = ov_i x J_k + phi_k
// where 2 B m = Y (m x ov) + m x* Y ov + ov x* Y m reads only m's angular part.
// With H_i = [Ic_i, 2 Bc_i] summed over joint i's subtree and K_k = [psi_k delta_k; phi_k J_k]:
//   forward   K_k, each body's H and world force f, from oMi, J, ov and oa
//   backward  rows c of joint i, columns k of i and its ancestors:
//               (dtau_dq, dtau_dv)(c, k) = (H_i^T J_c)^T K_k
//             columns c of joint i, rows j of its strict ancestors:
//               (dtau_dq, dtau_dv)(j, c) = J_j^T (H_i K_c + [J_c x* F_i, 0])
//             H_p += H_i,  F_p += F_i
// (Inside joint k's subtree the turn of J_c cancels the J_k x* F term.)
// Writes what rnea writes, ov, J, dtau_dq and dtau_dv.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

void rnea_derivatives(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                      std::span<const double> a);

// The passes above, from the placements oMi, world columns J, world velocities
// ov and world accelerations (with the gravity offset) that aba leaves in data.
void derivatives_from_world_motion(const Model& model, Data& data);

}  // namespace kavrel
