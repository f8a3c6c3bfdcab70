// Dynamics, as Python calls them: every length check with its message, in
// argument order and before the workspace is touched, then one pass.
#include "algorithms/aba.hpp"
#include "algorithms/aba_derivatives.hpp"
#include "algorithms/all_terms.hpp"
#include "algorithms/coriolis_matrix.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/minverse.hpp"
#include "algorithms/rnea.hpp"
#include "algorithms/rnea_derivatives.hpp"
#include "python/functions.hpp"

namespace kavrel::python {

namespace {

std::optional<Error> check_state(const Model& model, std::span<const double> q, std::span<const double> v) {
  if (auto error = check_length("q", q, "nq", model.nq)) return error;
  return check_length("v", v, "nv", model.nv);
}

}  // namespace

Result<Ref<Vector>> rnea(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                         std::span<const double> a) {
  if (auto error = check_state(model, q, v)) return *error;
  if (auto error = check_length("a", a, "nv", model.nv)) return *error;
  kavrel::rnea(model, data, q, v, a);
  return std::cref(data.tau);
}

Result<Ref<Matrix>> crba(const Model& model, Data& data, std::span<const double> q) {
  if (auto error = check_length("q", q, "nq", model.nq)) return *error;
  kavrel::crba(model, data, q);
  return std::cref(data.M);
}

Result<Ref<Vector>> non_linear_effects(const Model& model, Data& data, std::span<const double> q,
                                       std::span<const double> v) {
  if (auto error = check_state(model, q, v)) return *error;
  kavrel::non_linear_effects(model, data, q, v);
  return std::cref(data.nle);
}

Result<Ref<Vector>> compute_gravity(const Model& model, Data& data, std::span<const double> q) {
  if (auto error = check_length("q", q, "nq", model.nq)) return *error;
  kavrel::compute_gravity(model, data, q);
  return std::cref(data.g);
}

Result<Unit> computeAllTerms(const Model& model, Data& data, std::span<const double> q, std::span<const double> v) {
  if (auto error = check_state(model, q, v)) return *error;
  kavrel::compute_all_terms(model, data, q, v);
  return Unit{};
}

Result<Unit> computeCoriolisMatrix(const Model& model, Data& data, std::span<const double> q,
                                   std::span<const double> v) {
  if (auto error = check_state(model, q, v)) return *error;
  kavrel::compute_coriolis_matrix(model, data, q, v);
  return Unit{};
}

Result<Ref<Vector>> aba(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                        std::span<const double> tau) {
  if (auto error = check_state(model, q, v)) return *error;
  if (auto error = check_length("tau", tau, "nv", model.nv)) return *error;
  if (Status done = kavrel::aba(model, data, q, v, tau); !done) return done.error();
  return std::cref(data.ddq);
}

Result<Ref<Matrix>> computeMinverse(const Model& model, Data& data, std::span<const double> q) {
  if (auto error = check_length("q", q, "nq", model.nq)) return *error;
  if (Status done = kavrel::compute_minverse(model, data, q); !done) return done.error();
  return std::cref(data.Minv);
}

// Derivatives of the dynamics.
Result<std::tuple<Ref<Matrix>, Ref<Matrix>>> rnea_derivatives(const Model& model, Data& data,
                                                              std::span<const double> q, std::span<const double> v,
                                                              std::span<const double> a) {
  if (auto error = check_state(model, q, v)) return *error;
  if (auto error = check_length("a", a, "nv", model.nv)) return *error;
  kavrel::rnea_derivatives(model, data, q, v, a);
  return std::tuple{std::cref(data.dtau_dq), std::cref(data.dtau_dv)};
}

Result<std::tuple<Ref<Matrix>, Ref<Matrix>, Ref<Matrix>>> aba_derivatives(const Model& model, Data& data,
                                                                          std::span<const double> q,
                                                                          std::span<const double> v,
                                                                          std::span<const double> tau) {
  if (auto error = check_state(model, q, v)) return *error;
  if (auto error = check_length("tau", tau, "nv", model.nv)) return *error;
  if (Status done = kavrel::aba_derivatives(model, data, q, v, tau); !done) return done.error();
  return std::tuple{std::cref(data.ddq_dq), std::cref(data.ddq_dv), std::cref(data.Minv)};
}

}  // namespace kavrel::python
