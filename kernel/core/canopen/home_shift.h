// A home shift in position units split into whole drive increments, the
// increments below one kept for the next shift so that repeated small
// shifts add up exactly.
#pragma once

#include <cstdint>

namespace vantor::canopen {

struct HomeShiftSplit {
  std::int32_t increments = 0;  // what the drive is given now
  std::int32_t remainder = 0;   // in numerator units, kept for the next shift
  double applied = 0.0;         // the position units `increments` stand for
};

// `shift` x numerator + `remainder`, divided by the denominator and
// truncated toward zero; the rest (of the same sign) is the new remainder.
// The caller has refused a zero numerator or denominator and a shift whose
// increments leave the 32-bit range.
HomeShiftSplit SplitHomeShift(double shift, std::uint32_t numerator, std::uint32_t denominator,
                              std::int32_t remainder) noexcept;

}  // namespace vantor::canopen
