#include "types/inertia.hpp"

namespace kavrel {

namespace {
// Rotational inertia of a point mass m at offset d: m (|d|^2 E - d d^T).
std::array<double, 6> point_mass_term(double m, const Vec3& d) {
  double n2 = d.squaredNorm();
  return {m * (n2 - d.x() * d.x()), -m * d.y() * d.x(), m * (n2 - d.y() * d.y()),
          -m * d.z() * d.x(),       -m * d.z() * d.y(), m * (n2 - d.z() * d.z())};
}
}  // namespace

void add_inertias_inplace(Inertia& into, const Inertia& other) {
  const double m = into.mass + other.mass;
  // Too light for a centre of mass: keep the lever, but never drop rotational
  // inertia (a NaN total does not take this exit).
  if (m < kMassThreshold) {
    for (int k = 0; k < 6; ++k) into.rotational.values[k] += other.rotational.values[k];
    into.mass = m;
    return;
  }
  Vec3 c = (other.mass * other.lever + into.mass * into.lever) / m;
  auto t1 = point_mass_term(into.mass, into.lever - c);
  auto t2 = point_mass_term(other.mass, other.lever - c);
  for (int k = 0; k < 6; ++k)
    into.rotational.values[k] = into.rotational.values[k] + t1[k] + other.rotational.values[k] + t2[k];
  into.mass = m;
  into.lever = c;
}

}  // namespace kavrel
