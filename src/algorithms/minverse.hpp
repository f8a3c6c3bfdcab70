// The inverse mass matrix by the articulated-body recursion, in world
// coordinates, for all unit torques at once (columns b):
//   backward  F_b: force of the subtree on its joint,  Minv_i(:, b) = D_i^-1 (e_i(b) - J_i^T F_b)
//             F_b += U_i Minv_i(:, b),  IA_p += IA_i - U_i D_i^-1 U_i^T
//   forward   Minv_i(:, b) -= D_i^-1 U_i^T A_p(:, b),  A_i(:, b) = A_p(:, b) + J_i Minv_i(:, b)
// for the columns b from joint i's first coordinate on; the rest by symmetry.
// Writes liMi, oMi, J and, unless a joint cannot be accelerated, Minv.
#pragma once

#include <span>

#include "data/data.hpp"
#include "types/result.hpp"

namespace kavrel {

// An error, and Minv unchanged, when some joint's articulated inertia is not
// positive definite (the first such joint from the leaves).
Status compute_minverse(const Model& model, Data& data, std::span<const double> q);

// The same from the factors U_i and D_i^-1 of every joint that aba or
// compute_minverse left in data; writes Minv only.
void minverse_from_factors(const Model& model, Data& data);

}  // namespace kavrel
