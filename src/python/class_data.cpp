// Data: the workspace of one model, read back through properties.
#include "python/binding.hpp"
#include "python/classes.hpp"
#include "python/reports.hpp"
#include "python/spatial_arrays.hpp"

namespace kavrel::python {

namespace {

Data construct(const Model& model) { return Data(model); }

void reset(Data& self) { self.reset(); }

Result<SE3> joint_placement(const Data& self, size_t joint_id) {
  if (joint_id >= self.oMi.size())
    return index_error("Joint ID " + std::to_string(joint_id) + " out of range (max: " +
                       std::to_string(self.oMi.size() - 1) + ")");
  return self.oMi[joint_id];
}

Result<Vec3Array> joint_translation(const Data& self, size_t joint_id) {
  auto placement = joint_placement(self, joint_id);
  if (!placement) return placement.error();
  return vec3_array(placement->translation);
}

std::string report(const Data& self) { return data_report(self); }
void print_info(const Data& self) { write_to_stdout(data_report(self) + "\n"); }

std::string repr(const Data& self) {
  return "Data(njoints=" + std::to_string(self.njoints) + ", nq=" + std::to_string(self.nq) +
         ", nv=" + std::to_string(self.nv) + ")";
}

// Properties: each builds a new object from the stored field.
Matrix mass_matrix(const Data& self) { return self.mass_matrix(); }
Ref<Matrix> coriolis(const Data& self) { return self.C; }
Ref<Vector> gravity_torques(const Data& self) { return self.g; }
Ref<Vector> tau(const Data& self) { return self.tau; }
Ref<Vector> nle(const Data& self) { return self.nle; }
Ref<Vector> ddq(const Data& self) { return self.ddq; }
Ref<Matrix> minv(const Data& self) { return self.Minv; }
Ref<Matrix> dtau_dq(const Data& self) { return self.dtau_dq; }
Ref<Matrix> dtau_dv(const Data& self) { return self.dtau_dv; }
Ref<Matrix> ddq_dq(const Data& self) { return self.ddq_dq; }
Ref<Matrix> ddq_dv(const Data& self) { return self.ddq_dv; }
Ref<std::vector<SE3>> oMi(const Data& self) { return self.oMi; }
Ref<std::vector<SE3>> liMi(const Data& self) { return self.liMi; }
auto v(const Data& self) { return rows_angular_first<Motion>(self.v); }
auto a(const Data& self) { return rows_angular_first<Motion>(self.a); }
auto f(const Data& self) { return rows_angular_first<Force>(self.f); }
auto ov(const Data& self) { return rows_angular_first<Motion>(self.ov); }
auto a_gf(const Data& self) { return rows_angular_first<Motion>(self.a_gf); }
auto momentum(const Data& self) { return rows_angular_first<Force>(self.momentum); }
auto J(const Data& self) { return columns_linear_first<Motion>(self.J); }
auto dJ(const Data& self) { return columns_linear_first<Motion>(self.dJ); }
auto ag(const Data& self) { return columns_linear_first<Force>(self.ag); }
auto dag(const Data& self) { return columns_linear_first<Force>(self.dag); }
auto com(const Data& self) { return rows_of_vec3(self.com); }
auto vcom(const Data& self) { return rows_of_vec3(self.vcom); }
Ref<std::vector<double>> mass(const Data& self) { return self.mass; }
auto hg(const Data& self) { return vector_angular_first(self.hg); }
auto dhg(const Data& self) { return vector_angular_first(self.dhg); }
auto ig(const Data& self) { return matrix_array(to_matrix6(self.ig)); }
double kinetic_energy(const Data& self) { return self.kinetic_energy; }
double potential_energy(const Data& self) { return self.potential_energy; }
double mechanical_energy(const Data& self) { return self.mechanical_energy; }
size_t njoints(const Data& self) { return self.njoints; }
size_t nq(const Data& self) { return self.nq; }
size_t nv(const Data& self) { return self.nv; }

auto jcom(const Data& self) {
  const Eigen::Matrix3Xd& jcom = self.jcom;
  const size_t n = static_cast<size_t>(jcom.cols());
  return array_result({3, n}, [&jcom, n](double* out) {
    for (size_t r = 0; r < 3; ++r)
      for (size_t c = 0; c < n; ++c) out[r * n + c] = jcom(r, c);
  });
}

// Every oMi in one (njoints, 4, 4) array, without an SE3 object per joint.
auto oMi_homogeneous(const Data& self) {
  return array_result({self.oMi.size(), 4, 4}, [&placements = self.oMi](double* out) {
    for (size_t i = 0; i < placements.size(); ++i) write_homogeneous(placements[i], out + 16 * i);
  });
}

// Pickling and copying give a fresh workspace of the same shape: Data(Model()), then the shape.
auto reduce(const Data& self) {
  return std::tuple(ClassObject<Data>{}, std::tuple(Model::create()), std::tuple(self.njoints, self.nq, self.nv));
}

Result<Unit> set_state(Data& self, std::tuple<size_t, size_t, size_t> state) {
  const auto [njoints, nq, nv] = state;
  // What some model has: joint 0 without coordinates, at most 7 and 6 per other joint, nv <= nq.
  if (njoints == 0 || nq > 7 * (njoints - 1) || nv > 6 * (njoints - 1) || nv > nq)
    return value_error("Data state (" + std::to_string(njoints) + ", " + std::to_string(nq) + ", " +
                       std::to_string(nv) + ") is not the shape of a model");
  self = Data(njoints, nq, nv);
  return Unit{};
}

auto composite_inertia(const Data& self) {
  return stack_of_matrix6<Inertia>(self.composite_inertia, [](const Inertia& y) { return to_matrix6(y); });
}
auto inertia_variation(const Data& self) {
  return stack_of_matrix6<Matrix6>(self.inertia_variation, [](const Matrix6& m) { return m; });
}

PyMethodDef methods[] = {
    method_row<"Data", "reset($self)", reset>(),
    method_row<"Data", "get_joint_placement($self, joint_id)", joint_placement,
               "Get joint placement in world frame (oMi)">(),
    method_row<"Data", "get_joint_translation($self, joint_id)", joint_translation,
               "Get joint translation (position) in world frame">(),
    method_row<"Data", "to_string_info($self)", report, "Get string representation of data structure information">(),
    method_row<"Data", "print_info($self)", print_info, "Print data structure information">(),
    method_row<"Data", "__reduce__($self)", reduce>(),
    method_row<"Data", "__setstate__($self, state)", set_state>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    property_row<"M", mass_matrix,
                 "Get mass matrix M as a numpy array (nv x nv)\n\nReturns the full symmetric mass matrix. "
                 "CRBA computes only the upper\ntriangular part internally, but this getter returns the "
                 "complete matrix\nwith the lower triangular part mirrored from the upper.">(),
    property_row<"C", coriolis, "Get Coriolis matrix C as a numpy array (nv x nv)">(),
    property_row<"g", gravity_torques, "Get gravity vector g as a numpy array (nv)">(),
    property_row<"oMi", oMi, "Get joint placements in world frame (oMi) as a list of SE3">(),
    property_row<"oMi_homogeneous", oMi_homogeneous, "Every oMi as one (njoints, 4, 4) array of homogeneous matrices">(),
    property_row<"liMi", liMi, "Joint placements in their parent joint's frame (liMi), a list of SE3">(),
    property_row<"v", v, "Joint velocities in joint frames, (njoints, 6) array, angular part first">(),
    property_row<"a", a, "Joint accelerations, (njoints, 6) array, angular part first: with the gravity offset "
                         "after rnea, the bias accelerations without it after computeAllTerms">(),
    property_row<"f", f, "Forces transmitted by the joints, (njoints, 6) array, moment part first">(),
    property_row<"ov", ov, "Joint velocities in the world frame, (njoints, 6) array, angular part first">(),
    property_row<"a_gf", a_gf, "Accelerations with gravity and zero joint acceleration, (njoints, 6), angular first">(),
    property_row<"momentum", momentum, "Subtree momenta in joint frames, (njoints, 6) array, angular part first">(),
    property_row<"composite_inertia", composite_inertia, "Subtree inertias in the world frame, (njoints, 6, 6), linear-first">(),
    property_row<"inertia_variation", inertia_variation, "Time variation of the composite inertias, (njoints, 6, 6)">(),
    property_row<"tau", tau, "Joint torques of the last inverse dynamics, (nv,) array">(),
    property_row<"nle", nle, "Non-linear effects, (nv,) array">(),
    property_row<"ddq", ddq, "Joint accelerations of the last aba, (nv,) array">(),
    property_row<"Minv", minv, "Inverse mass matrix of the last computeMinverse, full (nv, nv) array">(),
    property_row<"dtau_dq", dtau_dq, "Derivative of the last rnea_derivatives' torques with respect to q, (nv, nv) array">(),
    property_row<"dtau_dv", dtau_dv, "Derivative of the last rnea_derivatives' torques with respect to v, (nv, nv) array">(),
    property_row<"ddq_dq", ddq_dq, "Derivative of the last aba_derivatives' accelerations with respect to q, (nv, nv) array">(),
    property_row<"ddq_dv", ddq_dv, "Derivative of the last aba_derivatives' accelerations with respect to v, (nv, nv) array">(),
    property_row<"J", J, "World Jacobian of all joints, (6, nv) array, linear rows first">(),
    property_row<"dJ", dJ, "Time variation of J, (6, nv) array, linear rows first">(),
    property_row<"ag", ag, "Centroidal momentum matrix, (6, nv) array, linear rows first">(),
    property_row<"dag", dag, "Time variation of ag, (6, nv) array, linear rows first">(),
    property_row<"jcom", jcom, "Centre-of-mass Jacobian, (3, nv) array">(),
    property_row<"com", com, "Subtree centres of mass, (njoints, 3) array">(),
    property_row<"vcom", vcom, "Velocities of the subtree centres of mass, (njoints, 3) array">(),
    property_row<"mass", mass, "Subtree masses, (njoints,) array">(),
    property_row<"hg", hg, "Centroidal momentum, (6,) array, angular part first">(),
    property_row<"dhg", dhg, "Time variation of hg, (6,) array, angular part first">(),
    property_row<"ig", ig, "Centroidal inertia, (6, 6) array, linear-first">(),
    property_row<"kinetic_energy", kinetic_energy, "Kinetic energy (float)">(),
    property_row<"potential_energy", potential_energy, "Potential energy (float)">(),
    property_row<"mechanical_energy", mechanical_energy, "Kinetic plus potential energy (float)">(),
    property_row<"njoints", njoints, "Number of joints the workspace was built for (int)">(),
    property_row<"nq", nq, "Configuration size the workspace was built for (int)">(),
    property_row<"nv", nv, "Velocity size the workspace was built for (int)">(),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr auto doc = class_doc<"Data", "(model)">();

}  // namespace

PyTypeObject* create_data_class() {
  return create_class({"kavrel.Data", doc.c_str(), sizeof(Box<Data>), dealloc_box<Data>,
                       &Constructor<"Data", "(model)", construct>::call, methods, properties,
                       self_text<repr>, self_text<report>});
}

}  // namespace kavrel::python
