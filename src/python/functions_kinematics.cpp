// Configuration space and kinematics, as Python calls them.
#include "python/functions.hpp"

namespace kavrel::python {

namespace {
Error pending() { return runtime_error("not built yet"); }
}  // namespace

Vector neutral(const Model& model) { return Vector::Zero(model.nq); }
Result<Vector> integrate(const Model&, std::span<const double>, std::span<const double>) { return pending(); }
Result<Unit> forwardKinematics(const Model&, Data&, std::span<const double>) { return pending(); }
Result<Unit> computeJointJacobians(const Model&, Data&, std::span<const double>) { return pending(); }
Result<PyObject*> computeJointJacobian(const Model&, Data&, std::span<const double>, size_t) { return pending(); }
Result<Unit> computeJointJacobiansTimeVariation(const Model&, Data&, std::span<const double>,
                                                std::span<const double>) { return pending(); }
Result<PyObject*> getFrameJacobian(const Model&, const Data&, size_t, ReferenceFrame) { return pending(); }
Result<PyObject*> getFrameJacobianTimeVariation(const Model&, const Data&, size_t, ReferenceFrame) { return pending(); }

}  // namespace kavrel::python
