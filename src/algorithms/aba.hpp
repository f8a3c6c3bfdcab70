// Forward dynamics by the articulated-body algorithm, in world coordinates:
//   forward   ov_i = ov_p + J_i qd_i,  c_i = ov_i x J_i qd_i,  IA_i = oMi . Y_i,  pA_i = ov_i x* (IA_i ov_i)
//   backward  U_i = IA_i J_i,  D_i = J_i^T U_i,  u_i = tau_i - J_i^T pA_i
//             IA_p += IA_i - U_i D_i^-1 U_i^T,  pA_p += pA_i + (IA_i - U_i D_i^-1 U_i^T) c_i + U_i D_i^-1 u_i
//   forward   a_0 = -gravity,  a'_i = a_p + c_i,  qdd_i = D_i^-1 (u_i - U_i^T a'_i),  a_i = a'_i + J_i qdd_i
// Writes liMi, oMi, ov, J and, unless a joint cannot be accelerated, ddq.
#pragma once

#include <span>

#include "data/data.hpp"
#include "types/result.hpp"

namespace kavrel {

// An error, and ddq unchanged, when some joint's articulated inertia D_i is
// not positive definite (the first such joint from the leaves).
Status aba(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
           std::span<const double> tau);

}  // namespace kavrel
