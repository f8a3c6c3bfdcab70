// Derivatives of forward dynamics, from those of inverse dynamics: at
// ddq = aba(q, v, tau), rnea(q, v, ddq) = tau for every state, so
//   ddq_dq = -M^-1 dtau_dq(q, v, ddq),   ddq_dv = -M^-1 dtau_dv(q, v, ddq),   ddq_dtau = M^-1,
// with M^-1 from aba's own joint factors and the derivatives from its world motion.
// Writes what aba writes, Minv, dtau_dq and dtau_dv (at a = ddq), ddq_dq and ddq_dv.
#pragma once

#include <span>

#include "data/data.hpp"
#include "types/result.hpp"

namespace kavrel {

// An error, as aba's, when some joint's articulated inertia is not positive
// definite; ddq and the derivatives are then unchanged.
Status aba_derivatives(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                       std::span<const double> tau);

}  // namespace kavrel
