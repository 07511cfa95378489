#include "kernel/services/configuration_commands.h"

#include <array>
#include <cmath>

#include "kernel/core/axis_exchange.h"
#include "kernel/core/kernel_guards.h"
#include "kernel/core/motion/wire_values.h"
#include "kernel/core/node_status.h"
#include "kernel/services/axis_command_support.h"
#include "kernel/services/timer_periods.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using common::StatusCode;
using G = MotionGuard;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

void PutWord(const Kernel& kernel, std::size_t offset, std::uint32_t value) {
  static_cast<void>(kernel.Block().Store<std::uint32_t>(cb::PayloadAt(offset), value));
}

void ClearPayload(const Kernel& kernel, std::size_t bytes) {
  for (std::size_t at = 0; at < bytes; at += sizeof(std::uint32_t)) PutWord(kernel, at, 0);
}

AfterCommand Answer(Kernel& kernel, StatusCode result) {
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

// ---- Code 46 ------------------------------------------------------------------------------
// Eight leading words 1, the node count, the interpolated count, then one
// 32-byte entry per possible axis.
namespace summary {
constexpr std::size_t kLeadingWords = 8;
constexpr std::size_t kNodeCount = 32;
constexpr std::size_t kInterpolatedCount = 36;
constexpr std::size_t kFirstEntry = 40;
constexpr std::size_t kEntrySize = 32;
constexpr std::size_t kEntries = 8;
constexpr std::size_t kSize = kFirstEntry + kEntries * kEntrySize;
static_assert(kSize == 296);
}  // namespace summary

StatusCode GetConfiguration(Kernel& kernel) {
  return UnderKernelLock(kernel, ResetGate::Skip, {}, [&](KernelData& data) {
    ClearPayload(kernel, summary::kSize);
    for (std::size_t i = 0; i < summary::kLeadingWords; ++i) PutWord(kernel, 4 * i, 1);
    const std::uint32_t nodes = data.nodeConfiguration.BoundedNodeCount();
    const std::uint32_t coordinates = ConfiguredCoordinateCount(data);
    PutWord(kernel, summary::kNodeCount, nodes);
    PutWord(kernel, summary::kInterpolatedCount, data.nodeConfiguration.interpolatedNodeCount);
    for (std::uint32_t i = 0; i < summary::kEntries; ++i) {
      const std::size_t entry = summary::kFirstEntry + i * summary::kEntrySize;
      PutWord(kernel, entry, i < nodes ? 1 : 0);
      PutWord(kernel, entry + 4, i < coordinates && data.coordinates[i].settings.linear != 0);
    }
    return common::kKernelSuccess;
  });
}

// ---- Codes 55, 56 -------------------------------------------------------------------------
// The path ramp: path acceleration, single rotary acceleration, path jerk,
// single rotary jerk, one interface value each.
constexpr std::array<double motion::PathParameters::*, 4> kRampValues = {
    &motion::PathParameters::pathAccelerationLimit,
    &motion::PathParameters::singleRotaryAccelerationLimit,
    &motion::PathParameters::pathJerkLimit,
    &motion::PathParameters::singleRotaryJerkLimit,
};
constexpr std::size_t kWireValueSize = 8;

StatusCode GetRamp(Kernel& kernel) {
  return UnderKernelLock(kernel, ResetGate::Check, {}, [&](KernelData& data) {
    for (std::size_t i = 0; i < kRampValues.size(); ++i) {
      PutPayloadWireValue(kernel, i * kWireValueSize, data.motion.path.*kRampValues[i]);
    }
    return common::kKernelSuccess;
  });
}

StatusCode SetRamp(Kernel& kernel) {
  return UnderKernelLock(kernel, ResetGate::Check, kSettingChangeGuards, [&](KernelData& data) {
    std::array<std::int64_t, kRampValues.size()> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i] = PayloadWireValue(kernel, i * kWireValueSize);
      if (values[i] < 0) return common::kKernelRampParameterInvalid;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
      data.motion.path.*kRampValues[i] = motion::WireValueToReal(values[i]);
    }
    return common::kKernelSuccess;
  });
}

// ---- Code 58 ------------------------------------------------------------------------------
bool IsRotationalPathCoordinate(const CoordinateSettings& coordinate) {
  return coordinate.linear == 0 && coordinate.onPath != 0;
}

