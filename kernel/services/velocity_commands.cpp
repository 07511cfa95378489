#include "kernel/services/velocity_commands.h"

#include <array>
#include <cmath>

#include "kernel/core/motion/wire_values.h"
#include "kernel/core/path_velocity.h"
#include "kernel/services/axis_command_support.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using common::StatusCode;

constexpr std::size_t kProgrammedVelocities = 6;
// Payload bytes of command 19: the six programmed velocities, then the
// current linear and rotary velocity.
constexpr std::size_t kCurrentLinearOffset = 8 * kProgrammedVelocities;
constexpr std::size_t kCurrentRotaryOffset = kCurrentLinearOffset + 8;
constexpr std::size_t kVelocityAnswerSize = kCurrentRotaryOffset + 8;
static_assert(cb::PayloadAt(kCurrentRotaryOffset) == 0x7C);

constexpr MotionGuard kSetVelocityGuards[] = {
    MotionGuard::CycleRunning,        MotionGuard::BusInOrder, MotionGuard::SyncInOrder,
    MotionGuard::PeripheryPdoInOrder, MotionGuard::NoBreak,    MotionGuard::NoQuickStop,
    MotionGuard::NodesReady};
constexpr MotionGuard kGetVelocityGuards[] = {MotionGuard::CycleRunning, MotionGuard::BusInOrder,
                                              MotionGuard::SyncInOrder, MotionGuard::NodesReady};
constexpr MotionGuard kHomedGuards[] = {MotionGuard::NodesHomed};

// The six velocities in payload order: process, teach-in and rapid, each
// linear then rotary.
std::array<double*, kProgrammedVelocities> ProgrammedVelocities(motion::PathMotion& path) {
  return {&path.linearProcessVelocity, &path.rotaryProcessVelocity, &path.linearTeachInVelocity,
          &path.rotaryTeachInVelocity,   &path.linearRapidVelocity,   &path.rotaryRapidVelocity};
}

struct CurrentVelocity {
  double linear = 0.0;  // units/s
  double rotary = 0.0;  // units/s
};

// The path velocity that the drives' measured velocities show.
CurrentVelocity MeasuredVelocityOfTheDrives(const KernelData& data) {
  std::array<PathVelocityAxis, canopen::kMaxNodes> axes{};
  const NodeConfiguration& nodes = data.nodeConfiguration;
  const std::uint32_t count = nodes.BoundedNodeCount();
  for (std::uint32_t i = 0; i < count; ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node == nullptr) continue;
    const NodeAxisRuntime& measured = data.motionRuntime.nodes[i];
    axes[i] = {measured.measure.velocity, measured.answerValid != 0,
               i < ConfiguredCoordinateCount(data) && data.coordinates[i].settings.onPath != 0,
               node->can->handlingAxis};
  }
  const MeasuredPathVelocity velocity = GetPathVelocity(
      std::span<const PathVelocityAxis>(axes.data(), count), nodes.interpolatedNodeCount);
  return {velocity.pathVelocity, velocity.rotaryVelocity};
}

CurrentVelocity CurrentVelocityOf(const KernelData& data) {
  const KernelStateFlags& s = data.state;
  const MotionRuntime& runtime = data.motionRuntime;
  if (s.motionActive != 0 && s.motionStop == 0) {
    const motion::PathSegment* head = runtime.path.queue.head;
    if (head != nullptr && head->isMotion && !head->isPath &&
        head->singleAxis < ConfiguredCoordinateCount(data)) {
      const double velocity = runtime.axes[head->singleAxis].measure.velocity;
      if (data.coordinates[head->singleAxis].settings.linear != 0) return {velocity, 0.0};
      return {0.0, velocity};
    }
    return {runtime.pathMeasure.velocity, 0.0};
  }
  if (s.handwheelActive != 0) return MeasuredVelocityOfTheDrives(data);
  return {};
}

}  // namespace

AfterCommand HandleSetVelocity(Kernel& kernel) {
  std::array<std::int64_t, kProgrammedVelocities> values{};
  for (std::size_t k = 0; k < values.size(); ++k) values[k] = PayloadWireValue(kernel, 8 * k);
  const StatusCode result =
      UnderKernelLock(kernel, ResetGate::Check, kSetVelocityGuards, [&](KernelData& data) {
        for (const std::int64_t value : values) {
          if (value <= 0) return common::kKernelVelocityInvalid;
        }
        const auto targets = ProgrammedVelocities(data.motionRuntime.path);
        for (std::size_t k = 0; k < values.size(); ++k) {
          *targets[k] = motion::WireValueToReal(values[k]);
        }
        return common::kKernelSuccess;
      });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleGetVelocity(Kernel& kernel) {
  const StatusCode result =
      UnderKernelLock(kernel, ResetGate::Check, kGetVelocityGuards, [&](KernelData& data) {
        for (std::size_t at = 0; at < kVelocityAnswerSize; at += 8) {
          static_cast<void>(kernel.Block().Store<std::int64_t>(cb::PayloadAt(at), 0));
        }
        const auto velocities = ProgrammedVelocities(data.motionRuntime.path);
        for (std::size_t k = 0; k < velocities.size(); ++k) {
          PutPayloadWireValue(kernel, 8 * k, *velocities[k]);
        }
        const CurrentVelocity current = CurrentVelocityOf(data);
        PutPayloadWireValue(kernel, kCurrentLinearOffset, current.linear);
        PutPayloadWireValue(kernel, kCurrentRotaryOffset, current.rotary);
        return common::kKernelSuccess;
      });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleSetOverride(Kernel& kernel) {
  const auto percent = kernel.Block().Load<std::int32_t>(cb::PayloadAt(0)).value_or(0);
  const StatusCode result =
      UnderKernelLock(kernel, ResetGate::Check, kCommonMotionGuards, [&](KernelData& data) {
        motion::PathMotion& path = data.motionRuntime.path;
        const double factor = percent * 0.01;
        if (factor <= 0.0) {
          path.override = 0.0;
        } else {
          path.override = factor < path.maxOverride ? factor : path.maxOverride;
        }
        path.newTarget = true;
        return common::kKernelSuccess;
      });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

AfterCommand HandleGetOverride(Kernel& kernel) {
  const StatusCode result =
      UnderKernelLock(kernel, ResetGate::Skip, kHomedGuards, [&](KernelData& data) {
        const auto percent =
            static_cast<std::int32_t>(std::trunc(data.motionRuntime.path.override * 100.0 + 0.1));
        static_cast<void>(kernel.Block().Store<std::int32_t>(cb::PayloadAt(0), percent));
        return common::kKernelSuccess;
      });
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
