// Derivatives of inverse dynamics with respect to q and v, in world coordinates.
// A step of coordinate k of joint i moves i's subtree rigidly by the world
// twist J_k, as integrate does; with p the parent of i, each body force
// f = Y a + v x* Y v of the subtree then changes by
//   df/dq_k = J_k x* f + Y psi_k + 2 B phi_k        df/dv_k = Y delta_k + 2 B J_k
//   phi_k = ov_p x J_k,  psi_k = oa_p x J_k + ov_p x phi_k,  delta_k = ov_i x J_k + phi_k
// where 2 B m = Y (m x ov) + m x* Y ov + ov x* Y m. Summed over a subtree (Ic, Bc, F):
//   forward   after rnea: ov_i, oa_i, J_k, phi_k, psi_k, delta_k, Y_i, B_i
//   backward  rows c of joint i, columns k of i and its ancestors:
//               dtau_dq(c, k) = (Ic_i J_c) . psi_k   + (2 Bc_i^T J_c) . phi_k
//               dtau_dv(c, k) = (Ic_i J_c) . delta_k + (2 Bc_i^T J_c) . J_k
//             columns c of joint i, rows j of its strict ancestors:
//               dtau_dq(j, c) = J_j . (J_c x* F_i + Ic_i psi_c + 2 Bc_i phi_c)
//               dtau_dv(j, c) = J_j . (Ic_i delta_c + 2 Bc_i J_c)
//             Ic_p += Ic_i,  Bc_p += Bc_i
// (Below joint k, the turn of J_c and the J_k x* F term cancel in the product.)
// Writes what rnea writes, ov, J, composite_inertia, dtau_dq and dtau_dv.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

void rnea_derivatives(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                      std::span<const double> a);

}  // namespace kavrel