StatusCode SetCylinderParameter(Kernel& kernel) {
  const auto index = static_cast<std::int32_t>(PayloadWord(kernel, 0));
  const double radius = motion::WireValueToReal(PayloadWireValue(kernel, 8));
  return UnderKernelLock(kernel, ResetGate::Check, kSettingChangeGuards, [&](KernelData& data) {
    if (data.planeRotation.IsOn()) return common::kKernelPlaneRotationActive;
    const std::uint32_t coordinates = ConfiguredCoordinateCount(data);
    for (std::uint32_t i = 0; i < coordinates; ++i) {
      if (IsRotationalPathCoordinate(data.coordinates[i].settings)) {
        return common::kKernelCylinderModeActive;
      }
    }
    if (index < 0 || static_cast<std::uint32_t>(index) >= coordinates) {
      return common::kKernelCylinderParameterInvalid;
    }
    const CoordinateSettings& coordinate = data.coordinates[index].settings;
    if (coordinate.linear != 0 || radius < 0.0 || (coordinate.onPath != 0 && radius == 0.0)) {
      return common::kKernelCylinderParameterInvalid;
    }
    data.planning.cylinderRadii[static_cast<std::size_t>(index)] = radius;
    return common::kKernelSuccess;
  });
}

// ---- Code 72 ------------------------------------------------------------------------------
constexpr MotionGuard kExchangeGuards[] = {
    G::CycleRunning, G::BusInOrder, G::SyncInOrder, G::PeripheryPdoInOrder, G::NoBreak,
    G::NoQuickStop,  G::NodesReady, G::NoMotion,    G::NoPathModeOrStart,   G::NoHandwheel,
};

// An interpolated axis with its node, and none of the rotated plane's two
// while the plane is rotated.
bool IsExchangeableAxis(const KernelData& data, std::uint32_t axis) {
  const NodeConfiguration& nodes = data.nodeConfiguration;
  if (axis >= nodes.interpolatedNodeCount || nodes.Node(axis) == nullptr) return false;
  const motion::PlaneRotation& rotation = data.planeRotation;
  const auto index = static_cast<std::int64_t>(axis);
  return !rotation.IsOn() || (index != rotation.axisA && index != rotation.axisB);
}

StatusCode ExchangeInterpolatedAxes(Kernel& kernel) {
  const std::uint32_t a = PayloadWord(kernel, 0);
  const std::uint32_t b = PayloadWord(kernel, 4);
  return UnderKernelLock(kernel, ResetGate::Check, kExchangeGuards, [&](KernelData& data) {
    if (a == b || !IsExchangeableAxis(data, a) || !IsExchangeableAxis(data, b)) {
      return common::kKernelAxisNumberInvalid;
    }
    ExchangeAxes(data, a, b);
    return common::kKernelSuccess;
  });
}

// ---- Code 63 ------------------------------------------------------------------------------
StatusCode SetTestMode(Kernel& kernel) {
  const bool on = PayloadWord(kernel, 0) != 0;
  return UnderKernelLock(kernel, ResetGate::Skip, {}, [&](KernelData& data) {
    data.state.testMode = on ? 1 : 0;
    return common::kKernelSuccess;
  });
}

// ---- Code 84 ------------------------------------------------------------------------------
constexpr MotionGuard kHomedFlagGuards[] = {
    G::NoMotionStop,
    G::NoPathModeOrStart,
    G::NoMotionOrHandlingMove,
    G::NoDistanceControl,
};

StatusCode ResetReferenceFlags(Kernel& kernel) {
  const canopen::NodeMask mask = PayloadWord(kernel, 0);
  if (const StatusCode refused = CheckCanState(kernel.data); Failed(refused)) return refused;
  return UnderKernelLock(kernel, ResetGate::Check, kHomedFlagGuards, [&](KernelData& data) {
    NodeConfiguration& nodes = data.nodeConfiguration;
    // Bits beyond the node table name no axis.
    for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
      NodeObject* node = nodes.Node(i);
      if ((mask >> i & 1u) == 0 || node == nullptr) continue;
      node->can->SetFlagInBothRows(StatusFlag::D, false);
    }
    return common::kKernelSuccess;
  });
}

// ---- Codes 85, 86 -------------------------------------------------------------------------
// Three override sets of velocity, acceleration and jerk factor, as
// percentages one word each.
constexpr std::size_t kOverrideFactors = 9;
constexpr double kPercent = 0.01;
constexpr std::uint32_t kSmallestOverridePercent = 5;
constexpr std::uint32_t kLargestOverridePercent = 100;

namespace axis_ramp {
constexpr std::size_t kOverridesSet = 4;
constexpr std::size_t kLimits = 8;
constexpr std::size_t kFactors = 20;
}  // namespace axis_ramp

// Node i's limits and overrides are kept with coordinate i.
static_assert(canopen::kMaxNodes <= motion::kMaxCoordinates);

