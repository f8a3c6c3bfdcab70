// The module: its classes and functions in registration order, __all__ and
// __version__.
#define KAVREL_IMPORTS_NUMPY
#include "python/classes.hpp"
#include "python/functions.hpp"

namespace kavrel::python {

namespace {

PyMethodDef functions[] = {
    function_row<"neutral(model)", neutral>(),
    function_row<"integrate(model, q, v)", integrate>(),
    function_row<"forwardKinematics(model, data, q)", forwardKinematics>(),
    function_row<"rnea(model, data, q, v, a)", rnea>(),
    function_row<"crba(model, data, q)", crba>(),
    function_row<"computeJointJacobians(model, data, q)", computeJointJacobians>(),
    function_row<"computeJointJacobian(model, data, q, joint_id)", computeJointJacobian,
                 "Compute the Jacobian of a specific joint expressed in the local frame of the joint\n\n"
                 "This is cheaper than computing the full model Jacobian when only one joint is\n"
                 "needed: it visits only the joint and its ancestors.\n\n"
                 "# Arguments\n\n"
                 "* `model` - The model\n"
                 "* `data` - The data (the liMi entries of the joint and its ancestors are updated)\n"
                 "* `q` - Joint configuration (size model.nq)\n"
                 "* `joint_id` - Index of the joint\n\n"
                 "# Returns\n\n"
                 "6×nv Jacobian matrix expressed in the local frame of the joint">(),
    function_row<"computeJointJacobiansTimeVariation(model, data, q, v)", computeJointJacobiansTimeVariation,
                 "Compute the time variation of joint Jacobians (dJ/dt)\n\n"
                 "Computes `data.limi`, `data.omi`, `data.v`, `data.ov`, `data.j` and `data.dJ`,\n"
                 "with `dJ = [ov]× * J` column by column.\n\n"
                 "# Example\n\n"
                 "```python\n"
                 "computeJointJacobiansTimeVariation(model, data, q, v)\n"
                 "dJ = getFrameJacobianTimeVariation(model, data, frame_id, ReferenceFrame.LOCAL)\n"
                 "```\n\n"
                 "It does not require `computeAllTerms`: it recomputes `data.dJ` by itself.\n\n"
                 "# Arguments\n\n"
                 "* `model` - The model\n"
                 "* `data` - The data\n"
                 "* `q` - Joint configuration (size model.nq)\n"
                 "* `v` - Joint velocity (size model.nv)\n\n"
                 "# Returns\n\n"
                 "Result is stored in `data.dJ` (6×nv matrix)">(),
    function_row<"getFrameJacobian(model, data, frame_id, reference_frame)", getFrameJacobian>(),
    function_row<"getFrameJacobianTimeVariation(model, data, frame_id, reference_frame)",
                 getFrameJacobianTimeVariation>(),
    function_row<"non_linear_effects(model, data, q, v)", non_linear_effects>(),
    function_row<"compute_gravity(model, data, q)", compute_gravity>(),
    function_row<"computeAllTerms(model, data, q, v)", computeAllTerms,
                 "Compute all terms (forward kinematics, velocities, accelerations, etc.)\n\n"
                 "In one pass, at the configuration q and the velocity v, this computes:\n\n"
                 "* Forward kinematics (`data.liMi`, `data.oMi`)\n"
                 "* Velocities and accelerations (`data.v`, `data.ov`, and the bias accelerations\n"
                 "  `data.a` and `data.a_gf` with zero joint acceleration)\n"
                 "* Jacobians and their time variation (`data.J`, `data.dJ`)\n"
                 "* Composite rigid body inertias (`data.composite_inertia`) and the mass matrix `data.M`,\n"
                 "  the non-linear effects `data.nle` and the gravity torques `data.g`\n"
                 "* Centroidal quantities (`data.ag`, `data.dag`, `data.hg`, `data.dhg`, `data.ig`,\n"
                 "  `data.com`, `data.vcom`, `data.jcom`, `data.mass`) and the energies\n\n"
                 "# Arguments\n\n"
                 "* `model` - The model\n"
                 "* `data` - The data\n"
                 "* `q` - Joint configuration (size `model.nq`)\n"
                 "* `v` - Joint velocity (size `model.nv`)">(),
    function_row<"computeCoriolisMatrix(model, data, q, v)", computeCoriolisMatrix,
                 "Compute the Coriolis matrix C(q, v) of the Lagrangian dynamics\n\n"
                 "The equation of motion is\n\n"
                 "    M(q) * ddq + C(q, dq) * dq + g(q) = tau\n\n"
                 "and C is the factorisation for which C + C^T is the time derivative of M.\n\n"
                 "# Arguments\n\n"
                 "* `model` - The model\n"
                 "* `data` - The data\n"
                 "* `q` - Joint configuration (size model.nq)\n"
                 "* `v` - Joint velocity (size model.nv)\n\n"
                 "# Returns\n\n"
                 "The Coriolis matrix C is stored in data.C">(),
    function_row<"parse_urdf_file(filename)", parse_urdf_file>(),
    function_row<"parse_urdf_from_string(urdf_string)", parse_urdf_from_string>(),
    function_row<"getFramePlacement(model, data, frame_id)", getFramePlacement,
                 "World placement of a frame from the last forward kinematics\n\n"
                 "Composes the `data.oMi` entry of the frame's joint, as the last pass over q\n"
                 "(`forwardKinematics`, `computeJointJacobians`, `computeAllTerms`, ...) left it,\n"
                 "with the frame's placement in that joint's frame.\n\n"
                 "# Arguments\n\n"
                 "* `model` - The model\n"
                 "* `data` - The data (read only)\n"
                 "* `frame_id` - Index of the frame\n\n"
                 "# Returns\n\n"
                 "A new SE3, the frame's placement in the world">(),
    function_row<"aba(model, data, q, v, tau)", aba,
                 "Compute the joint accelerations of the forward dynamics (articulated-body algorithm)\n\n"
                 "Solves M(q) * ddq + C(q, v) * v + g(q) = tau for ddq in three passes over the\n"
                 "joints, without forming the mass matrix. Gravity and every joint kind are handled\n"
                 "as in `rnea`, which it inverts: `aba(q, v, rnea(q, v, a))` is `a`.\n\n"
                 "# Arguments\n\n"
                 "* `model` - The model\n"
                 "* `data` - The data (`data.ddq` receives the result)\n"
                 "* `q` - Joint configuration (size model.nq)\n"
                 "* `v` - Joint velocity (size model.nv)\n"
                 "* `tau` - Joint torques (size model.nv)\n\n"
                 "# Returns\n\n"
                 "The joint accelerations ddq (size model.nv), also stored in `data.ddq`.\n"
                 "Raises ValueError when a joint has no inertia to accelerate.">(),
    function_row<"computeMinverse(model, data, q)", computeMinverse,
                 "Compute the inverse of the joint-space mass matrix M(q)\n\n"
                 "Runs the articulated-body recursion for all unit torques at once; the mass\n"
                 "matrix is neither formed nor inverted.\n\n"
                 "# Arguments\n\n"
                 "* `model` - The model\n"
                 "* `data` - The data (`data.Minv` receives the result)\n"
                 "* `q` - Joint configuration (size model.nq)\n\n"
                 "# Returns\n\n"
                 "The full symmetric nv×nv matrix M(q)^-1, also stored in `data.Minv`.\n"
                 "Raises ValueError when a joint has no inertia to accelerate.">(),
    function_row<"rnea_derivatives(model, data, q, v, a)", rnea_derivatives,
                 "Compute the partial derivatives of the inverse dynamics (rnea) with respect to q and v\n\n"
                 "Differentiates tau = rnea(q, v, a) by recursions over the joints, in a small multiple\n"
                 "of the cost of `rnea` and without finite differences. The derivative with respect\n"
                 "to `a` is the mass matrix, which `crba` gives.\n\n"
                 "Column k of `dtau_dq` is the derivative along `integrate(model, q, e * e_k)` at e = 0:\n"
                 "a step of velocity coordinate k, so both matrices are nv×nv for every joint kind.\n\n"
                 "# Arguments\n\n"
                 "* `model` - The model\n"
                 "* `data` - The data (`data.dtau_dq` and `data.dtau_dv` receive the result,\n"
                 "  `data.tau` the torques rnea(q, v, a))\n"
                 "* `q` - Joint configuration (size model.nq)\n"
                 "* `v` - Joint velocity (size model.nv)\n"
                 "* `a` - Joint acceleration (size model.nv)\n\n"
                 "# Returns\n\n"
                 "The tuple (dtau_dq, dtau_dv) of nv×nv matrices, also stored in `data.dtau_dq`\n"
                 "and `data.dtau_dv`.">(),
    function_row<"aba_derivatives(model, data, q, v, tau)", aba_derivatives,
                 "Compute the partial derivatives of the forward dynamics (aba) with respect to q, v and tau\n\n"
                 "At ddq = aba(q, v, tau) the inverse dynamics give back tau, so the derivatives\n"
                 "follow from those of `rnea_derivatives` at a = ddq:\n\n"
                 "    ddq_dq = -Minv * dtau_dq,  ddq_dv = -Minv * dtau_dv,  ddq_dtau = Minv\n\n"
                 "with Minv = M(q)^-1, as `computeMinverse` gives it. Column k of `ddq_dq` is the derivative\n"
                 "along `integrate(model, q, e * e_k)` at e = 0, as in `rnea_derivatives`.\n\n"
                 "# Arguments\n\n"
                 "* `model` - The model\n"
                 "* `data` - The data (`data.ddq` receives aba(q, v, tau), `data.Minv`, `data.ddq_dq`\n"
                 "  and `data.ddq_dv` the derivatives, `data.dtau_dq` and `data.dtau_dv` those of rnea)\n"
                 "* `q` - Joint configuration (size model.nq)\n"
                 "* `v` - Joint velocity (size model.nv)\n"
                 "* `tau` - Joint torques (size model.nv)\n\n"
                 "# Returns\n\n"
                 "The tuple (ddq_dq, ddq_dv, ddq_dtau) of nv×nv matrices.\n"
                 "Raises ValueError when a joint has no inertia to accelerate.">(),
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {PyModuleDef_HEAD_INIT, "kavrel", "", -1, nullptr,
                                 nullptr, nullptr, nullptr, nullptr};

bool initialised = false;

// Adds `value` (a new reference, or nullptr) under `name` and lists it in __all__.
bool export_name(PyObject* module, PyObject* all, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  PyObject* text = PyUnicode_FromString(name);
  bool ok = text != nullptr && PyList_Append(all, text) == 0 && PyModule_AddObjectRef(module, name, value) == 0;
  Py_XDECREF(text);
  Py_DECREF(value);
  return ok;
}

template <class T>
bool export_class(PyObject* module, PyObject* all, PyTypeObject* (*create)()) {
  if (PyClass<T>::type == nullptr) PyClass<T>::type = create();
  PyObject* type = reinterpret_cast<PyObject*>(PyClass<T>::type);
  Py_XINCREF(type);
  return export_name(module, all, PyClass<T>::name, type);
}

PyObject* initialise() {
  if (initialised) {
    PyErr_SetString(PyExc_ImportError, "kavrel can be initialised only once per process");
    return nullptr;
  }
  if (PyArray_ImportNumPyAPI() < 0) return nullptr;
  PyObject* module = PyModule_Create(&module_definition);
  if (module == nullptr) return nullptr;
  PyObject* all = PyList_New(0);
  bool ok = all != nullptr && PyModule_AddObjectRef(module, "__all__", all) == 0 &&
            export_class<SE3>(module, all, create_se3_class) &&
            export_class<Model>(module, all, create_model_class) &&
            export_class<Data>(module, all, create_data_class) &&
            export_class<ReferenceFrame>(module, all, create_reference_frame_class) &&
            export_class<BatchHandle>(module, all, create_batch_class);
  PyObject* name = PyModule_GetNameObject(module);
  for (PyMethodDef* def = functions; ok && def->ml_name != nullptr; ++def)
    ok = export_name(module, all, def->ml_name, PyCFunction_NewEx(def, nullptr, name));
  ok = ok && export_name(module, all, "__version__", PyUnicode_FromString("0.1.4"));
  Py_XDECREF(name);
  Py_XDECREF(all);
  if (!ok) {
    Py_DECREF(module);
    return nullptr;
  }
  initialised = true;
  return module;
}

}  // namespace

}  // namespace kavrel::python

PyMODINIT_FUNC PyInit_kavrel() { return kavrel::python::initialise(); }
