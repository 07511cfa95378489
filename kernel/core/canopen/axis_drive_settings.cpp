#include "kernel/core/canopen/axis_drive_settings.h"

#include <algorithm>

#include "kernel/core/canopen/axis_chain.h"
#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/handling_axis_moves.h"
#include "kernel/core/canopen/masked_axis_sdo.h"

namespace vantor::canopen {

using common::StatusCode;
using kernel::StatusFlag;

namespace {

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

// One object on every axis of the node.
StatusCode WriteAxes(ServiceContext& context, std::uint32_t nodeIndex, std::uint16_t index,
                     std::uint8_t size, std::uint32_t value) noexcept {
  return SdoDownloadToNodeAxes(context, false, nodeIndex, index, 0, size, value);
}

}  // namespace

StatusCode HoldHandlingAxisPositionOnAxes(ServiceContext& context,
                                          std::uint32_t nodeIndex) noexcept {
  NodeObject* node = context.nodes.ByIndex(nodeIndex);
  if (node == nullptr) return common::kKernelOperationFailed;
  if (node->axisCount == 0) return common::kKernelSuccess;
  StatusCode lastResult = common::kKernelSuccess;
  {
    HostLock lock(context.host);
    lastResult = node->request.lastResult;
  }
  AddressingKeeper keeper(context);
  StatusCode result = common::kKernelSuccess;
  for (std::int32_t axis = 0; axis < static_cast<std::int32_t>(node->axisCount); ++axis) {
    SwitchNodesToAxis(context, NodeMask{1} << nodeIndex, axis);
    std::uint32_t demand = 0;
    const StatusCode held = HoldAtPositionDemand(context, nodeIndex, demand);
    if (held == kernel::kCycleNotRunning) return held;
    HostLock lock(context.host);
    node->axes[static_cast<std::size_t>(axis)].axisResult = node->request.requestResult;
    if (Failed(held)) result = common::kKernelOperationFailed;
  }
  HostLock lock(context.host);
  node->request.lastResult = lastResult;
  return result;
}

StatusCode SetVelocityModeHaltedOnAxes(ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  StatusCode step = WriteAxes(context, nodeIndex, object::kControlword, 2, ds402::kHalt);
  if (step != common::kKernelSuccess) return step;
  step = WriteAxes(context, nodeIndex, object::kTargetVelocity, 4, 0);
  if (step != common::kKernelSuccess) return step;
  return WriteAxes(context, nodeIndex, object::kModesOfOperation, 1, ds402::kProfileVelocityMode);
}

StatusCode WritePositionFactorOnAxes(ServiceContext& context, std::uint32_t nodeIndex,
                                     std::span<const PositionFactor> factors) noexcept {
  NodeObject* node = context.nodes.ByIndex(nodeIndex);
  // Without axes nothing would be written, yet the scaling would change.
  if (node == nullptr || node->axisCount == 0 || factors.size() < 1 + node->axisCount) {
    return common::kKernelOperationFailed;
  }
  const std::size_t drives = 1 + node->axisCount;
  const bool anyZero =
      std::any_of(factors.begin(), factors.begin() + drives,
                  [](const PositionFactor& f) { return f.numerator == 0 || f.divisor == 0; });
  if (anyZero) return common::kKernelGearRatioInvalid;

  const NodeMask self = NodeMask{1} << nodeIndex;
  const StatusCode uncoupled = SetAxisChainState(context, false, false, self);
  if (uncoupled == kernel::kCycleNotRunning) return uncoupled;

  std::array<SdoRecord, 1 + kMaxNodeAxes> numerators{};
  std::array<SdoRecord, 1 + kMaxNodeAxes> divisors{};
  for (std::size_t i = 0; i < drives; ++i) {
    numerators[i] = MakeSdoRecord(object::kPositionFactor, 1, 4, factors[i].numerator);
    divisors[i] = MakeSdoRecord(object::kPositionFactor, 2, 4, factors[i].divisor);
  }
  const StatusCode numerator = SdoDownloadToNodeAxesEach(
      context, true, false, nodeIndex, std::span<const SdoRecord>(numerators.data(), drives));
  if (numerator == kernel::kCycleNotRunning) return numerator;
  const StatusCode divisor = SdoDownloadToNodeAxesEach(
      context, true, false, nodeIndex, std::span<const SdoRecord>(divisors.data(), drives));
  if (divisor == kernel::kCycleNotRunning) return divisor;
  {
    HostLock lock(context.host);
    node->gear.changed = 1;
    for (std::uint32_t a = 0; a < node->axisCount; ++a) node->axes[a].gear.changed = 1;
  }

  const StatusCode coupled = SetAxisChainState(context, true, false, self);
  if (coupled == kernel::kCycleNotRunning) return coupled;

  HostLock lock(context.host);
  if (Failed(uncoupled) || Failed(numerator) || Failed(divisor) || Failed(coupled)) {
    node->SetFlagInBothRows(StatusFlag::N, false);
    return common::kKernelOperationFailed;
  }
  // The drives hold the new ratios now: they are what is read back.
  node->gear = {factors[0].numerator, factors[0].divisor, 1};
  for (std::uint32_t a = 0; a < node->axisCount; ++a) {
    node->axes[a].gear = {factors[1 + a].numerator, factors[1 + a].divisor, 1};
  }
  const double oldDivisor = node->scalingDivisor;
  const double newDivisor =
      static_cast<double>(factors[0].numerator) / static_cast<double>(factors[0].divisor);
  const double rescale = oldDivisor / newDivisor;
  node->scalingDivisor = newDivisor;
  for (double* value : {&node->position, &node->softwareLimit1, &node->softwareLimit2,
                        &node->profileVelocity, &node->profileAcceleration}) {
    *value *= rescale;
  }
  for (std::uint32_t a = 0; a < node->axisCount; ++a) {
    node->axes[a].profileVelocity *= rescale;
    node->axes[a].profileAcceleration *= rescale;
  }
  return common::kKernelSuccess;
}

StatusCode RestoreGearRatiosOnAxes(ServiceContext& context) noexcept {
  StatusCode result = common::kKernelSuccess;
  for (std::int32_t axis = 0; axis < static_cast<std::int32_t>(context.nodes.largestAxisCount);
       ++axis) {
    const auto a = static_cast<std::size_t>(axis);
    NodeMask changed = 0;
    SdoRecords numerators{};
    SdoRecords denominators{};
    {
      HostLock lock(context.host);
      for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
        const NodeObject* node = context.nodes.nodes[k];
        if (node == nullptr || !HasAxis(*node, axis) || node->axes[a].gear.changed == 0) continue;
        changed |= NodeMask{1} << k;
        numerators[k] = MakeSdoRecord(object::kPositionFactor, 1, 4, node->axes[a].gear.numerator);
        denominators[k] =
            MakeSdoRecord(object::kPositionFactor, 2, 4, node->axes[a].gear.denominator);
      }
    }
    for (const SdoRecords* records : {&numerators, &denominators}) {
      const StatusCode step =
          SdoDownloadToMaskedAxis(context, false, false, axis, changed, *records);
      if (step == kernel::kCycleNotRunning) return step;
      if (Failed(step)) result = common::kKernelOperationFailed;
    }
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      if ((changed & (NodeMask{1} << k)) != 0) context.nodes.nodes[k]->axes[a].gear.changed = 0;
    }
  }
  return result;
}

}  // namespace vantor::canopen
