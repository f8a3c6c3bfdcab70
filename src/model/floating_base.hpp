// A free-floating copy of a model whose root body is welded to the world.
#pragma once

#include <string>

#include "model/model.hpp"

namespace kavrel {

// A new model with a floating joint `name` between the universe and the old
// root body: joint i becomes joint i + 1, the root body's inertia and BODY
// frames move from joint 0 onto the new joint, which gets a JOINT frame
// (frame 1) and unbounded position limits. The given model is not changed.
Model with_floating_base(const Model& model, std::string name);

}  // namespace kavrel
