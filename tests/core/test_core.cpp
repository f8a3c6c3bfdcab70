// Core behaviours that no Python call reaches: the identities of the spatial
// algebra, frame flags, limit bookkeeping, internal-failure messages, and
// passes that allocate nothing. The vector kernels of forward dynamics are
// checked through the Python tests of aba_derivatives and computeMinverse.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "algorithms/aba.hpp"
#include "algorithms/aba_derivatives.hpp"
#include "algorithms/all_terms.hpp"
#include "algorithms/configuration.hpp"
#include "algorithms/coriolis_matrix.hpp"
#include "algorithms/crba.hpp"
#include "algorithms/forward_kinematics.hpp"
#include "algorithms/jacobian_time_variation.hpp"
#include "algorithms/joint_jacobians.hpp"
#include "algorithms/minverse.hpp"
#include "algorithms/rnea.hpp"
#include "algorithms/rnea_derivatives.hpp"
#include "batch/result_blocks.hpp"
#include "types/sin_cos.hpp"

// Every allocation of the program is counted, so that a test can prove a pass makes none;
// Eigen's temporaries come from malloc, not new, so malloc is counted too (glibc). Under
// AddressSanitizer, whose own malloc must pair with its free, only new is counted.
namespace {
size_t allocations = 0;
}
#ifndef __SANITIZE_ADDRESS__
extern "C" void* __libc_malloc(size_t size);
extern "C" void* malloc(size_t size) {
  ++allocations;
  return __libc_malloc(size);
}
#endif
void* operator new(size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

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

std::string internal_failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const InternalFailure& failure) {
    return failure.what();
  }
  return "(no failure)";
}

const double inf = std::numeric_limits<double>::infinity();

void inertia_sums() {
  Inertia light{4e-11, Vec3(1, 0, 0), Symmetric3{{1, 0, 1, 0, 0, 1}}};
  add_inertias_inplace(light, Inertia{5e-11, Vec3(0, 1, 0), Symmetric3{{2, 0, 2, 0, 0, 2}}});
  check(light.mass == 9e-11 && light.lever == Vec3(1, 0, 0) &&
            light.rotational.values == std::array<double, 6>{3, 0, 3, 0, 0, 3},
        "below the mass threshold masses and rotational inertias add, the lever stays");
}

void frame_type_text() {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "FrameType(0x0)"},
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

