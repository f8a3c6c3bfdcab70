// Bodies of the module functions, named as Python sees them; module.cpp
// lists them in its table. Each checks its arguments against the model and
// runs one library operation.
#pragma once

#include "python/binding.hpp"

namespace kavrel::python {

// Configuration space.
Vector neutral(const Model& model);
Result<PyObject*> integrate(const Model& model, std::span<const double> q, std::span<const double> v);

// Kinematics.
Result<Unit> forwardKinematics(const Model& model, Data& data, std::span<const double> q);
Result<Unit> computeJointJacobians(const Model& model, Data& data, std::span<const double> q);
Result<PyObject*> computeJointJacobian(const Model& model, Data& data, std::span<const double> q,
                                       size_t joint_id);
Result<Unit> computeJointJacobiansTimeVariation(const Model& model, Data& data,
                                                std::span<const double> q, std::span<const double> v);
Result<PyObject*> getFrameJacobian(const Model& model, const Data& data, size_t frame_id,
                                   ReferenceFrame reference_frame);
Result<PyObject*> getFrameJacobianTimeVariation(const Model& model, const Data& data, size_t frame_id,
                                                ReferenceFrame reference_frame);

// URDF import.
Result<Model> parse_urdf_file(std::string filename);
Result<Model> parse_urdf_from_string(std::string urdf_string);

}  // namespace kavrel::python
