#include "kernel/core/motion/braking_solver.h"

#include <cmath>
#include <numbers>

#include "kernel/core/motion/numeric.h"

namespace vantor::motion {

namespace {

// Braking without a constant-deceleration phase: solves the cubic of the
// distance for the two end velocities.
std::optional<BrakingVelocities> CubicSolution(double J, double v, double d) noexcept {
  const double longest = std::sqrt(MaxOf(v, 0.0) / J) * std::sqrt(32.0 / 27.0) * v;
  if (longest < d) return std::nullopt;
  if (longest == d) return BrakingVelocities{v / 3.0, v / 3.0};
  const double k = std::sqrt(v * 8.0 / 27.0) * v;
  if (k <= 0.0) return BrakingVelocities{v, v};
  const double c = -std::sqrt(J) * d / (2.0 * k);
  const double phi = c >= 1.0 ? 0.0 : (c <= -1.0 ? std::numbers::pi : std::acos(c));
  const double scale = 2.0 * CubeRoot(k);
  const double x1 = MaxOf(scale * std::cos(phi / 3.0), 0.0);
  const double x2 = MaxOf(scale * std::cos(phi / 3.0 + 4.0 * std::numbers::pi / 3.0), 0.0);
  const double first = v - x1 * x1;
  const double second = v - x2 * x2;
  return BrakingVelocities{MinOf(first, second), MaxOf(first, second)};
}

// Braking with a constant-deceleration phase.
std::optional<BrakingVelocities> TrapezoidSolution(double J, double A, double v,
                                                   double d) noexcept {
  const double e = (A / (4.0 * J) + v / (2.0 * A)) * (A * A / (2.0 * J) + v) - d;
  if (e < 0.0) return std::nullopt;
  const double middle = A * A / (2.0 * J);
  const double w = std::sqrt(2.0 * A * e);
  return BrakingVelocities{middle - w, middle + w};
}

}  // namespace

std::optional<BrakingVelocities> SolveBrakingVelocities(double J, double A, double v,
                                                        double d) noexcept {
  if (!IsPositiveFinite(J) || !IsPositiveFinite(A) || !std::isfinite(v) || !std::isfinite(d)) {
    return std::nullopt;
  }
  const double q = v - A * A / J;
  if (q >= A * A / (2.0 * J)) {
    auto solution = TrapezoidSolution(J, A, v, d);
    if (!solution) return std::nullopt;
    if (q < solution->upper) {
      if (const auto cubic = CubicSolution(J, v, d)) solution->upper = cubic->upper;
    }
    return solution;
  }
  if (q < 0.0) return CubicSolution(J, v, d);
  auto solution = CubicSolution(J, v, d);
  if (!solution) return std::nullopt;
  if (q >= solution->lower) {
    if (const auto trapezoid = TrapezoidSolution(J, A, v, d)) solution->lower = trapezoid->lower;
  }
  return solution;
}

}  // namespace vantor::motion
