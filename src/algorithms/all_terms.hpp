// Every dynamic term in one pass at (q, v), with zero joint acceleration:
//   kinematics   liMi, oMi, v, ov, J, dJ as the Jacobian time variation
//   forward      a_i = X_i a_p + v_i x vJ_i (a_gf: the same from a_0 = -gravity)
//                h_i = Y_i v_i,  f_i = Y_i a_gf_i + v_i x* h_i,  Ic_i = oMi . Y_i
//                dIc_i = dY(Ic_i, ov_i)
//   backward     ag_c = Ic_i J_c,  dag_c = Ic_i dJ_c + dIc_i J_c,  M as the mass matrix
//                nle_i = S_i^T f_i,  g_c = -gravity . ag_c
//                Ic_p += Ic_i, dIc_p += dIc_i, h_p += X_i^* h_i, f_p += X_i^* f_i
//   whole tree   ag, dag about the centre of mass; hg, dhg, jcom, ig, energies
// Every body counts, on joints with velocity coordinates or without.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

void compute_all_terms(const Model& model, Data& data, std::span<const double> q, std::span<const double> v);

}  // namespace kavrel