void integrate_internal_checks() {
  const std::pair<JointDimensions, const char*> cases[] = {
      {{2, 3}, "Planar joint requires nq>=4, got nq=2 at joint_id=1"},
      {{4, 2}, "Planar joint requires nv>=3, got nv=2 at joint_id=1"},
  };
  for (const auto& [sizes, message] : cases) {
    Joint joint = Joint::make(JointType::Planar, Vec3::Zero());
    joint.nq = sizes.nq;
    joint.nv = sizes.nv;
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

// Random spatial values; the rotations are orthonormal.
struct Random {
  std::mt19937_64 engine{7};
  double number() { return std::uniform_real_distribution<double>(-1.0, 1.0)(engine); }
  Vec3 vec3() { return {number(), number(), number()}; }
  Motion motion() { return {vec3(), vec3()}; }
  Force force() { return {vec3(), vec3()}; }
  SE3 se3() { return {Eigen::Quaterniond(number(), number(), number(), number()).normalized().matrix(), vec3()}; }
  Inertia inertia() {
    const Mat3 a = Mat3::Random();
    return {1.0 + number() * number(), vec3(), Symmetric3::from_matrix(a * a.transpose())};
  }
};

bool near(double a, double b) { return std::abs(a - b) <= 1e-12 * (1.0 + std::abs(a) + std::abs(b)); }
bool near(const Motion& a, const Motion& b) { return (a.angular - b.angular).norm() + (a.linear - b.linear).norm() < 1e-12; }
bool near(const Force& a, const Force& b) { return (a.angular - b.angular).norm() + (a.linear - b.linear).norm() < 1e-12; }
bool near(const Matrix6& a, const Matrix6& b) { return (a - b).cwiseAbs().maxCoeff() < 1e-12; }

// m x, linear-first: the product formula that the closed forms must match.
Matrix6 motion_cross_matrix(const Motion& m) {
  Matrix6 out = Matrix6::Zero();
  out.topLeftCorner<3, 3>() = out.bottomRightCorner<3, 3>() = skew(m.angular);
  out.topRightCorner<3, 3>() = skew(m.linear);
  return out;
}

void spatial_identities() {
  Random random;
  for (int trial = 0; trial < 20; ++trial) {
    const SE3 X = random.se3();
    const Motion m = random.motion(), m2 = random.motion();
    const Force f = random.force();
    const Inertia Y = random.inertia();
    check(near(dot(X.act(m), X.act(f)), dot(m, f)), "power is invariant under a transform");
    check(near(dot(X.act_inverse(m), X.act_inverse(f)), dot(m, f)), "power is invariant under an inverse transform");
    check(near(dot(m2, cross(m, f)), -dot(cross(m, m2), f)), "m x* is minus the transpose of m x");
    check(near(dot(m2, Y * m), dot(m, Y * m2)), "inertia times motion is symmetric");
    check(dot(m, Y * m) > 0.0, "a positive inertia has positive kinetic energy");
    check(near(X.act_inverse(X.act(m)), m) && near(X.act(X.act_inverse(m)), m), "motion transforms invert");
    check(near(X.act_inverse(X.act(f)), f) && near(X.act(X.act_inverse(f)), f), "force transforms invert");
    check(near(X.act(Y * m), se3_act_on_inertia(X, Y) * X.act(m)), "an inertia moves with its body");
    check(near(to_matrix6(se3_act_on_inertia(X.inverse(), se3_act_on_inertia(X, Y))), to_matrix6(Y)),
          "inertia transforms invert");
    check(near(apply(to_matrix6(Y), m), Y * m), "the 6 x 6 inertia matrix acts as the compact form");
    // Sums: two bodies in one frame act as their sum.
    const Inertia Y2 = random.inertia();
    Inertia sum = Y;
    add_inertias_inplace(sum, Y2);
    check(near(sum * m, Y * m + Y2 * m), "a sum of inertias acts as the sum of their actions");
    // Rates: the closed forms against their product formulas.
    const Matrix6 Y6 = to_matrix6(Y), mx = motion_cross_matrix(m);
    check(near(compute_inertia_variation(Y, m), -mx.transpose() * Y6 - Y6 * mx), "inertia variation closed form");
    Matrix6 momentum_cross = Matrix6::Zero();
    add_momentum_cross(momentum_cross, f);
    check(near(apply(momentum_cross, m2), cross(m2, f)), "momentum cross matrix acts as m x* f");
    check(near(Y.force_at(m, m2), Y * m2 + cross(m, Y * m)), "body force closed form");
    const Vector6 by_transpose = momentum_cross.transpose() * linear_first(m2);
    check(linear_first(apply_transpose(momentum_cross, m2)).isApprox(by_transpose),
          "apply_transpose uses the transpose");
  }
}

// A tree with every joint kind, interleaved branches and a massive body on a fixed joint.
Model every_kind_tree() {
  Random random;
  Model model = Model::create();
  const std::pair<size_t, JointType> joints[] = {
      {0, JointType::Floating}, {1, JointType::Revolute}, {1, JointType::Prismatic}, {2, JointType::Fixed},
      {3, JointType::Spherical}, {4, JointType::Continuous}, {5, JointType::Planar}, {4, JointType::Revolute}};
  for (const auto& [parent, type] : joints) {
    const size_t id = *add_joint(model, parent, Joint::make(type, random.vec3()), random.se3(), "j");
    model.inertias[id] = random.inertia();
  }
  return model;
}

// Distance in representable doubles; both of one sign here.
int64_t ulps_apart(double a, double b) {
  const auto bits = [](double x) { return std::bit_cast<int64_t>(std::fabs(x)); };
  return std::signbit(a) == std::signbit(b) ? std::abs(bits(a) - bits(b)) : INT64_MAX;
}

void sine_and_cosine() {
  Random random;
  const double half_pi = 0x1.921fb54442d18p+0;
  // Each range within an ulp of the C library's (correctly rounded nearly always).
  const std::pair<const char*, std::function<double()>> ranges[] = {
      {"a quarter turn", [&] { return random.number() * half_pi / 2; }},
      {"joint angles", [&] { return random.number() * 50.0; }},
      {"tiny angles", [&] { return std::ldexp(random.number(), -30 - int(random.engine() % 40)); }},
      {"near multiples of pi/2", [&] {
         double x = double(int64_t(random.engine() % 200000) - 100000) * half_pi;
         for (int k = int(random.engine() % 7); k > 0; --k) x = std::nextafter(x, 0.0);
         return x;
       }},
      {"up to 2^20", [&] { return random.number() * 0x1p20; }},
      {"beyond 2^20", [&] { return random.number() * 1e12; }},
  };
  for (const auto& [name, angle] : ranges) {
    int64_t worst = 0;
    for (int k = 0; k < 20000; ++k) {
      const double x = angle();
      const SinCos r = sin_cos(x);
      worst = std::max({worst, ulps_apart(r.sin, std::sin(x)), ulps_apart(r.cos, std::cos(x))});
    }
    check(worst <= 1, std::string("sine and cosine of ") + name + ": " + std::to_string(worst) + " ulps");
  }
  const SinCos zero = sin_cos(-0.0), infinite = sin_cos(inf), nan = sin_cos(std::nan(""));
  check(zero.sin == 0.0 && std::signbit(zero.sin) && zero.cos == 1.0, "sine and cosine of -0");
  check(std::isnan(infinite.sin) && std::isnan(infinite.cos) && std::isnan(nan.sin) && std::isnan(nan.cos),
        "sine and cosine of infinity and NaN");
}

void passes_allocate_nothing() {
  const Model model = every_kind_tree();
  Data data(model);
  const Vector q0 = neutral(model);
  const std::vector<double> q(q0.data(), q0.data() + model.nq);
  const std::vector<double> v(model.nv, 0.5), a(model.nv, -0.25);
  bool derived = true;
  const std::pair<const char*, std::function<void()>> passes[] = {
      {"forward kinematics", [&] { forward_kinematics(model, data, q); }},
      {"joint Jacobians", [&] { compute_joint_jacobians(model, data, q); }},
      {"Jacobian time variation", [&] { compute_joint_jacobians_time_variation(model, data, q, v); }},
      {"rnea", [&] { rnea(model, data, q, v, a); }},
      {"non-linear effects", [&] { non_linear_effects(model, data, q, v); }},
      {"gravity", [&] { compute_gravity(model, data, q); }},
      {"crba", [&] { crba(model, data, q); }},
      {"Coriolis matrix", [&] { compute_coriolis_matrix(model, data, q, v); }},
      {"all terms", [&] { compute_all_terms(model, data, q, v); }},
      {"aba", [&] { (void)aba(model, data, q, v, a); }},
      {"inverse mass matrix", [&] { (void)compute_minverse(model, data, q); }},
      {"rnea derivatives", [&] { rnea_derivatives(model, data, q, v, a); }},
      {"aba derivatives", [&] { derived = aba_derivatives(model, data, q, v, a).ok() && derived; }},
  };
  for (const auto& [name, pass] : passes) {
    pass();
    const size_t before = allocations;
    for (int k = 0; k < 10; ++k) pass();
    const bool none = allocations == before;  // before the message is built
    check(none, std::string(name) + " allocates nothing");
  }
  check(derived, "aba derivatives run to the end on a model that every joint can accelerate");
}

}  // namespace

// Released blocks come back tightest first, never more than twice too large,
// and only the newest kIdle are kept.
void result_blocks() {
  ResultBlocks blocks;
  const ResultBlocks::Block big = blocks.take(100), small = blocks.take(60);
  blocks.give_back(big);
  blocks.give_back(small);
  const ResultBlocks::Block tight = blocks.take(50);
  check(tight.values == small.values, "the tightest idle block is reused");
  const ResultBlocks::Block fresh = blocks.take(40);
  check(fresh.capacity == 40, "a block over twice the request is not handed out");
  blocks.give_back(fresh);
  blocks.give_back(tight);
  const ResultBlocks::Block after = blocks.take(90);
  check(after.capacity == 90, "beyond two idle blocks the oldest is freed");
  blocks.give_back(after);
}

int main() {
  inertia_sums();
  frame_type_text();
  position_limits();
  integrate_internal_checks();
  spatial_identities();
  sine_and_cosine();
  result_blocks();
  passes_allocate_nothing();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
