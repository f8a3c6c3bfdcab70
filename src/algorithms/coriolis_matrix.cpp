#include "algorithms/coriolis_matrix.hpp"

#include "algorithms/jacobian_time_variation.hpp"

namespace kavrel {

void compute_coriolis_matrix(const Model& model, Data& data, std::span<const double> q,
                             std::span<const double> v) {
  compute_joint_jacobians_time_variation(model, data, q, v);
  data.C.setZero();
  // Each body's own inertia and velocity-product matrix in the world.
  for (size_t i = 1; i < model.njoints; ++i) {
    const Motion& ov = data.ov[i];
    const Inertia& body = data.composite_inertia[i] = se3_act_on_inertia(data.oMi[i], model.inertias[i]);
    Matrix6& factor = data.coriolis_factor[i] = compute_inertia_variation(body, ov);
    add_momentum_cross(factor, body * ov);
    factor *= 0.5;
  }
  // Backward: Ic_i and Bc_i are complete when joint i is reached.
  for (size_t i = model.njoints - 1; i > 0; --i) {
    const Inertia& composite = data.composite_inertia[i];
    const Matrix6& factor = data.coriolis_factor[i];
    const size_t parent = model.parents[i];
    for (size_t b = model.joint_v_idx[i], end = b + model.joint_nv[i]; b < end; ++b) {
      // Row b against the columns of the ancestors.
      data.ag[b] = composite * data.J[b];
      const Force rate = apply_transpose(factor, data.J[b]);
      for (size_t j = parent; j != 0; j = model.parents[j])
        for (size_t c = model.joint_v_idx[j], c_end = c + model.joint_nv[j]; c < c_end; ++c)
          data.C(b, c) = dot(data.dJ[c], data.ag[b]) + dot(data.J[c], rate);
      // Column b against the rows of the joint itself and its ancestors.
      const Force column = composite * data.dJ[b] + apply(factor, data.J[b]);
      for (size_t j = i; j != 0; j = model.parents[j])
        for (size_t a = model.joint_v_idx[j], a_end = a + model.joint_nv[j]; a < a_end; ++a)
          data.C(a, b) = dot(data.J[a], column);
    }
    if (parent != 0) {
      add_inertias_inplace(data.composite_inertia[parent], composite);
      data.coriolis_factor[parent] += factor;
    }
  }
}

}  // namespace kavrel
