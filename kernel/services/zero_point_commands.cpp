#include "kernel/services/zero_point_commands.h"

#include <algorithm>
#include <array>
#include <optional>

#include "kernel/core/motion/plane_rotation.h"
#include "kernel/core/motion/wire_values.h"
#include "kernel/services/axis_command_support.h"

namespace vantor::kernel {

namespace {

using common::StatusCode;
using G = MotionGuard;

constexpr G kSetGuards[] = {G::CycleRunning,        G::BusInOrder, G::SyncInOrder,
                            G::PeripheryPdoInOrder, G::NoBreak,    G::NoQuickStop,
                            G::NodesReady,          G::NoMotion,   G::NoPathModeOrStart,
                            G::NoStopOnInputRunning};
constexpr G kHomedGuards[] = {G::NodesHomed};

// The payload of command 34: the absolute flag, then the coordinate list.
constexpr std::size_t kAbsoluteFlagOffset = 0;
constexpr std::size_t kCoordinatesOffset = 8;

// Every interpolated node takes its coordinate's zero point.
void GiveZeroPointsToNodes(KernelData& data) {
  NodeConfiguration& nodes = data.nodeConfiguration;
  const std::uint32_t count =
      std::min(nodes.interpolatedNodeCount, ConfiguredCoordinateCount(data));
  for (std::uint32_t k = 0; k < count; ++k) {
    if (NodeObject* node = nodes.Node(k)) node->zeroPoint = data.coordinates[k].zeroOffset;
  }
}

// A coordinate value, or nothing for the no-move marker.
using ZeroValues = std::array<std::optional<double>, motion::kMaxCoordinates>;

// Shifts the zero points by `values`. With the plane turned, the pair of
// the plane is turned as one vector first; a marker in it counts as 0.
void ShiftZeroPoints(KernelData& data, std::uint32_t count, const ZeroValues& values) {
  const motion::PlaneRotation& rotation = data.planeRotation;
  const auto inPlane = [&](std::int32_t axis) {
    return axis >= 0 && static_cast<std::uint32_t>(axis) < count;
  };
  const bool turned = rotation.IsOn() && inPlane(rotation.axisA) && inPlane(rotation.axisB) &&
                      rotation.axisA != rotation.axisB;
  for (std::uint32_t i = 0; i < count; ++i) {
    const bool planeAxis = turned && (static_cast<std::int32_t>(i) == rotation.axisA ||
                                      static_cast<std::int32_t>(i) == rotation.axisB);
    if (!planeAxis && values[i]) data.coordinates[i].zeroOffset += *values[i];
  }
  if (!turned) return;
  const auto a = static_cast<std::size_t>(rotation.axisA);
  const auto b = static_cast<std::size_t>(rotation.axisB);
  const motion::PlanePoint shift =
      motion::RotateInPlane({values[a].value_or(0.0), values[b].value_or(0.0)}, rotation);
  data.coordinates[a].zeroOffset += shift.x;
  data.coordinates[b].zeroOffset += shift.y;
}

}  // namespace

AfterCommand HandleSetActPosWnp(Kernel& kernel) {
  const StatusCode result =
      UnderKernelLock(kernel, ResetGate::Check, kSetGuards, [&](KernelData& data) {
        const MotionRuntime& runtime = data.motionRuntime;
        const bool powerOff = data.state.powerOff != 0;
        for (std::uint32_t i = 0; i < ConfiguredCoordinateCount(data); ++i) {
          data.coordinates[i].zeroOffset =
              powerOff ? runtime.axes[i].actual : runtime.path.axes[i].setPosition;
        }
        NodeConfiguration& nodes = data.nodeConfiguration;
        for (std::uint32_t k = 0; k < nodes.interpolatedNodeCount; ++k) {
          if (NodeObject* node = nodes.Node(k)) {
            node->zeroPoint = powerOff ? runtime.nodes[k].actual : node->can->position;
          }
        }
        return common::kKernelSuccess;
      });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleSetWnp(Kernel& kernel) {
  const bool absolute = PayloadWord(kernel, kAbsoluteFlagOffset) != 0;
  const StatusCode result =
      UnderKernelLock(kernel, ResetGate::Check, kSetGuards, [&](KernelData& data) {
        const std::uint32_t count = PayloadCoordinateCount(kernel);
        ZeroValues values{};
        for (std::uint32_t i = 0; i < count; ++i) {
          const std::int64_t value = PayloadWireValue(kernel, kCoordinatesOffset + 8 * i);
          if (!IsNoMoveValue(value, data.motion.path.int32Values)) {
            values[i] = motion::WireValueToReal(value);
          }
        }
        if (absolute) {
          for (std::uint32_t i = 0; i < count; ++i) {
            if (values[i]) data.coordinates[i].zeroOffset = *values[i];
          }
        } else {
          ShiftZeroPoints(data, count, values);
        }
        GiveZeroPointsToNodes(data);
        return common::kKernelSuccess;
      });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleGetWnp(Kernel& kernel) {
  const StatusCode result =
      UnderKernelLock(kernel, ResetGate::Skip, kHomedGuards, [&](KernelData& data) {
        const std::uint32_t count = PayloadCoordinateCount(kernel);
        for (std::uint32_t i = 0; i < count; ++i) {
          PutPayloadWireValue(kernel, 8 * i, data.coordinates[i].zeroOffset);
        }
        return common::kKernelSuccess;
      });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
