#include "kernel/services/software_limit_commands.h"

#include "kernel/core/motion/path_motion.h"
#include "kernel/core/motion/path_segment.h"
#include "kernel/core/motion/wire_values.h"
#include "kernel/services/axis_command_support.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using common::StatusCode;
using G = MotionGuard;

// +0 the enable mask, then the eight negative and the eight positive limits.
constexpr std::size_t kNegativeLimits = 8;
constexpr std::size_t kPositiveLimits = 72;
constexpr std::size_t kWireValueSize = 8;

constexpr MotionGuard kEnableGuards[] = {
    G::CycleRunning, G::BusInOrder,  G::SyncInOrder, G::PeripheryPdoInOrder,
    G::NoBreak,      G::NoQuickStop, G::NodesReady,
};

AfterCommand Answer(Kernel& kernel, StatusCode result) {
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

bool MaskHas(std::uint32_t mask, std::uint32_t i) { return (mask >> i & 1u) != 0; }

// The coordinate's limits as the interpolation watches them.
void TakeLimitsIntoPath(KernelData& data, std::uint32_t i) {
  const CoordinateSettings& settings = data.coordinates[i].settings;
  motion::PathAxis& axis = data.motionRuntime.path.axes[i];
  axis.limitsEnabled = settings.limitsEnabled != 0;
  axis.lowerLimit = settings.negativeLimit;
  axis.upperLimit = settings.positiveLimit;
}

StatusCode GetLimits(Kernel& kernel) {
  return UnderKernelLock(kernel, ResetGate::Skip, {}, [&](KernelData& data) {
    std::uint32_t mask = 0;
    for (std::uint32_t i = 0; i < ConfiguredCoordinateCount(data); ++i) {
      const CoordinateSettings& settings = data.coordinates[i].settings;
      if (settings.limitsEnabled != 0) mask |= 1u << i;
      PutPayloadWireValue(kernel, kNegativeLimits + kWireValueSize * i, settings.negativeLimit);
      PutPayloadWireValue(kernel, kPositiveLimits + kWireValueSize * i, settings.positiveLimit);
    }
    static_cast<void>(kernel.Block().Store<std::uint32_t>(cb::PayloadAt(0), mask));
    return common::kKernelSuccess;
  });
}

// A limit given as the keep marker stays as stored; the pair in force
// afterwards must be ordered.
struct LimitPair {
  std::int64_t negative = 0;
  std::int64_t positive = 0;
};

bool IsKept(std::int64_t value) { return value == common::kNoMoveWireValue; }

LimitPair LimitsInForce(const LimitPair& given, const CoordinateSettings& stored) {
  return {IsKept(given.negative) ? motion::RealToWireValue(stored.negativeLimit) : given.negative,
          IsKept(given.positive) ? motion::RealToWireValue(stored.positiveLimit) : given.positive};
}

StatusCode SetLimits(Kernel& kernel) {
  return UnderKernelLock(kernel, ResetGate::Check, kSettingChangeGuards, [&](KernelData& data) {
    const std::uint32_t coordinates = ConfiguredCoordinateCount(data);
    std::array<LimitPair, motion::kMaxCoordinates> given{};
    for (std::uint32_t i = 0; i < coordinates; ++i) {
      given[i] = {PayloadWireValue(kernel, kNegativeLimits + kWireValueSize * i),
                  PayloadWireValue(kernel, kPositiveLimits + kWireValueSize * i)};
      // Both kept is a pair of equal limits.
      if (IsKept(given[i].negative) && IsKept(given[i].positive)) {
        return common::kKernelSoftwareLimitParameterInvalid;
      }
      const LimitPair inForce = LimitsInForce(given[i], data.coordinates[i].settings);
      if (inForce.negative >= inForce.positive) {
        return common::kKernelSoftwareLimitParameterInvalid;
      }
    }
    const std::uint32_t mask = PayloadWord(kernel, 0);
    for (std::uint32_t i = 0; i < coordinates; ++i) {
      CoordinateSettings& settings = data.coordinates[i].settings;
      settings.limitsEnabled = MaskHas(mask, i) ? 1 : 0;
      if (!IsKept(given[i].negative)) {
        settings.negativeLimit = motion::WireValueToReal(given[i].negative);
      }
      if (!IsKept(given[i].positive)) {
        settings.positiveLimit = motion::WireValueToReal(given[i].positive);
      }
      TakeLimitsIntoPath(data, i);
    }
    return common::kKernelSuccess;
  });
}

bool WithinEnabledLimits(const KernelData& data, std::uint32_t coordinates) {
  for (std::uint32_t i = 0; i < coordinates; ++i) {
    const motion::PathAxis& axis = data.motionRuntime.path.axes[i];
    if (!axis.limitsEnabled) continue;
    if (axis.setPosition < axis.lowerLimit || axis.setPosition > axis.upperLimit) return false;
  }
  return true;
}

StatusCode EnableLimits(Kernel& kernel) {
  const std::uint32_t change = PayloadWord(kernel, 0);
  const std::uint32_t enable = PayloadWord(kernel, 4);
  return UnderKernelLock(kernel, ResetGate::Check, kEnableGuards, [&](KernelData& data) {
    const std::uint32_t coordinates = ConfiguredCoordinateCount(data);
    // Bits beyond the configured coordinates name none.
    for (std::uint32_t i = 0; i < coordinates; ++i) {
      if (!MaskHas(change, i)) continue;
      data.coordinates[i].settings.limitsEnabled = MaskHas(enable, i) ? 1 : 0;
      TakeLimitsIntoPath(data, i);
    }
    // A segment that stopped at a limit goes on once every watched
    // coordinate stands within its limits.
    motion::PathMotion& path = data.motionRuntime.path;
    motion::PathSegment* head = path.queue.head;
    if (head != nullptr && head->isMotion && !head->mayMove &&
        WithinEnabledLimits(data, coordinates)) {
      head->mayMove = true;
      path.ramp.targetChanged = true;
    }
    return common::kKernelSuccess;
  });
}

StatusCode ClearLimits(Kernel& kernel) {
  return UnderKernelLock(kernel, ResetGate::Check, kSettingChangeGuards, [&](KernelData& data) {
    for (std::uint32_t i = 0; i < ConfiguredCoordinateCount(data); ++i) {
      CoordinateSettings& settings = data.coordinates[i].settings;
      const CoordinateSettings& saved = data.savedConfiguration.coordinates[i];
      settings.limitsEnabled = 0;
      settings.negativeLimit = saved.negativeLimit;
      settings.positiveLimit = saved.positiveLimit;
      TakeLimitsIntoPath(data, i);
    }
    return common::kKernelSuccess;
  });
}

}  // namespace

AfterCommand HandleGetSwls(Kernel& kernel) { return Answer(kernel, GetLimits(kernel)); }
AfterCommand HandleSetSwls(Kernel& kernel) { return Answer(kernel, SetLimits(kernel)); }
AfterCommand HandleEnableSwls(Kernel& kernel) { return Answer(kernel, EnableLimits(kernel)); }
AfterCommand HandleClearSwls(Kernel& kernel) { return Answer(kernel, ClearLimits(kernel)); }

}  // namespace vantor::kernel
