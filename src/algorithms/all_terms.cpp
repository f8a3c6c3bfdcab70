#include "algorithms/all_terms.hpp"

#include "algorithms/crba.hpp"
#include "algorithms/forward_kinematics.hpp"
#include "algorithms/jacobian_time_variation.hpp"

namespace kavrel {

namespace {

// Moment of a force or momentum about the point G instead of the origin.
Force about(const Force& f, const Vec3& G) { return {f.angular + f.linear.cross(G), f.linear}; }

// Forward: bias accelerations, momenta, forces, world inertias and their
// rates, and the energies, body by body.
void forward_pass(const Model& model, Data& data, std::span<const double> v) {
  data.kinetic_energy = data.potential_energy = 0.0;
  for (size_t i = 1; i < model.njoints; ++i) {
    const SE3& liMi = data.liMi[i];
    const size_t parent = model.parents[i];
    const Inertia& body = model.inertias[i];
    const Motion& vi = data.v[i];
    const Motion bias = cross(vi, compute_joint_velocity(model.joints[i], v.data() + model.joint_v_idx[i]));
    const auto [a, a_gf] = liMi.act_inverse(data.a[parent], data.a_gf[parent]);
    data.a[i] = a + bias;
    data.a_gf[i] = a_gf + bias;
    data.momentum[i] = body * vi;
    data.f[i] = body * data.a_gf[i] + cross(vi, data.momentum[i]);
    data.composite_inertia[i] = se3_act_on_inertia(data.oMi[i], body);
    data.inertia_variation[i] = compute_inertia_variation(data.composite_inertia[i], data.ov[i]);
    data.kinetic_energy += 0.5 * dot(vi, data.momentum[i]);
    data.potential_energy -= body.mass * model.gravity.linear.dot(data.composite_inertia[i].lever);
  }
}

// Backward: force columns, the mass matrix, nle and g, subtree sums.
void backward_pass(const Model& model, Data& data) {
  for (size_t i = model.njoints - 1; i > 0; --i) {
    const Inertia& composite = data.composite_inertia[i];
    const size_t parent = model.parents[i], first = model.joint_v_idx[i];
    const bool free_root = model.joint_nv[i] == 6 && parent == 0;
    for (size_t c = first, end = c + model.joint_nv[i]; c < end; ++c) {
      data.ag[c] = composite * data.J[c];
      data.dag[c] = composite * data.dJ[c] + apply(data.inertia_variation[i], data.J[c]);
      if (!free_root) write_mass_column(model, data, i, c, data.ag[c]);
      data.g[c] = -dot(model.gravity, data.ag[c]);
    }
    // The same M as crba's, to the bit.
    if (free_root) write_free_root_block(data, first, data.oMi[i], composite);
    project_force(model.joints[i], data.f[i], data.nle.data() + first);
    add_inertias_inplace(data.composite_inertia[parent], composite);
    data.inertia_variation[parent] += data.inertia_variation[i];
    data.momentum[parent] += data.liMi[i].act(data.momentum[i]);
    data.f[parent] += data.liMi[i].act(data.f[i]);
    // The subtree's centre of mass and its velocity, in joint i's frame.
    data.mass[i] = composite.mass;
    const bool massive = composite.mass > kMassThreshold;
    data.com[i] = massive ? Vec3(data.oMi[i].rotation.transpose() * (composite.lever - data.oMi[i].translation))
                          : Vec3::Zero();
    data.vcom[i] = massive ? Vec3(data.momentum[i].linear / composite.mass) : Vec3::Zero();
  }
}

// Whole tree: centre of mass, centroidal momentum and its rate, the columns
// moved to the centre of mass, its Jacobian and the centroidal inertia.
void whole_tree(const Model& model, Data& data) {
  const Inertia& tree = data.composite_inertia[0];
  const double mass = data.mass[0] = tree.mass;
  const bool massive = mass > kMassThreshold;
  const Vec3 G = data.com[0] = massive ? tree.lever : Vec3::Zero();
  const Vec3 VG = data.vcom[0] = massive ? Vec3(data.momentum[0].linear / mass) : Vec3::Zero();
  for (size_t c = 0; c < model.nv; ++c) {
    data.dag[c].angular += data.ag[c].linear.cross(VG) + data.dag[c].linear.cross(G);
    data.ag[c] = about(data.ag[c], G);
    data.jcom.col(static_cast<Eigen::Index>(c)) = massive ? Vec3(data.ag[c].linear / mass) : Vec3::Zero();
  }
  data.hg = about(data.momentum[0], G);
  data.dhg = about(data.f[0], G);
  data.ig = {mass, Vec3::Zero(), tree.rotational};
}

}  // namespace

void compute_all_terms(const Model& model, Data& data, std::span<const double> q, std::span<const double> v) {
  compute_joint_jacobians_time_variation(model, data, q, v);
  // Root entries receive the whole-tree sums.
  data.a[0] = Motion::zero();
  data.a_gf[0] = -model.gravity;
  data.momentum[0] = data.f[0] = Force::zero();
  data.composite_inertia[0] = Inertia::zero();
  data.inertia_variation[0].setZero();
  data.M.setZero();
  forward_pass(model, data, v);
  backward_pass(model, data);
  whole_tree(model, data);
  data.mechanical_energy = data.kinetic_energy + data.potential_energy;
}

}  // namespace kavrel
