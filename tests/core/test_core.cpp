// Core behaviours that no Python call reaches: closed forms of the spatial
// types, frame flags, limit bookkeeping and internal-failure messages.
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "algorithms/configuration.hpp"
#include "data/data.hpp"

using namespace kavrel;

namespace {

int passed = 0, failed = 0;

void check(bool condition, const std::string& what) {
  if (condition) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s\n", what.c_str());
  }
}

template <class Matrix>
bool equal(const Matrix& a, const Matrix& b) { return a.rows() == b.rows() && a.cols() == b.cols() && a == b; }

std::string internal_failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const InternalFailure& failure) {
    return failure.what();
  }
  return "(no failure)";
}

const double inf = std::numeric_limits<double>::infinity();

void spatial_inertia_matrix() {
  check(to_matrix6(Inertia::zero()) == Matrix6::Zero(), "to_matrix6 of the zero inertia");
  Vector6 point;
  point << 3, 3, 3, 0, 0, 0;
  check(to_matrix6(Inertia{3.0, Vec3::Zero(), {}}) == Matrix6(point.asDiagonal()), "to_matrix6 of a point mass");
  const Matrix6 m = to_matrix6(Inertia{2.0, Vec3(0, 0, 1), {}});
  Mat3 top_right, bottom_left;
  top_right << 0, 2, 0, -2, 0, 0, 0, 0, 0;
  bottom_left << 0, -2, 0, 2, 0, 0, 0, 0, 0;
  check(m.bottomRightCorner<3, 3>().diagonal() == Vec3(2, 2, 0), "to_matrix6 lever term on the diagonal");
  check(m.topRightCorner<3, 3>() == top_right && m.bottomLeftCorner<3, 3>() == bottom_left,
        "to_matrix6 coupling blocks");
}

void inertia_sums() {
  Inertia light{4e-11, Vec3(1, 0, 0), Symmetric3{{1, 0, 1, 0, 0, 1}}};
  Inertia before = light;
  add_inertias_inplace(light, Inertia{5e-11, Vec3(0, 1, 0), Symmetric3{{2, 0, 2, 0, 0, 2}}});
  check(light.mass == before.mass && light.rotational.values == before.rotational.values,
        "inertias below the mass threshold are not added");
  Inertia a{1.0, Vec3(-1, 0, 0), {}};
  add_inertias_inplace(a, Inertia{1.0, Vec3(1, 0, 0), {}});
  check(a.mass == 2.0 && a.lever == Vec3::Zero(), "two point masses: total mass and centre");
  check(equal(a.rotational.matrix(), Mat3(Vec3(0, 2, 2).asDiagonal())), "two point masses: parallel axis terms");
}

void frame_type_text() {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "FrameType(0x0)"},
      {FrameType::BODY, "FrameType(BODY)"},
      {FrameType::OP_FRAME | FrameType::BODY, "FrameType(OP_FRAME | BODY)"},
      {FrameType::JOINT | FrameType::FIXED_JOINT | FrameType::SENSOR, "FrameType(JOINT | FIXED_JOINT | SENSOR)"},
      {0x40, "FrameType(0x40)"},
      {FrameType::JOINT | 0x300, "FrameType(JOINT | 0x300)"},
  };
  for (const auto& [bits, text] : cases) check(to_string(FrameType{bits}) == text, std::string("text of ") + text);
}

Model three_revolute_joints() {
  Model model = Model::create();
  for (size_t i = 0; i < 3; ++i)
    (void)add_joint(model, i, Joint::make(JointType::Revolute, Vec3::UnitZ()), SE3::identity(), "j");
  return model;
}

void position_limits() {
  Model model = three_revolute_joints();
  const double lower[] = {-1.0};
  set_joint_position_limits(model, 2, lower, {});
  check(model.lowerPositionLimit == std::vector<double>{-inf, -1.0}, "lower limits grow lazily with -inf");
  check(model.upperPositionLimit == std::vector<double>{inf, inf}, "upper limits grow lazily with +inf");
  set_joint_position_limits(model, 4, lower, lower);
  check(model.lowerPositionLimit.size() == 2 && model.upperPositionLimit.size() == 2, "unknown joint ignored");
}

