// Model: the kinematic tree, built joint by joint or imported.
#include <cmath>

#include "model/floating_base.hpp"
#include "model/model_state.hpp"
#include "python/binding.hpp"
#include "python/classes.hpp"
#include "python/reports.hpp"
#include "python/spatial_arrays.hpp"

namespace kavrel::python {

namespace {

Model construct() { return Model::create(); }

size_t nq(const Model& self) { return self.nq; }
size_t nv(const Model& self) { return self.nv; }
size_t njoints(const Model& self) { return self.njoints; }
size_t nframes(const Model& self) { return self.nframes; }
std::vector<std::string> names(const Model& self) { return self.names; }
std::string name(const Model& self) { return self.name; }
std::vector<double> lower_limits(const Model& self) { return self.lowerPositionLimit; }
std::vector<double> upper_limits(const Model& self) { return self.upperPositionLimit; }
auto gravity(const Model& self) { return vec3_array(self.gravity.linear); }
auto gravity_angular(const Model& self) { return vec3_array(self.gravity.angular); }

auto gravity_full(const Model& self) {
  return array_result({6}, [gravity = self.gravity](double* out) { write_linear_first(gravity, out); });
}

Ref<std::vector<size_t>> parents(const Model& self) { return self.parents; }

Result<Unit> set_gravity(Model& self, std::span<const double> gravity) {
  if (gravity.size() != 3) return value_error("Gravity vector must have 3 elements [x, y, z]");
  self.gravity.linear = Vec3(gravity[0], gravity[1], gravity[2]);
  return Unit{};
}

Result<Unit> set_gravity_angular(Model& self, std::span<const double> gravity_angular) {
  if (gravity_angular.size() != 3)
    return value_error("Gravity angular vector must have 3 elements [wx, wy, wz]");
  self.gravity.angular = Vec3(gravity_angular[0], gravity_angular[1], gravity_angular[2]);
  return Unit{};
}

Result<Unit> set_gravity_full(Model& self, std::span<const double> gravity) {
  if (gravity.size() != 6)
    return value_error("Full gravity vector must have 6 elements [lx, ly, lz, wx, wy, wz]");
  self.gravity = read_linear_first(gravity.data());
  return Unit{};
}

Result<size_t> add_joint(Model& self, size_t parent, std::string joint_type,
                         std::span<const double> axis, const SE3& placement, std::string name) {
  static constexpr std::pair<std::string_view, JointType> kKinds[] = {
      {"fixed", JointType::Fixed},
      {"revolute", JointType::Revolute},
      {"prismatic", JointType::Prismatic},
      {"floating", JointType::Floating}};
  const auto* kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                  [&](const auto& entry) { return entry.first == joint_type; });
  if (kind == std::end(kKinds)) return value_error("Unknown joint type: " + joint_type);
  Vec3 stored_axis = Vec3::Zero();
  if (kind->second == JointType::Revolute || kind->second == JointType::Prismatic) {
    if (axis.size() != 3) return value_error("Axis must be a 3D vector");
    stored_axis = Vec3(axis[0], axis[1], axis[2]);
  }
  return kavrel::add_joint(self, parent, Joint::make(kind->second, stored_axis), placement,
                           std::move(name));
}

std::optional<size_t> get_joint_id(const Model& self, std::string name) { return find_joint(self, name); }
std::optional<size_t> get_frame_id(const Model& self, std::string name) { return find_frame(self, name); }

void set_name(Model& self, std::string name) { self.name = std::move(name); }

Data create_data(const Model& self) { return Data(self); }

Result<Unit> set_body_inertia(Model& self, size_t joint_id, double mass, std::span<const double> lever,
                              const MatrixArgument<3, 3>& rotational_inertia) {
  if (joint_id >= self.njoints)
    return value_error("joint_id " + std::to_string(joint_id) + " >= njoints " + std::to_string(self.njoints));
  if (lever.size() != 3) return value_error("lever must have 3 elements");
  if (rotational_inertia.rows != 3 || rotational_inertia.cols != 3)
    return value_error("rotational_inertia must be a 3x3 matrix");
  bool finite = std::isfinite(mass);
  for (double x : lever) finite = finite && std::isfinite(x);
  for (double x : rotational_inertia.values) finite = finite && std::isfinite(x);
  if (!finite) return value_error("Body inertia values must be finite");
  if (mass < 0.0) return value_error("mass must be non-negative");
  Mat3 rotational;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rotational(i, j) = rotational_inertia(i, j);
  const double scale = rotational.cwiseAbs().maxCoeff();
  if ((rotational - rotational.transpose()).cwiseAbs().maxCoeff() > 1e-12 * scale)
    return value_error("rotational_inertia must be symmetric");
  self.inertias[joint_id] = {mass, Vec3(lever[0], lever[1], lever[2]), Symmetric3::from_matrix(rotational)};
  return Unit{};
}

using BodyInertia = std::tuple<double, Vec3Array, decltype(matrix_array(Mat3()))>;

Result<BodyInertia> get_body_inertia(const Model& self, size_t joint_id) {
  if (joint_id >= self.njoints)
    return value_error("joint_id " + std::to_string(joint_id) + " >= njoints " + std::to_string(self.njoints));
  const Inertia& inertia = self.inertias[joint_id];
  return BodyInertia{inertia.mass, vec3_array(inertia.lever), matrix_array(inertia.rotational.matrix())};
}

// The frame table, one list per column.
std::vector<std::string> frame_names(const Model& self) {
  std::vector<std::string> out;
  for (const Frame& frame : self.frames) out.push_back(frame.name);
  return out;
}
std::vector<size_t> frame_parents(const Model& self) {
  std::vector<size_t> out;
  for (const Frame& frame : self.frames) out.push_back(frame.parent_joint);
  return out;
}
std::vector<std::string> frame_types(const Model& self) {
  std::vector<std::string> out;
  for (const Frame& frame : self.frames) out.push_back(flag_names(frame.frame_type));
  return out;
}
std::vector<SE3> frame_placements(const Model& self) {
  std::vector<SE3> out;
  for (const Frame& frame : self.frames) out.push_back(frame.placement);
  return out;
}

Result<size_t> add_frame(Model& self, std::string name, size_t parent_joint, const SE3& placement) {
  return add_operational_frame(self, std::move(name), parent_joint, placement);
}

// The joint table, one list per column.
std::vector<std::string> joint_types(const Model& self) {
  std::vector<std::string> out;
  for (const Joint& joint : self.joints) out.emplace_back(kind_name(joint.joint_type));
  return out;
}
Ref<std::vector<size_t>> joint_nq(const Model& self) { return self.joint_nq; }
Ref<std::vector<size_t>> joint_nv(const Model& self) { return self.joint_nv; }
Ref<std::vector<size_t>> joint_q_idx(const Model& self) { return self.joint_q_idx; }
Ref<std::vector<size_t>> joint_v_idx(const Model& self) { return self.joint_v_idx; }
Ref<std::vector<SE3>> joint_placements(const Model& self) { return self.joint_placements; }

auto joint_axes(const Model& self) {
  return array_result({self.joints.size(), 3}, [&joints = self.joints](double* out) {
    for (size_t i = 0; i < joints.size(); ++i)
      for (int k = 0; k < 3; ++k) out[3 * i + k] = joints[i].axis[k];
  });
}

Model floating_base(const Model& self, std::optional<std::string> name) {
  return with_floating_base(self, name.value_or("root_joint"));
}

// Pickling and copying: Model() and then the whole model as bytes.
auto reduce(const Model& self) { return std::tuple(ClassObject<Model>{}, std::tuple<>(), Bytes{save_model(self)}); }

Result<Unit> set_state(Model& self, Bytes state) {
  auto loaded = load_model(state.data);
  if (!loaded) return loaded.error();
  self = std::move(*loaded);
  return Unit{};
}

std::string report(const Model& self) { return model_report(self); }
void print_info(const Model& self) { write_to_stdout(model_report(self) + "\n"); }

std::string repr(const Model& self) {
  return "Model(name='" + self.name + "', njoints=" + std::to_string(self.njoints) +
         ", nframes=" + std::to_string(self.nframes) + ", nq=" + std::to_string(self.nq) +
         ", nv=" + std::to_string(self.nv) + ")";
}


PyMethodDef methods[] = {
    method_row<"Model", "set_gravity($self, gravity)", set_gravity,
               "Set gravity vector (linear part)\n\n# Arguments\n\n"
               "* `gravity` - Gravity vector [x, y, z] in m/s²">(),
    method_row<"Model", "set_gravity_angular($self, gravity_angular)", set_gravity_angular,
               "Set gravity angular part\n\n# Arguments\n\n"
               "* `gravity_angular` - Angular gravity vector [wx, wy, wz] in rad/s²">(),
    method_row<"Model", "set_gravity_full($self, gravity)", set_gravity_full,
               "Set full 6D gravity\n\n# Arguments\n\n"
               "* `gravity` - Full 6D gravity [linear_x, linear_y, linear_z, angular_x, angular_y, "
               "angular_z]\n  - linear part in m/s²\n  - angular part in rad/s²">(),
    method_row<"Model", "add_joint($self, parent, joint_type, axis, placement, name)", add_joint>(),
    method_row<"Model", "get_joint_id($self, name)", get_joint_id>(),
    method_row<"Model", "getFrameId($self, name)", get_frame_id>(),
    method_row<"Model", "set_name($self, name)", set_name>(),
    method_row<"Model", "createData($self)", create_data, "Create a Data object for this model">(),
    method_row<"Model", "to_string_info($self)", report, "Get string representation of model information">(),
    method_row<"Model", "print_info($self)", print_info, "Print model information">(),
    method_row<"Model", "set_body_inertia($self, joint_id, mass, lever, rotational_inertia)", set_body_inertia,
               "Set the inertia of the body carried by a joint: its mass, its centre of mass\n"
               "(lever) in the joint frame and its 3x3 rotational inertia about that centre.">(),
    method_row<"Model", "get_body_inertia($self, joint_id)", get_body_inertia,
               "Get (mass, lever, rotational_inertia) of the body carried by a joint.">(),
    method_row<"Model", "add_frame($self, name, parent_joint, placement)", add_frame,
               "Add an operational frame on a joint at a placement in the joint's frame; return its id.">(),
    method_row<"Model", "with_floating_base($self, name='root_joint')", floating_base,
               "A new model whose root body hangs from the universe on a floating joint.">(),
    method_row<"Model", "__reduce__($self)", reduce>(),
    method_row<"Model", "__setstate__($self, state)", set_state>(),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef properties[] = {
    property_row<"nq", nq>(),
    property_row<"nv", nv>(),
    property_row<"njoints", njoints>(),
    property_row<"nframes", nframes>(),
    property_row<"names", names>(),
    property_row<"name", name>(),
    property_row<"lowerPositionLimit", lower_limits>(),
    property_row<"upperPositionLimit", upper_limits>(),
    property_row<"gravity", gravity, "Get gravity vector (linear part) [x, y, z] in m/s²">(),
    property_row<"gravity_angular", gravity_angular, "Get gravity angular part [wx, wy, wz] in rad/s²">(),
    property_row<"gravity_full", gravity_full,
                 "Get full 6D gravity [linear_x, linear_y, linear_z, angular_x, angular_y, angular_z]">(),
    property_row<"parents", parents, "Parent joint index of every joint (list of int)">(),
    property_row<"frame_names", frame_names, "Name of every frame (list of str)">(),
    property_row<"frame_parents", frame_parents, "Joint that carries every frame (list of int)">(),
    property_row<"frame_types", frame_types, "Kind flags of every frame, e.g. \"BODY\" (list of str)">(),
    property_row<"frame_placements", frame_placements, "Placement of every frame in its joint's frame (list of SE3)">(),
    property_row<"joint_types", joint_types, "Kind of every joint, as URDF names it (list of str)">(),
    property_row<"joint_nq", joint_nq, "Configuration size of every joint (list of int)">(),
    property_row<"joint_nv", joint_nv, "Velocity size of every joint (list of int)">(),
    property_row<"joint_q_idx", joint_q_idx, "First index of every joint in q (list of int)">(),
    property_row<"joint_v_idx", joint_v_idx, "First index of every joint in v (list of int)">(),
    property_row<"joint_axes", joint_axes, "Axis of every joint as stored, (njoints, 3) array">(),
    property_row<"joint_placements", joint_placements, "Placement of every joint in its parent's frame (list of SE3)">(),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr auto doc = class_doc<"Model", "()">();

}  // namespace

PyTypeObject* create_model_class() {
  return create_class({"kavrel.Model", doc.c_str(), sizeof(Box<Model>), dealloc_box<Model>,
                       &Constructor<"Model", "()", construct>::call, methods, properties,
                       self_text<repr>, self_text<report>});
}

}  // namespace kavrel::python
