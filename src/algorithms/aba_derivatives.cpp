#include "algorithms/aba_derivatives.hpp"

#include "algorithms/aba.hpp"
#include "algorithms/minverse.hpp"
#include "algorithms/rnea_derivatives.hpp"

namespace kavrel {

Status aba_derivatives(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                       std::span<const double> tau) {
  if (Status done = aba(model, data, q, v, tau); !done) return done;
  // The same articulated inertias as aba's: this cannot fail where aba did not.
  if (Status done = compute_minverse(model, data, q); !done) return done;
  rnea_derivatives(model, data, q, v, std::span<const double>(data.ddq.data(), model.nv));
  data.ddq_dq.noalias() = -data.Minv * data.dtau_dq;
  data.ddq_dv.noalias() = -data.Minv * data.dtau_dv;
  return ok_status();
}

}  // namespace kavrel
