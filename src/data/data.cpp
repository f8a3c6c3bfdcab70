#include "data/data.hpp"

#include <algorithm>
#include <string>

namespace kavrel {

Data::Data(const Model& model) : Data(model.njoints, model.nq, model.nv) {}

Data::Data(size_t njoints, size_t nq, size_t nv) : njoints(njoints), nq(nq), nv(nv) {
  const size_t n = njoints;
  v.resize(n); a.resize(n); f.resize(n); ov.resize(n);
  oMi.resize(n); liMi.resize(n); composite_inertia.resize(n);
  com.assign(n, Vec3::Zero()); vcom.assign(n, Vec3::Zero()); mass.assign(n, 0.0);
  a_gf.resize(n); momentum.resize(n); inertia_variation.assign(n, Matrix6::Zero());
  tau = nle = g = Vector::Zero(nv);
  M = C = Matrix::Zero(nv, nv);
  J.resize(nv); dJ.resize(nv); ag.resize(nv); dag.resize(nv);
  jcom = Eigen::Matrix3Xd::Zero(3, nv);
  result_columns.resize(nv);
  coriolis_factor.assign(n, Matrix6::Zero());
  ddq = articulated_torque = Vector::Zero(nv);
  Minv = Minv_work = Matrix::Zero(nv, nv);
  articulated_inertia.assign(n, Matrix6::Zero()); joint_inertia_inverse.assign(n, Matrix6::Zero());
  articulated_bias.resize(n); velocity_product.resize(n); world_acceleration.resize(n);
  articulated_columns.resize(nv); unit_forces.resize(nv); subtree_top.assign(nv, 0);
  unit_accelerations = Matrix::Zero(6 * n, nv);
  subtree_end.assign(n, 0);
  dtau_dq = dtau_dv = ddq_dq = ddq_dv = Matrix::Zero(nv, nv);
  derivative_factor.assign(n, Eigen::Matrix<double, 6, 10>::Zero());
  world_force.resize(n);
  derivative_columns.assign(nv, Eigen::Matrix<double, 10, 3>::Zero());
  const size_t blocks = (nv + 3) / 4;
  product_rows.assign(blocks * nv, 0); product_row_offsets.assign(blocks + 1, 0); joint_marks.assign(n, 0);
  pattern_tree.reserve(2 * n);
}

void Data::reset() {
  auto clear = [](auto& list) { std::fill(list.begin(), list.end(), std::decay_t<decltype(list[0])>{}); };
  clear(v); clear(a); clear(f); clear(ov); clear(oMi); clear(liMi); clear(composite_inertia);
  std::fill(com.begin(), com.end(), Vec3::Zero());
  std::fill(vcom.begin(), vcom.end(), Vec3::Zero());
  clear(mass); clear(a_gf); clear(momentum);
  std::fill(inertia_variation.begin(), inertia_variation.end(), Matrix6::Zero());
  tau.setZero(); nle.setZero(); g.setZero(); M.setZero(); C.setZero(); ddq.setZero(); Minv.setZero();
  dtau_dq.setZero(); dtau_dv.setZero(); ddq_dq.setZero(); ddq_dv.setZero();
  clear(J); clear(dJ); clear(ag); clear(dag); jcom.setZero();
  hg = dhg = Force::zero();
  ig = Inertia::zero();
  kinetic_energy = potential_energy = mechanical_energy = 0.0;
}

Matrix Data::mass_matrix() const {
  Matrix full(M.rows(), M.cols());
  for (Eigen::Index i = 0; i < M.rows(); ++i)
    for (Eigen::Index j = 0; j < M.cols(); ++j) full(i, j) = i <= j ? M(i, j) : M(j, i);
  return full;
}

void require_matching_sizes(const Model& model, const Data& data) {
  KAVREL_REQUIRE(data.njoints == model.njoints && data.nq == model.nq && data.nv == model.nv,
                 "Data was created for another model: it has njoints " +
                     std::to_string(data.njoints) + ", nq " + std::to_string(data.nq) + ", nv " +
                     std::to_string(data.nv) + " but the model has njoints " +
                     std::to_string(model.njoints) + ", nq " + std::to_string(model.nq) +
                     ", nv " + std::to_string(model.nv));
}

}  // namespace kavrel
