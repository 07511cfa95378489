// Code 64: the last interpolated axis becomes a handling axis, and the
// first handling axis an interpolated one again. The coordinate counts of
// the kernel and of the block follow each switch, so that on and off in
// turn give back the counts the application configured.
#include <array>

#include "kernel/core/canopen/axis_profile_move.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/handling_axis_services.h"
#include "kernel/core/canopen/modes_of_operation.h"
#include "kernel/core/canopen/pdo_layout.h"
#include "kernel/services/axis_command_support.h"
#include "kernel/services/handling_axis_commands.h"
#include "kernel/services/handling_axis_support.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using canopen::ServiceContext;
using common::StatusCode;
using G = MotionGuard;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

// I, R, C, N, M, P.
constexpr MotionGuard kModeGuards[] = {
    G::CycleRunning, G::BusInOrder, G::SyncInOrder, G::PeripheryPdoInOrder, G::NoBreak,
    G::NoQuickStop,  G::NodesReady, G::NoMotion,    G::NoPathModeOrStart,
};

StatusCode CheckModeState(const KernelData& data) {
  if (data.state.stopOnInputInitialised != 0) return common::kKernelStopOnInputAlreadyInitialized;
  if (data.state.handwheelActive != 0) return common::kKernelHandwheelAlreadyActive;
  return common::kKernelSuccess;
}

bool IsPlaneRotationAxis(const KernelData& data, std::uint32_t index) {
  const motion::PlaneRotation& rotation = data.planeRotation;
  const auto axis = static_cast<std::int32_t>(index);
  return rotation.IsOn() && (rotation.axisA == axis || rotation.axisB == axis);
}

bool AnyRegulatorActive(const NodeConfiguration& nodes) {
  for (std::uint32_t k = 0; k < nodes.BoundedNodeCount(); ++k) {
    const NodeObject* node = nodes.Node(k);
    if (node != nullptr && node->can->regulatorActive != 0) return true;
  }
  return false;
}

// The coordinate counts of the kernel and of the block by `step`.
void ChangeCoordinateCount(Kernel& kernel, std::int32_t step) {
  kernel.data.coordinateCount += step;
  const std::uint32_t current = kernel.Block().Get(cb::kCurrentCoordinateCount);
  kernel.Block().Set(cb::kCurrentCoordinateCount, current + static_cast<std::uint32_t>(step));
}

// What a switch changed in the node, to be put back when it fails.
struct Switched {
  bool done = false;
  std::uint32_t index = 0;
  std::int32_t previousMode = 0;
};

void SwitchNode(KernelData& data, Switched& switched, bool toHandling) {
  NodeConfiguration& nodes = data.nodeConfiguration;
  canopen::NodeObject& can = *nodes.Node(switched.index)->can;
  switched.previousMode = can.handlingMode;
  switched.done = true;
  can.handlingAxis = toHandling ? 1 : 0;
  can.handlingMode = 1;
  if (toHandling) {
    --nodes.interpolatedNodeCount;
  } else {
    ++nodes.interpolatedNodeCount;
  }
}

void SwitchNodeBack(KernelData& data, const Switched& switched, bool toHandling) {
  if (!switched.done) return;
  NodeConfiguration& nodes = data.nodeConfiguration;
  canopen::NodeObject& can = *nodes.Node(switched.index)->can;
  can.handlingAxis = toHandling ? 0 : 1;
  can.handlingMode = switched.previousMode;
  if (toHandling) {
    ++nodes.interpolatedNodeCount;
  } else {
    --nodes.interpolatedNodeCount;
  }
}

