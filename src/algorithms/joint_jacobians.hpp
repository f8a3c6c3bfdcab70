// Joint Jacobians.
//
// compute_joint_jacobians: every column in the world frame, one forward pass;
//   column c of joint i is X(oMi[i]) S_i[k], c = idx_v[i] + k.
// compute_joint_jacobian: one joint's Jacobian in its own frame, walking only
//   from the joint to the root; column c of a supporting joint j is
//   X(jMt)^-1 S_j[k], jMt the target joint's frame seen from joint j.
#pragma once

#include <span>

#include "data/data.hpp"

namespace kavrel {

// Writes liMi, oMi and J.
void compute_joint_jacobians(const Model& model, Data& data, std::span<const double> q);

// Fills `columns` (nv entries, zeros off the chain); writes liMi of the
// joint and its ancestors only.
void compute_joint_jacobian(const Model& model, Data& data, std::span<const double> q, size_t joint_id,
                            std::span<Motion> columns);

}  // namespace kavrel
