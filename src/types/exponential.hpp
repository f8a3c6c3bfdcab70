// The exponential map from twists to rigid transforms, and its inverse.
#pragma once

#include "types/se3.hpp"

namespace kavrel {

// The transform reached after unit time at the constant body twist (v, w):
// R = exp([w]x), p = V(w) v.
SE3 se3_exp(const Motion& twist);

// The twist whose exponential is the transform, with a rotation angle in
// [0, pi]. The rotation is assumed orthonormal.
Motion se3_log(const SE3& transform);

}  // namespace kavrel
