// Time variation of the world Jacobian, in one forward pass:
//   v[i]  = X(liMi[i])^-1 v[parent(i)] + vJ_i      (joint frame)
//   ov[i] = X(oMi[i]) v[i]                          (world frame)
//   J_c   = X(oMi[i]) S_i[k],   dJ_c = ov[i] x J_c   (S_i is constant in body i)
// Writes liMi, oMi, v, ov, J and dJ.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

void compute_joint_jacobians_time_variation(const Model& model, Data& data, std::span<const double> q,
                                            std::span<const double> v);

}  // namespace kavrel
