// The whole model as bytes, for pickling and copying.
#pragma once

#include <string>
#include <string_view>

#include "model/model.hpp"

namespace kavrel {

// Joints, names, placements, inertias, limits, frames, gravity and name, every
// double bit for bit, in the byte order of this machine.
std::string save_model(const Model& model);

// The model that save_model described, rebuilt joint by joint so that every
// derived table is consistent; bytes of any other shape are refused.
Result<Model> load_model(std::string_view bytes);

}  // namespace kavrel
