// World placement of a frame from the last pass that wrote oMi:
//   oMf = oMi[parent joint] * placement
#pragma once

#include "data/data.hpp"

namespace kavrel {

SE3 frame_placement(const Model& model, const Data& data, size_t frame_id);

}  // namespace kavrel
