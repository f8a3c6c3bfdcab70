// Inverse dynamics by the recursive Newton-Euler algorithm, each body in its
// own joint frame, gravity entering as an acceleration of the root:
//   forward   v_i = X_i v_p + S_i qd_i                       v_0 = 0
//             a_i = X_i a_p + S_i qdd_i + v_i x S_i qd_i      a_0 = -gravity
//             f_i = Y_i a_i + v_i x* (Y_i v_i)
//   backward  tau_i = S_i^T f_i,   f_p += X_i^* f_i
// Writes liMi, oMi, v, a, f and tau; the wrappers also nle or g.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

void rnea(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
          std::span<const double> a);

// rnea(q, v, 0) = C(q, v) v + g(q), kept in nle.
void non_linear_effects(const Model& model, Data& data, std::span<const double> q, std::span<const double> v);

// rnea(q, 0, 0) = g(q), kept in g.
void compute_gravity(const Model& model, Data& data, std::span<const double> q);

}  // namespace kavrel
