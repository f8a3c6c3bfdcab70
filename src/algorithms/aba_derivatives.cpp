#include "algorithms/aba_derivatives.hpp"

#include "algorithms/aba.hpp"
#include "algorithms/minverse.hpp"
#include "algorithms/rnea_derivatives.hpp"
#include "types/dense_kernels.hpp"

namespace kavrel {

Status aba_derivatives(const Model& model, Data& data, std::span<const double> q, std::span<const double> v,
                       std::span<const double> tau) {
  if (Status done = aba(model, data, q, v, tau); !done) return done;
  // aba leaves its joint factors, and the world motion at a = ddq.
  minverse_from_factors(model, data);
  derivatives_from_world_motion(model, data);
  // Minv is symmetric, and dtau is zero between branches.
  negated_product(data.Minv, data.dtau_dq, data.product_rows, data.product_row_offsets, data.ddq_dq);
  negated_product(data.Minv, data.dtau_dv, data.product_rows, data.product_row_offsets, data.ddq_dv);
  return ok_status();
}

}  // namespace kavrel
