// Configuration space: the reference configuration and q (+) v.
//
// integrate moves q along v for one unit of time, per joint kind:
//   revolute, prismatic   q' = q + v
//   continuous            (c, s) rotated by w
//   planar                (x, y) += R(c, s) d(v), d the arc of the planar twist; (c, s) rotated by w
//   spherical             Q' = Q (x) exp(w / 2), w in the moving frame
//   floating              P' = P + R(Q) u, Q as spherical
// Unit pairs and quaternions get the first-order renormalisation (3 - n^2) / 2.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

Vector neutral(const Model& model);

// Writes q (+) v into `result` (length nq); allocates nothing.
void integrate(const Model& model, std::span<const double> q, std::span<const double> v,
               std::span<double> result);

Vector integrate(const Model& model, std::span<const double> q, std::span<const double> v);

}  // namespace kavrel