double& OverrideFactor(motion::NodeLimits& limits, std::size_t k) {
  motion::RampOverride& set = limits.overrides[k / 3];
  switch (k % 3) {
    case 0:
      return set.velocityFactor;
    case 1:
      return set.accelerationFactor;
    default:
      return set.jerkFactor;
  }
}

std::uint32_t TruncatedLimit(double value) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::trunc(value)));
}

StatusCode GetAxisRamp(Kernel& kernel) {
  const std::uint32_t axis = PayloadWord(kernel, 0);
  return UnderKernelLock(kernel, ResetGate::Check, {}, [&](KernelData& data) {
    if (axis >= data.nodeConfiguration.BoundedNodeCount()) {
      return common::kKernelAxisNumberInvalid;
    }
    motion::NodeLimits& limits = data.planning.nodeLimits[axis];
    PutWord(kernel, axis_ramp::kOverridesSet, data.planning.rampOverridesSet[axis]);
    PutWord(kernel, axis_ramp::kLimits, TruncatedLimit(limits.maxVelocity));
    PutWord(kernel, axis_ramp::kLimits + 4, TruncatedLimit(limits.maxAcceleration));
    PutWord(kernel, axis_ramp::kLimits + 8, TruncatedLimit(limits.maxJerk));
    for (std::size_t k = 0; k < kOverrideFactors; ++k) {
      // A tenth of a percent lifts a factor stored a little below its value.
      const double percent = OverrideFactor(limits, k) / kPercent + 0.1;
      PutWord(kernel, axis_ramp::kFactors + 4 * k, TruncatedLimit(percent));
    }
    return common::kKernelSuccess;
  });
}

StatusCode SetAxisRampOverride(Kernel& kernel) {
  const std::uint32_t axis = PayloadWord(kernel, 0);
  std::array<std::uint32_t, kOverrideFactors> percents{};
  for (std::size_t k = 0; k < percents.size(); ++k) percents[k] = PayloadWord(kernel, 4 + 4 * k);
  return UnderKernelLock(kernel, ResetGate::Check, kSettingChangeGuards, [&](KernelData& data) {
    const NodeConfiguration& nodes = data.nodeConfiguration;
    if (axis >= nodes.interpolatedNodeCount || axis >= nodes.BoundedNodeCount()) {
      return common::kKernelAxisNumberInvalid;
    }
    for (const std::uint32_t percent : percents) {
      if (percent < kSmallestOverridePercent || percent > kLargestOverridePercent) {
        return common::kKernelRampParameterInvalid;
      }
    }
    motion::NodeLimits& limits = data.planning.nodeLimits[axis];
    for (std::size_t k = 0; k < percents.size(); ++k) {
      OverrideFactor(limits, k) = percents[k] * kPercent;
    }
    data.planning.rampOverridesSet[axis] = 1;
    return common::kKernelSuccess;
  });
}

}  // namespace

AfterCommand HandleGetConfiguration(Kernel& kernel) {
  return Answer(kernel, GetConfiguration(kernel));
}
AfterCommand HandleGetRamp(Kernel& kernel) { return Answer(kernel, GetRamp(kernel)); }
AfterCommand HandleSetRamp(Kernel& kernel) { return Answer(kernel, SetRamp(kernel)); }
AfterCommand HandleSetCylinderPar(Kernel& kernel) {
  return Answer(kernel, SetCylinderParameter(kernel));
}
AfterCommand HandleSetTestMode(Kernel& kernel) { return Answer(kernel, SetTestMode(kernel)); }
AfterCommand HandleExchangeInterAxis(Kernel& kernel) {
  return Answer(kernel, ExchangeInterpolatedAxes(kernel));
}

// No lock and no CNC mode: the resolutions belong to the kernel process.
AfterCommand HandleSetCncTimeLimitation(Kernel& kernel) {
  const bool pathMode = kernel.data.state.pathMode != 0;
  return Answer(kernel, ChangeTimerResolutions(kernel.settings, PayloadWord(kernel, 0),
                                               PayloadWord(kernel, 4), pathMode));
}
AfterCommand HandleResetReferenceFlag(Kernel& kernel) {
  return Answer(kernel, ResetReferenceFlags(kernel));
}
AfterCommand HandleGetAxisRamp(Kernel& kernel) { return Answer(kernel, GetAxisRamp(kernel)); }
AfterCommand HandleSetAxisRampOverride(Kernel& kernel) {
  return Answer(kernel, SetAxisRampOverride(kernel));
}

}  // namespace vantor::kernel
