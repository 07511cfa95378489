#include "kernel/core/velocity_output_control.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "kernel/core/kernel_locks.h"
#include "kernel/core/velocity_output.h"

namespace vantor::kernel {

namespace {

std::int32_t RoundedWord(double value) noexcept {
  if (std::isnan(value)) return 0;
  const double clamped =
      std::clamp(std::round(value), double{std::numeric_limits<std::int32_t>::min()},
                 double{std::numeric_limits<std::int32_t>::max()});
  return static_cast<std::int32_t>(clamped);
}

void StopWithoutChecks(KernelData& data, canopen::CanObjectList& canObjects) noexcept {
  VelocityOutput& output = data.velocityOutput;
  data.state.velocityOutputActive = 0;
  static_cast<void>(canopen::RemoveCanObject(canopen::KeepEntry::No, output.cobId, canObjects));
  canopen::KernelCanObjects& owners = canObjects.kernelObjects;
  owners.velocityOutputOn = 0;
  owners.velocityOutputCobId = 0;
  owners.velocityOutputValue = nullptr;
  owners.velocityOutputContext = nullptr;
  data.motion.fill.fillLevel = output.savedFillLevel;
  output = VelocityOutput{};
  data.velocityOutputBookkeeping = VelocityOutputBookkeeping{};
}

}  // namespace

common::StatusCode StartVelocityOutput(const VelocityOutputStart& start, KernelData& data,
                                       canopen::CanObjectList& canObjects) noexcept {
  canopen::CanObjectParameters object;
  object.direction = start.direction;
  object.guarding = start.guarding;
  object.nodeId = start.nodeId;
  object.cobId = start.cobId;
  object.length = static_cast<std::uint8_t>(start.dataLength);
  object.compare = start.compare;
  object.mask = start.mask;
  object.expected = start.expected;
  object.answerTimeout = static_cast<std::int32_t>(start.answerTimeout);
  object.period = static_cast<std::int32_t>(start.period);
  if (canopen::AppendCanObject(canObjects, object) == nullptr) {
    return common::kKernelOutOfResources;
  }

  VelocityOutput& output = data.velocityOutput;
  output = VelocityOutput{};
  output.savedFillLevel = data.motion.fill.fillLevel;
  output.mode = static_cast<std::uint16_t>(start.mode);
  output.gain = 1.0;
  output.divisor = 1.0;
  output.offset = 0.0;
  output.delayMicroseconds = start.delayMicroseconds;
  output.dataLength = static_cast<std::uint8_t>(start.dataLength);
  output.cobId = start.cobId;
  data.motion.fill.fillLevel = DelayInCycles(start.delayMicroseconds, data.motion.path.cycleTime);

  canopen::KernelCanObjects& owners = canObjects.kernelObjects;
  owners.velocityOutputOn = 1;
  owners.velocityOutputCobId = start.cobId;
  owners.velocityOutputValue = VelocityOutputValueOf;
  owners.velocityOutputContext = &output;
  data.state.velocityOutputActive = 1;
  return common::kKernelSuccess;
}

void StopVelocityOutput(KernelData& data, canopen::CanObjectList& canObjects) noexcept {
  if (data.state.velocityOutputActive == 0) return;
  StopWithoutChecks(data, canObjects);
}

void StopVelPropOutput(KernelData& data, canopen::CanObjectList& canObjects) noexcept {
  // Only the server thread sets or clears the flag, so it may look first
  // and leave the locks alone, which the failed initialisations that free
  // the node objects never made.
  if (data.state.velocityOutputActive == 0) return;
  KernelDataAndObjectListLock lock(data);
  if (data.state.velocityOutputActive == 0 || data.state.resetPending != 0) return;
  StopWithoutChecks(data, canObjects);
}

void SetVelocityOutputParameters(const VelocityOutputParameters& parameters, KernelData& data,
                                 canopen::CanObjectList& canObjects) noexcept {
  if (parameters.divisor == 0) return;
  VelocityOutput& output = data.velocityOutput;
  if (canopen::CanObjectEntry* entry = canopen::FindCanObject(output.cobId, canObjects)) {
    entry->active = parameters.enable != 0 ? 1 : 0;
  }
  output.gain = parameters.gain;
  output.divisor = parameters.divisor;
  output.offset = parameters.offset;
  output.effectiveDelay = std::min(parameters.delayMicroseconds, output.delayMicroseconds);
  output.delayCycles = DelayInCycles(output.effectiveDelay, data.motion.path.cycleTime);
}

VelocityOutputState ReadVelocityOutput(const KernelData& data,
                                       const canopen::CanObjectList& canObjects) noexcept {
  const double cycleTime = data.motion.path.cycleTime;
  VelocityOutputState state;
  state.largestDelayMicroseconds = LargestVelocityOutputDelay(cycleTime);
  state.smallestDelayMicroseconds =
      SmallestVelocityOutputDelay(data.savedConfiguration.motion.fill.fillLevel, cycleTime);
  if (data.state.velocityOutputActive == 0) return state;
  const VelocityOutput& output = data.velocityOutput;
  state.active = 1;
  state.mode = output.mode;
  state.delayMicroseconds = output.delayMicroseconds;
  const canopen::CanObjectEntry* entry = canopen::FindCanObject(output.cobId, canObjects);
  state.enable = entry != nullptr ? entry->active : 0;
  state.gain = RoundedWord(output.gain);
  state.divisor = RoundedWord(output.divisor);
  state.offset = RoundedWord(output.offset);
  state.effectiveDelay = output.effectiveDelay;
  return state;
}

}  // namespace vantor::kernel
