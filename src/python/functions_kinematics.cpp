// Configuration space and kinematics, as Python calls them: the size checks
// with their messages, then one library operation.
#include <algorithm>
#include <vector>

#include "algorithms/configuration.hpp"
#include "algorithms/forward_kinematics.hpp"
#include "algorithms/frame_jacobian.hpp"
#include "algorithms/frame_jacobian_time_variation.hpp"
#include "algorithms/frame_placement.hpp"
#include "algorithms/jacobian_time_variation.hpp"
#include "algorithms/joint_jacobians.hpp"
#include "python/functions.hpp"

namespace kavrel::python {

namespace {

using std::to_string;

std::optional<Error> check_q(const Model& model, std::span<const double> q) {
  return check_length("q", q, "nq", model.nq);
}

}  // namespace

void Integrated::operator()(double* out) const {
  kavrel::integrate(model, q, v, std::span<double>(out, model.nq));
}

Vector neutral(const Model& model) { return kavrel::neutral(model); }

Result<ArrayResult<Integrated>> integrate(const Model& model, std::span<const double> q,
                                         std::span<const double> v) {
  if (q.size() != model.nq)
    return value_error("Configuration vector size mismatch: expected " + to_string(model.nq) + ", got " +
                       to_string(q.size()));
  if (v.size() != model.nv)
    return value_error("Velocity vector size mismatch: expected " + to_string(model.nv) + ", got " +
                       to_string(v.size()));
  return array_result({model.nq}, Integrated{model, q, v});
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

Result<MotionColumns> computeJointJacobian(const Model& model, Data& data, std::span<const double> q,
                                           size_t joint_id) {
  if (auto error = check_q(model, q)) return *error;
  if (joint_id >= model.njoints)
    return value_error("joint_id " + to_string(joint_id) + " >= njoints " + to_string(model.njoints));
  kavrel::compute_joint_jacobian(model, data, q, joint_id, data.result_columns);
  return columns_linear_first<Motion>(data.result_columns);
}

Result<Unit> computeJointJacobiansTimeVariation(const Model& model, Data& data, std::span<const double> q,
                                                std::span<const double> v) {
  if (auto error = check_q(model, q)) return *error;
  if (auto error = check_length("v", v, "nv", model.nv)) return *error;
  kavrel::compute_joint_jacobians_time_variation(model, data, q, v);
  return Unit{};
}

Result<MotionColumns> getFrameJacobian(const Model& model, const Data& data, size_t frame_id,
                                       ReferenceFrame reference_frame) {
  if (auto error = check_frame(model, frame_id)) return *error;
  if (auto error = check_frame_joint(model, frame_id)) return *error;
  const size_t joint_id = model.frames[frame_id].parent_joint;
  kavrel::get_frame_jacobian(model, data, joint_id, model.frames[frame_id].placement, reference_frame,
                             data.result_columns);
  return columns_linear_first<Motion>(data.result_columns);
}

Result<SE3> getFramePlacement(const Model& model, const Data& data, size_t frame_id) {
  if (auto error = check_frame(model, frame_id)) return *error;
  if (auto error = check_frame_joint(model, frame_id)) return *error;
  return kavrel::frame_placement(model, data, frame_id);
}

Result<MotionColumns> getFrameJacobianTimeVariation(const Model& model, const Data& data, size_t frame_id,
                                                    ReferenceFrame reference_frame) {
  if (auto error = check_frame(model, frame_id)) return *error;
  kavrel::get_frame_jacobian_time_variation(model, data, frame_id, reference_frame, data.result_columns);
  return columns_linear_first<Motion>(data.result_columns);
}

}  // namespace kavrel::python
