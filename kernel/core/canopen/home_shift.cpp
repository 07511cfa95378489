#include "kernel/core/canopen/home_shift.h"

#include <cmath>

namespace vantor::canopen {

HomeShiftSplit SplitHomeShift(double shift, std::uint32_t numerator, std::uint32_t denominator,
                              std::int32_t remainder) noexcept {
  if (numerator == 0 || denominator == 0 || !std::isfinite(shift)) return {};
  const double scaled = shift * numerator + remainder;
  // Held to the drive's range; the caller's range check keeps it inside.
  const double whole =
      std::fmin(std::fmax(std::trunc(scaled / denominator), -2147483647.0), 2147483647.0);
  HomeShiftSplit split;
  split.increments = static_cast<std::int32_t>(whole);
  split.remainder = static_cast<std::int32_t>(scaled - whole * denominator);
  split.applied = whole * denominator / numerator;
  return split;
}

}  // namespace vantor::canopen
