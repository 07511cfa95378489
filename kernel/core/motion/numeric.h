// Small numeric helpers shared by the velocity profile, the ramp and the
// segment preparation. Their tie rules are part of the planning: callers
// rely on which operand wins when both are equal.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "kernel/core/motion/tolerances.h"

namespace vantor::motion {

// The first operand on ties.
constexpr double MinOf(double a, double b) noexcept { return a <= b ? a : b; }
constexpr double MinOf3(double a, double b, double c) noexcept { return MinOf(MinOf(a, b), c); }

// The second operand on ties.
constexpr double MaxOf(double a, double b) noexcept { return a > b ? a : b; }

// The operand of larger magnitude, the second on ties.
inline double LargerMagnitude(double a, double b) noexcept {
  return std::fabs(b) >= std::fabs(a) ? b : a;
}

// Real cube root, defined for negative arguments as well.
inline double CubeRoot(double x) noexcept { return std::cbrt(x); }

// Square root whose radicand is clamped at 0, so rounding just below zero
// never turns into NaN.
inline double ClampedSqrt(double x) noexcept { return x > 0.0 ? std::sqrt(x) : 0.0; }

inline bool IsNegligible(double x) noexcept { return std::fabs(x) < kNegligibleMagnitude; }

// x when its magnitude counts, else exactly 0.
inline double ZeroIfNegligible(double x) noexcept { return IsNegligible(x) ? 0.0 : x; }

// True for a finite value above zero: every limit, gain and cycle time must
// be one before anything is planned with it.
inline bool IsPositiveFinite(double x) noexcept { return std::isfinite(x) && x > 0.0; }

// The nearest int32 of a finite value inside the int32 range, else nothing.
inline std::optional<std::int32_t> RoundToInt32(double x) noexcept {
  if (!std::isfinite(x)) return std::nullopt;
  const double rounded = std::round(x);
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return std::nullopt;
  return static_cast<std::int32_t>(rounded);
}

}  // namespace vantor::motion
