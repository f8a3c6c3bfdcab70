#include "algorithms/forward_kinematics.hpp"

namespace kavrel {

void forward_kinematics(const Model& model, Data& data, std::span<const double> q) {
  require_configuration(model, data, q);
  data.oMi[0] = data.liMi[0] = SE3::identity();
  // Parents come first, so oMi[parent] is final when joint i is reached.
  for (size_t i = 1; i < model.njoints; ++i) forward_step(model, data, i, q);
}

}  // namespace kavrel
