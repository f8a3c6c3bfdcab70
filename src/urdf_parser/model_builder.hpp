// Builds a Model from a URDF document: one joint per URDF joint reached from
// the root link, numbered depth-first, with limits, inertias and frames.
#pragma once

#include <string>
#include <string_view>

#include "model/model.hpp"
#include "urdf_parser/urdf_reader.hpp"

namespace kavrel::urdf {

// Failures carry the message without the Python-facing prefix.
Result<Model> parse_urdf_file(const std::string& path);
Result<Model> parse_urdf_from_string(std::string_view text);
Result<Model> build_model_from_urdf(const RobotRecord& robot);

// R = Rz(yaw) Ry(pitch) Rx(roll).
Mat3 rotation_from_rpy(const Vec3& rpy);

// The link's inertia about its centre of mass, in the link frame.
Inertia convert_inertia_from_urdf(const InertialRecord& inertial);

}  // namespace kavrel::urdf
