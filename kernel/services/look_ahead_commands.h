// How far ahead the set-points run: the fill level of the driver's ring
// and the drives' own buffer depth, normal or enlarged, for the normal or
// the teach-in pair; and which of the two is in force.
#pragma once

#include <cstdint>

#include "kernel/core/cnc_configuration.h"
#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

struct FillPair {
  std::uint16_t fillLevel = 0;
  std::uint16_t driveBufferDepth = 0;
  bool operator==(const FillPair&) const = default;
};

// The configured pair. Enlarged, the normal pair takes the largest levels
// a configuration may have, and the teach-in pair the configured normal
// levels, the largest that the teach-in pair may have.
FillPair ConfiguredFillPair(const SetPointFill& configured, bool teach) noexcept;
FillPair EnlargedFillPair(const SetPointFill& configured, bool teach) noexcept;

AfterCommand HandleChangeLookAheadBuffer(Kernel& kernel);
AfterCommand HandleGetLookAheadBufferStatus(Kernel& kernel);

}  // namespace vantor::kernel
