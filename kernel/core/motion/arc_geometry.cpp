#include "kernel/core/motion/arc_geometry.h"

#include <cmath>
#include <numbers>

#include "kernel/core/motion/tolerances.h"

namespace vantor::motion {

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
}  // namespace

double PointAngle(double r, double dx, double dy) noexcept {
  const double ax = std::fabs(dx);
  const double ay = std::fabs(dy);
  if (dy > 0.0 && (ay >= r || ax <= kNegligibleMagnitude)) return kPi / 2.0;
  if (dy < 0.0 && (ay >= r || ax <= kNegligibleMagnitude)) return 3.0 * kPi / 2.0;
  if (dx > 0.0 && (ax >= r || ay <= kNegligibleMagnitude)) return 0.0;
  if (dx < 0.0 && (ax >= r || ay <= kNegligibleMagnitude)) return kPi;
  if (!(r > 0.0)) return 0.0;
  const double g = std::asin(std::fmin(ay / r, 1.0));
  if (dx >= 0.0 && dy >= 0.0) return g;
  if (dx < 0.0 && dy >= 0.0) return kPi - g;
  if (dx < 0.0) return kPi + g;
  return kTwoPi - g;
}

double ArcSweep(bool decreasing, double tolerance, double phi0, double phi1) noexcept {
  const double d = phi1 - phi0;
  if (std::fabs(d) <= tolerance || std::fabs(std::fabs(d) - kTwoPi) <= tolerance) return kTwoPi;
  if (phi0 > phi1) return decreasing ? -d : d + kTwoPi;
  return decreasing ? kTwoPi - d : d;
}

double AdvanceAngle(bool decreasing, double a, double b) noexcept {
  return decreasing ? b - a : a + b;
}

}  // namespace vantor::motion
