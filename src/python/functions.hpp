// Bodies of the module functions, named as Python sees them; module.cpp
// lists them in its table. Each checks its arguments against the model,
// runs one library operation and returns C++ values for the binding to convert.
#pragma once

#include <optional>
#include <string>
#include <tuple>

#include "python/binding.hpp"
#include "python/spatial_arrays.hpp"

namespace kavrel::python {

// "{what} length {len} != {of} {expected}", the size check of every array argument.
[[gnu::cold, gnu::noinline]] inline Error length_error(const char* what, size_t length, const char* of,
                                                       size_t expected) {
  return value_error(std::string(what) + " length " + std::to_string(length) + " != " + of + " " +
                     std::to_string(expected));
}

inline std::optional<Error> check_length(const char* what, std::span<const double> values, const char* of,
                                         size_t expected) {
  if (values.size() == expected) [[likely]] return std::nullopt;
  return length_error(what, values.size(), of, expected);
}

inline std::optional<Error> check_frame(const Model& model, size_t frame_id) {
  if (frame_id < model.nframes) return std::nullopt;
  return value_error("Frame ID " + std::to_string(frame_id) + " out of range (max: " +
                     std::to_string(model.nframes - 1) + ")");
}

inline std::optional<Error> check_frame_joint(const Model& model, size_t frame_id) {
  const size_t joint_id = model.frames[frame_id].parent_joint;
  if (joint_id < model.njoints) return std::nullopt;
  return value_error("Frame " + std::to_string(frame_id) + " has invalid joint ID " + std::to_string(joint_id) +
                     " (max: " + std::to_string(model.njoints - 1) + ")");
}

// The result of q (+) v, written straight into its array.
struct Integrated {
  const Model& model;
  std::span<const double> q, v;
  void operator()(double* out) const;
};

// Configuration space.
Vector neutral(const Model& model);
Result<ArrayResult<Integrated>> integrate(const Model& model, std::span<const double> q, std::span<const double> v);

// Kinematics.
Result<Unit> forwardKinematics(const Model& model, Data& data, std::span<const double> q);
Result<Unit> computeJointJacobians(const Model& model, Data& data, std::span<const double> q);
Result<MotionColumns> computeJointJacobian(const Model& model, Data& data, std::span<const double> q,
                                           size_t joint_id);
Result<Unit> computeJointJacobiansTimeVariation(const Model& model, Data& data,
                                                std::span<const double> q, std::span<const double> v);
Result<MotionColumns> getFrameJacobian(const Model& model, const Data& data, size_t frame_id,
                                       ReferenceFrame reference_frame);
Result<MotionColumns> getFrameJacobianTimeVariation(const Model& model, const Data& data, size_t frame_id,
                                                    ReferenceFrame reference_frame);
Result<SE3> getFramePlacement(const Model& model, const Data& data, size_t frame_id);

// Dynamics.
Result<Ref<Vector>> rnea(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                         std::span<const double> a);
Result<Ref<Matrix>> crba(const Model& model, Data& data, std::span<const double> q);
Result<Ref<Vector>> non_linear_effects(const Model& model, Data& data, std::span<const double> q,
                                       std::span<const double> v);
Result<Ref<Vector>> compute_gravity(const Model& model, Data& data, std::span<const double> q);
Result<Unit> computeAllTerms(const Model& model, Data& data, std::span<const double> q, std::span<const double> v);
Result<Unit> computeCoriolisMatrix(const Model& model, Data& data, std::span<const double> q,
                                   std::span<const double> v);

// Forward dynamics.
Result<Ref<Vector>> aba(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                        std::span<const double> tau);
Result<Ref<Matrix>> computeMinverse(const Model& model, Data& data, std::span<const double> q);

// Derivatives of the dynamics.
Result<std::tuple<Ref<Matrix>, Ref<Matrix>>> rnea_derivatives(const Model& model, Data& data,
                                                              std::span<const double> q, std::span<const double> v,
                                                              std::span<const double> a);
Result<std::tuple<Ref<Matrix>, Ref<Matrix>, Ref<Matrix>>> aba_derivatives(const Model& model, Data& data,
                                                                          std::span<const double> q,
                                                                          std::span<const double> v,
                                                                          std::span<const double> tau);

// URDF import.
Result<Model> parse_urdf_file(std::string filename);
Result<Model> parse_urdf_from_string(std::string urdf_string);

}  // namespace kavrel::python
