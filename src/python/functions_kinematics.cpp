// Configuration space and kinematics, as Python calls them: the size checks
// with their messages, then one library operation.
#include <algorithm>
#include <vector>

#include "algorithms/configuration.hpp"
#include "algorithms/forward_kinematics.hpp"
#include "algorithms/frame_jacobian.hpp"
#include "algorithms/frame_jacobian_time_variation.hpp"
#include "algorithms/jacobian_time_variation.hpp"
#include "algorithms/joint_jacobians.hpp"
#include "python/functions.hpp"
#include "python/spatial_arrays.hpp"

namespace kavrel::python {

namespace {

using std::to_string;

std::optional<Error> check_q(const Model& model, std::span<const double> q) {
  if (q.size() == model.nq) return std::nullopt;
  return value_error("q length " + to_string(q.size()) + " != nq " + to_string(model.nq));
}

std::optional<Error> check_frame(const Model& model, size_t frame_id) {
  if (frame_id < model.nframes) return std::nullopt;
  return value_error("Frame ID " + to_string(frame_id) + " out of range (max: " + to_string(model.nframes - 1) + ")");
}

// Columns computed for one result and copied out at once. The buffer is
// reused from call to call, so steady use allocates only the result array.
std::span<Motion> result_columns(size_t nv) {
  thread_local std::vector<Motion> columns;
  if (columns.size() < nv) columns.resize(nv);
  return {columns.data(), nv};
}

PyObject* columns_array(std::span<const Motion> columns) { return columns_linear_first<Motion>(columns); }

}  // namespace

Vector neutral(const Model& model) { return kavrel::neutral(model); }

Result<PyObject*> integrate(const Model& model, std::span<const double> q, std::span<const double> v) {
  if (q.size() != model.nq)
    return value_error("Configuration vector size mismatch: expected " + to_string(model.nq) + ", got " +
                       to_string(q.size()));
  if (v.size() != model.nv)
    return value_error("Velocity vector size mismatch: expected " + to_string(model.nv) + ", got " +
                       to_string(v.size()));
  // Written straight into the result array.
  double* out = nullptr;
  PyObject* result = new_array({static_cast<npy_intp>(model.nq)}, &out);
  if (result == nullptr) return result;
  std::fill(out, out + model.nq, 0.0);
  try {
    kavrel::integrate(model, q, v, std::span<double>(out, model.nq));
  } catch (...) {
    Py_DECREF(result);
    throw;
  }
  return result;
}

Result<Unit> forwardKinematics(const Model& model, Data& data, std::span<const double> q) {
  if (q.size() != model.nq)
    return value_error("Configuration vector length " + to_string(q.size()) + " does not match model nq " +
                       to_string(model.nq));
  kavrel::forward_kinematics(model, data, q);
  return Unit{};
}

Result<Unit> computeJointJacobians(const Model& model, Data& data, std::span<const double> q) {
  if (auto error = check_q(model, q)) return *error;
  kavrel::compute_joint_jacobians(model, data, q);
  return Unit{};
}

Result<PyObject*> computeJointJacobian(const Model& model, Data& data, std::span<const double> q,
                                       size_t joint_id) {
  if (auto error = check_q(model, q)) return *error;
  if (joint_id >= model.njoints)
    return value_error("joint_id " + to_string(joint_id) + " >= njoints " + to_string(model.njoints));
  const std::span<Motion> columns = result_columns(model.nv);
  kavrel::compute_joint_jacobian(model, data, q, joint_id, columns);
  return columns_array(columns);
}

Result<Unit> computeJointJacobiansTimeVariation(const Model& model, Data& data, std::span<const double> q,
                                                std::span<const double> v) {
  if (auto error = check_q(model, q)) return *error;
  if (v.size() != model.nv)
    return value_error("v length " + to_string(v.size()) + " != nv " + to_string(model.nv));
  kavrel::compute_joint_jacobians_time_variation(model, data, q, v);
  return Unit{};
}

Result<PyObject*> getFrameJacobian(const Model& model, const Data& data, size_t frame_id,
                                   ReferenceFrame reference_frame) {
  if (auto error = check_frame(model, frame_id)) return *error;
  const size_t joint_id = model.frames[frame_id].parent_joint;
  if (joint_id >= model.njoints)
    return value_error("Frame " + to_string(frame_id) + " has invalid joint ID " + to_string(joint_id) +
                       " (max: " + to_string(model.njoints - 1) + ")");
  const std::span<Motion> columns = result_columns(model.nv);
  kavrel::get_frame_jacobian(model, data, joint_id, reference_frame, columns);
  return columns_array(columns);
}

Result<PyObject*> getFrameJacobianTimeVariation(const Model& model, const Data& data, size_t frame_id,
                                                ReferenceFrame reference_frame) {
  if (auto error = check_frame(model, frame_id)) return *error;
  const std::span<Motion> columns = result_columns(model.nv);
  kavrel::get_frame_jacobian_time_variation(model, data, frame_id, reference_frame, columns);
  return columns_array(columns);
}

}  // namespace kavrel::python