StatusCode SwitchOn(Kernel& kernel) {
  Switched switched;
  return OnHandlingDrives(
      kernel, kModeGuards,
      [&](KernelData& data, canopen::NodeMask& rearm, bool&) {
        if (const StatusCode refused = CheckModeState(data); Failed(refused)) return refused;
        const std::uint32_t interpolated = data.nodeConfiguration.interpolatedNodeCount;
        if (interpolated == 0 || data.nodeConfiguration.Node(interpolated - 1) == nullptr ||
            IsPlaneRotationAxis(data, interpolated - 1)) {
          return common::kKernelAxisNumberInvalid;
        }
        if (AnyRegulatorActive(data.nodeConfiguration)) return common::kKernelDistanceControlActive;
        switched.index = interpolated - 1;
        rearm = canopen::NodeMask{1} << switched.index;
        return common::kKernelSuccess;
      },
      [&](ServiceContext& context) {
        const StatusCode limits = canopen::SyncHandlingAxisLimits(context, switched.index);
        if (Failed(limits)) return limits;
        {
          canopen::HostLock lock(context.host);
          SwitchNode(kernel.data, switched, true);
        }
        return canopen::SetNodeModeOfOperation(context, switched.index);
      },
      [&](KernelData& data, StatusCode result) {
        if (Failed(result)) {
          SwitchNodeBack(data, switched, true);
          return result;
        }
        ChangeCoordinateCount(kernel, -1);
        return result;
      });
}

// The node's position demand into its position and, when it is homed, into
// its coordinate's set position; `demand` keeps the value read.
StatusCode TakePositionDemand(Kernel& kernel, ServiceContext& context, std::uint32_t index,
                              std::int32_t& demand) {
  std::uint32_t raw = 0;
  const StatusCode read =
      canopen::SdoUploadFromNode(context, index, canopen::object::kPositionDemand, 0, 4, raw);
  if (Failed(read)) return read;
  demand = static_cast<std::int32_t>(raw);
  canopen::HostLock lock(context.host);
  canopen::NodeObject& can = *kernel.data.nodeConfiguration.Node(index)->can;
  can.position = static_cast<double>(demand) / can.PositionScale();
  if (can.latched.Has(StatusFlag::D) && can.current.Has(StatusFlag::D)) {
    TakeNodePositionIntoSetPosition(kernel.data, index);
  }
  return read;
}

StatusCode SwitchOff(Kernel& kernel) {
  Switched switched;
  bool slaves = false;
  return OnHandlingDrives(
      kernel, kModeGuards,
      [&](KernelData& data, canopen::NodeMask& rearm, bool&) {
        if (const StatusCode refused = CheckModeState(data); Failed(refused)) return refused;
        const std::uint32_t first = data.nodeConfiguration.interpolatedNodeCount;
        const NodeObject* node = data.nodeConfiguration.Node(first);
        if (node == nullptr) return common::kKernelAxisNumberInvalid;
        if (!IsHandlingAxisIdle(*node)) return common::kKernelSegmentMotionAlreadyActive;
        switched.index = first;
        slaves = node->can->axisCount > 0;
        rearm = canopen::NodeMask{1} << first;
        return common::kKernelSuccess;
      },
      [&](ServiceContext& context) {
        {
          canopen::HostLock lock(context.host);
          SwitchNode(kernel.data, switched, false);
        }
        StatusCode result = canopen::SetNodeModeOfOperation(context, switched.index);
        if (Failed(result)) return result;
        std::array<std::int32_t, canopen::kMaxNodes> positions{};
        result = TakePositionDemand(kernel, context, switched.index, positions[switched.index]);
        if (Failed(result) || !slaves) return result;
        const canopen::NodeMask self = canopen::NodeMask{1} << switched.index;
        // The slave drives join their node where it stands, then take the
        // node's frames again.
        result = canopen::SetupAxesProfileMode(context, false, self, positions);
        if (Failed(result)) return result;
        const StatusCode control = canopen::MapControlwordToRpdo(context, self);
        if (Failed(control)) return control;
        return canopen::MapSetpointRpdoMasked(context, self);
      },
      [&](KernelData& data, StatusCode result) {
        if (Failed(result)) {
          SwitchNodeBack(data, switched, false);
          return result;
        }
        ChangeCoordinateCount(kernel, 1);
        FreeCoordinateLimits(data, switched.index);
        return result;
      });
}

}  // namespace

AfterCommand HandleSetHandlingMode(Kernel& kernel) {
  const StatusCode result = PayloadWord(kernel, 0) != 0 ? SwitchOn(kernel) : SwitchOff(kernel);
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