void offsets_and_subtrees() {
  Model model = Model::create();
  check(*add_joint(model, 0, Joint::make(JointType::Floating, Vec3::Zero()), SE3::identity(), "base") == 1 &&
            *add_joint(model, 1, Joint::make(JointType::Revolute, Vec3::UnitX()), SE3::identity(), "arm") == 2,
        "joint ids");
  check(model.nq == 8 && model.nv == 7 && model.joint_v_idx == std::vector<size_t>{0, 0, 6} &&
            model.joint_q_idx == std::vector<size_t>{0, 0, 7},
        "offsets after floating and revolute joints");
  (void)add_joint(model, 1, Joint::make(JointType::Prismatic, Vec3::UnitY()), SE3::identity(), "leg");
  check(model.subtree_nv == std::vector<size_t>{0, 8, 1, 1}, "subtree sizes kept by add_joint");
  Model rebuilt = model;
  refresh_subtrees(rebuilt);
  check(rebuilt.subtree_nv == model.subtree_nv, "refresh_subtrees agrees with add_joint");
  const Model unchanged = model;
  auto refused = add_joint(model, 4, Joint::make(JointType::Revolute, Vec3::UnitZ()), SE3::identity(), "x");
  check(!refused && refused.error().message == "parent 4 >= njoints 4" && model.njoints == unchanged.njoints &&
            model.names == unchanged.names && model.nv == unchanged.nv,
        "an unknown parent changes nothing");
}

void mirrored_mass_matrix() {
  Model model = Model::create();
  (void)add_joint(model, 0, Joint::make(JointType::Revolute, Vec3::UnitZ()), SE3::identity(), "a");
  (void)add_joint(model, 1, Joint::make(JointType::Revolute, Vec3::UnitZ()), SE3::identity(), "b");
  Data data(model);
  data.M << 1, 2, 3, 4;
  Matrix mirrored(2, 2);
  mirrored << 1, 2, 2, 4;
  check(equal(data.mass_matrix(), mirrored), "mass matrix mirrored from its upper triangle");
}

void joint_kinematics() {
  const double v[] = {1, 2, 3, 4, 5, 6};
  const Motion floating = compute_joint_velocity(Joint::make(JointType::Floating, Vec3::Zero()), v, 0);
  check(floating.angular == Vec3(4, 5, 6) && floating.linear == Vec3(1, 2, 3), "floating joint velocity parts");
  check(compute_joint_motion_subspace(Joint::make(JointType::Fixed, Vec3::Zero())).count == 0,
        "a fixed joint has no motion subspace columns");
  check(internal_failure([&] { compute_joint_velocity(Joint::make(JointType::Floating, Vec3::Zero()), v, 1); }) ==
            "v index out of bounds: offset 1 + 6 > length 6",
        "a velocity slice past the end is an internal failure");
}

void integrate_internal_checks() {
  const std::pair<Joint, const char*> cases[] = {
      {Joint{JointType::Planar, Vec3::Zero(), 2, 3}, "Planar joint requires nq>=4, got nq=2 at joint_id=1"},
      {Joint{JointType::Planar, Vec3::Zero(), 4, 2}, "Planar joint requires nv>=3, got nv=2 at joint_id=1"},
  };
  for (const auto& [joint, message] : cases) {
    Model model = Model::create();
    (void)add_joint(model, 0, joint, SE3::identity(), "p");
    std::vector<double> q(model.nq, 0.0), v(model.nv, 0.0), out(model.nq);
    check(internal_failure([&] { integrate(model, q, v, out); }) == message, message);
  }
  Model model = three_revolute_joints();
  std::vector<double> q(2), v(3), out(3);
  check(internal_failure([&] { integrate(model, q, v, out); }) ==
            "Configuration vector size mismatch: expected 3, got 2",
        "integrate checks the length of q");
}

}  // namespace

int main() {
  spatial_inertia_matrix();
  inertia_sums();
  frame_type_text();
  position_limits();
  offsets_and_subtrees();
  mirrored_mass_matrix();
  joint_kinematics();
  integrate_internal_checks();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
