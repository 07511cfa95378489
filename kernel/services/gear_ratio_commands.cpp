#include "kernel/services/gear_ratio_commands.h"

#include <array>

#include "kernel/core/canopen/axis_drive_settings.h"
#include "kernel/core/canopen/drive_parameters.h"
#include "kernel/core/planning_limits.h"
#include "kernel/services/axis_command_support.h"
#include "kernel/services/node_locked_drive_change.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using common::StatusCode;
using G = MotionGuard;

// +0 the axis, +4 and +8 its ratio, then a ratio per slave drive.
constexpr std::size_t kRatio = 4;
constexpr std::size_t kSlaveRatios = 12;
constexpr std::size_t kRatioSize = 8;

constexpr MotionGuard kGearChangeGuards[] = {
    G::CycleRunning, G::BusInOrder, G::SyncInOrder, G::PeripheryPdoInOrder, G::NoBreak,
    G::NoQuickStop,  G::NodesReady, G::NoMotion,    G::NoHandlingMove,      G::NoPathModeOrStart,
};

AfterCommand Answer(Kernel& kernel, StatusCode result) {
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

void PutWord(const Kernel& kernel, std::size_t offset, std::uint32_t value) {
  static_cast<void>(kernel.Block().Store<std::uint32_t>(cb::PayloadAt(offset), value));
}

enum class Slaves { None, Some };

// The node of axis `index` when it has (or has not) slave drives.
const canopen::NodeObject* GearedNode(const KernelData& data, std::uint32_t index, Slaves slaves) {
  const NodeObject* node = data.nodeConfiguration.Node(index);
  if (node == nullptr) return nullptr;
  const bool hasSlaves = node->can->axisCount > 0;
  return hasSlaves == (slaves == Slaves::Some) ? &*node->can : nullptr;
}

void PutRatio(const Kernel& kernel, std::size_t offset, const canopen::GearRatio& gear) {
  PutWord(kernel, offset, gear.numerator);
  PutWord(kernel, offset + 4, gear.denominator);
}

// Codes 54 and 74: the planning limits follow the node's new scaling.
template <typename Check, typename Write>
StatusCode ChangeGear(Kernel& kernel, Check check, Write write) {
  return ChangeOnDrives(kernel, kGearChangeGuards, check, write,
                        [](KernelData& data) { TakeDriveLimitsIntoPlanning(data); });
}

StatusCode GetGearRatio(Kernel& kernel) {
  const std::uint32_t index = PayloadWord(kernel, 0);
  return UnderKernelLock(kernel, ResetGate::Check, {}, [&](KernelData& data) {
    const canopen::NodeObject* node = GearedNode(data, index, Slaves::None);
    if (node == nullptr) return common::kKernelAxisNumberInvalid;
    PutRatio(kernel, kRatio, node->gear);
    return common::kKernelSuccess;
  });
}

StatusCode SetGearRatio(Kernel& kernel) {
  const std::uint32_t index = PayloadWord(kernel, 0);
  const std::uint32_t numerator = PayloadWord(kernel, kRatio);
  const std::uint32_t denominator = PayloadWord(kernel, kRatio + 4);
  return ChangeGear(
      kernel,
      [&](KernelData& data) {
        if (GearedNode(data, index, Slaves::None) == nullptr) {
          return common::kKernelAxisNumberInvalid;
        }
        if (numerator == 0 || denominator == 0) return common::kKernelGearRatioInvalid;
        return common::kKernelSuccess;
      },
      [&](canopen::ServiceContext& context) {
        return canopen::SetGearRatio(context, index, numerator, denominator);
      });
}

StatusCode GetGantryGearRatio(Kernel& kernel) {
  const std::uint32_t index = PayloadWord(kernel, 0);
  if (!kernel.data.state.IsCncInitialised()) return common::kKernelCncNotInitialized;
  KernelDataLock lock(kernel.data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  // Before the reset the drives' ratios are not known.
  if (kernel.data.state.resetPending != 0) return common::kKernelGearRatioUnavailable;
  const canopen::NodeObject* node = GearedNode(kernel.data, index, Slaves::Some);
  if (node == nullptr) return common::kKernelAxisNumberInvalid;
  PutRatio(kernel, kRatio, node->gear);
  for (std::uint32_t k = 0; k < node->axisCount && k < canopen::kMaxNodeAxes; ++k) {
    PutRatio(kernel, kSlaveRatios + kRatioSize * k, node->axes[k].gear);
  }
  return common::kKernelSuccess;
}

StatusCode SetGantryGearRatio(Kernel& kernel) {
  const std::uint32_t index = PayloadWord(kernel, 0);
  // The node's factor first, then one per slave drive.
  std::array<canopen::PositionFactor, 1 + canopen::kMaxNodeAxes> factors{};
  std::size_t count = 0;
  return ChangeGear(
      kernel,
      [&](KernelData& data) {
        const canopen::NodeObject* node = GearedNode(data, index, Slaves::Some);
        if (node == nullptr) return common::kKernelAxisNumberInvalid;
        factors[0] = {PayloadWord(kernel, kRatio), PayloadWord(kernel, kRatio + 4)};
        if (factors[0].numerator == 0 || factors[0].divisor == 0) {
          return common::kKernelGearRatioInvalid;
        }
        count = 1;
        for (std::uint32_t k = 0; k < node->axisCount && k < canopen::kMaxNodeAxes; ++k) {
          const std::size_t at = kSlaveRatios + kRatioSize * k;
          const auto numerator = static_cast<std::int32_t>(PayloadWord(kernel, at));
          const std::uint32_t divisor = PayloadWord(kernel, at + 4);
          if (numerator <= 0 || divisor == 0) return common::kKernelGearRatioInvalid;
          factors[count++] = {static_cast<std::uint32_t>(numerator), divisor};
        }
        return common::kKernelSuccess;
      },
      [&](canopen::ServiceContext& context) {
        return canopen::WritePositionFactorOnAxes(
            context, index, std::span<const canopen::PositionFactor>(factors.data(), count));
      });
}

}  // namespace

AfterCommand HandleGetAxisGearRatio(Kernel& kernel) { return Answer(kernel, GetGearRatio(kernel)); }
AfterCommand HandleSetAxisGearRatio(Kernel& kernel) { return Answer(kernel, SetGearRatio(kernel)); }
AfterCommand HandleGetSynAxisGearRatio(Kernel& kernel) {
  return Answer(kernel, GetGantryGearRatio(kernel));
}
AfterCommand HandleSetSynAxisGearRatio(Kernel& kernel) {
  return Answer(kernel, SetGantryGearRatio(kernel));
}

}  // namespace vantor::kernel
