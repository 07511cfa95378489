// The result code of a module state that refuses motion, as the path
// commands report it.
#pragma once

#include <cstdint>

#include "common/status_code.h"

namespace vantor::canopen {

constexpr common::StatusCode MapModuleStateError(std::uint32_t moduleState) noexcept {
  switch (moduleState) {
    case 2:
      return common::kKernelMovementDataInvalid;
    case 3:
      return common::kKernelSoftwareLimitViolated;
    case 4:
      return common::kKernelAxisLimitExceeded;
    case 5:
      return common::kKernelCylinderModeActive;
    default:
      return common::kKernelSuccess;
  }
}

static_assert(MapModuleStateError(2) == 0xC9130021);
static_assert(MapModuleStateError(3) == 0xC913001F);
static_assert(MapModuleStateError(4) == 0xC9130020);
static_assert(MapModuleStateError(5) == 0xC913002D);
static_assert(MapModuleStateError(1) == 0x09130000);

}  // namespace vantor::canopen
