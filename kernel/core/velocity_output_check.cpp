#include "kernel/core/velocity_output_check.h"

#include <cmath>

#include "kernel/core/canopen/can_object_admission.h"
#include "kernel/core/velocity_output.h"

namespace vantor::kernel {

namespace {

constexpr std::uint32_t kModeOne = 1;
constexpr std::uint32_t kModeTwo = 2;
// The object list counts its times in signed 32-bit words.
constexpr std::uint32_t kLongestTime = 0x7FFFFFFF;

bool IsTime(std::uint32_t value) noexcept { return value >= 1 && value <= kLongestTime; }

}  // namespace

std::uint32_t LargestVelocityOutputDelay(double cycleTimeSeconds) noexcept {
  return CyclesInMicroseconds(kMaxDelayCycles, cycleTimeSeconds);
}

std::uint32_t SmallestVelocityOutputDelay(std::uint16_t fillLevel,
                                          double cycleTimeSeconds) noexcept {
  return CyclesInMicroseconds(fillLevel, cycleTimeSeconds);
}

std::uint32_t CheckVelPropOutputParams(const VelocityOutputStart& start,
                                       const VelocityOutputContext& context) noexcept {
  if (!std::isfinite(context.cycleTimeSeconds) || context.cycleTimeSeconds <= 0.0) return 0;
  if (context.nodes == nullptr || context.canObjects == nullptr) return 0;
  if (start.mode != kModeOne && start.mode != kModeTwo) return 0;
  if (start.delayMicroseconds > LargestVelocityOutputDelay(context.cycleTimeSeconds)) return 0;
  if (start.delayMicroseconds <
      SmallestVelocityOutputDelay(context.fillLevel, context.cycleTimeSeconds)) {
    return 0;
  }
  if (start.guarding != 0 || start.direction == 0) return 0;
  if (!IsTime(start.period) || !IsTime(start.answerTimeout)) return 0;
  if (start.dataLength < kMinVelocityOutputLength || start.dataLength > kMaxVelocityOutputLength) {
    return 0;
  }
  if (canopen::IsUserCobIdFree(start.guarding, start.nodeId, start.cobId, *context.nodes,
                               *context.canObjects) == 0) {
    return 0;
  }
  if (context.handwheel != nullptr && context.handwheel->linked != 0 &&
      context.handwheel->nodeId == start.nodeId) {
    return 0;
  }
  return 1;
}

}  // namespace vantor::kernel
