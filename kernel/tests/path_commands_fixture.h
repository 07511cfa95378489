// An in-process kernel in CNC mode for the path commands: X, Y and Z on the
// path, moving three interpolated drives with round limits, after the
// reset and without motion. Commands go through the dispatcher and the
// standard request area as the library sends them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>

#include "common/command_codes.h"
#include "common/path_buffer.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/motion/path_interpolation.h"
#include "kernel/core/motion_runtime.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/services/path_segments.h"
#include "kernel/tests/kernel_stand_in.h"
#include "platform/os/wait.h"

namespace vantor::kernel::testing {

namespace cb = common::communication_block;

inline constexpr std::int64_t kUnprogrammed = std::int64_t{1} << 62;
inline constexpr std::int32_t kCoordinates = 3;

class PathKernel {
 public:
  explicit PathKernel(bool withNode = false) {
    CreateStandardRequestArea(kernel_);
    KernelData& data = kernel_.data;
    CreateKernelDataLocks(data);
    KernelStateFlags& s = data.state;
    s.cycleRunning = s.busOk = s.syncRunning = s.peripheryPdoOk = 1;
    s.SetCncInitialised(true);
    data.coordinateCount = kCoordinates;
    data.nodeConfiguration.interpolatedNodeCount = kCoordinates;
    for (std::int32_t i = 0; i < kCoordinates; ++i) {
      data.coordinates[i].settings.linear = 1;
      data.coordinates[i].settings.onPath = 1;
      motion::NodeLimits& limits = data.planning.nodeLimits[i];
      limits.maxVelocity = 100.0;
      limits.maxAcceleration = 1000.0;
      limits.maxJerk = 10000.0;
      limits.kv = 20.0;
    }
    motion::PathParameters& path = data.motion.path;
    path.cycleTime = 0.001;
    path.RadiusRoundingError = 0.01;
    path.AngleRoundingError = 1e-6;
    path.RadiusError = 0.01;
    path.PathError = 0.05;
    path.AngleToRadianFac = std::acos(-1.0) / 180.0;
    data.motion.segmentCapacity = 4;
    data.motion.linearTeachInVelocity = 10.0;
    data.motion.rotaryTeachInVelocity = 11.0;
    data.motion.linearRapidVelocity = 80.0;
    data.motion.rotaryRapidVelocity = 81.0;
    data.motion.linearProcessVelocity = 50.0;
    data.motion.rotaryProcessVelocity = 51.0;
    SetUpMotionRuntime(data);
    kernel_.Block().Set(cb::kCurrentCoordinateCount, kCoordinates);
    if (withNode) PlaceReadyNode();
  }

  ~PathKernel() {
    KernelData& data = kernel_.data;
    motion::PathFlags flags;
    motion::ClearSegmentQueue(data.motionRuntime.path, flags);
    motion::DropPendingEvents(data.motionRuntime.path);
    FreeFinishedSegments(data);
  }

  Kernel& kernel() { return kernel_; }
  KernelData& data() { return kernel_.data; }
  KernelStateFlags& state() { return kernel_.data.state; }
  motion::SegmentQueue& queue() { return kernel_.data.motionRuntime.path.queue; }
  common::CommunicationBlockView block() { return kernel_.Block(); }

  void Word(std::size_t at, std::uint32_t value) {
    ASSERT_TRUE(block().Store<std::uint32_t>(cb::PayloadAt(at), value));
  }
  void Value(std::size_t at, std::int64_t value) {
    ASSERT_TRUE(block().Store<std::int64_t>(cb::PayloadAt(at), value));
  }
  std::uint32_t AnswerWord(std::size_t at) {
    return block().Load<std::uint32_t>(cb::PayloadAt(at)).value_or(0xDEADBEEF);
  }

  common::StatusCode Run(common::CommandCode code) {
    block().Set(cb::kCommandCode, static_cast<std::uint32_t>(code));
    block().Set(cb::kResult, common::kKernelSuccess);
    EXPECT_EQ(DispatchCommand(kernel_), AfterCommand::KeepServing);
    EXPECT_EQ(os::WaitForOne(kernel_.standard.kernelReady, 0).kind, os::WaitKind::Signalled);
    static_cast<void>(kernel_.standard.kernelReady.Reset());
    return block().Get(cb::kResult);
  }

  // Code 36 with the X, Y, Z values.
  common::StatusCode Move(std::initializer_list<std::int64_t> values, bool absolute = false,
                          bool rapid = false) {
    Word(0, absolute ? 1 : 0);
    Word(4, rapid ? 1 : 0);
    std::size_t at = 8;
    for (const std::int64_t value : values) {
      Value(at, value);
      at += 8;
    }
    return Run(common::CommandCode::Move);
  }

  // Code 37 (by end point) or 38 (by sweep angle) in the plane of the two
  // selectors, relative, counter-clockwise.
  common::StatusCode Arc(common::CommandCode code, std::int64_t first, std::int64_t second,
                         std::initializer_list<std::int64_t> rest) {
    Word(0, 0);
    Value(8, first);
    Value(16, second);
    Value(24, 1);
    std::size_t at = 32;
    for (const std::int64_t value : rest) {
      Value(at, value);
      at += 8;
    }
    return Run(code);
  }

  common::StatusCode PathVelocity(std::int64_t linear, std::int64_t rotary) {
    Value(0, linear);
    Value(8, rotary);
    return Run(common::CommandCode::PathVelocity);
  }

  common::StatusCode SetWord(common::CommandCode code, std::uint32_t value) {
    Word(0, value);
    return Run(code);
  }

  // Node `index` (CAN id `index` + 1) ready and homed, counted with the
  // nodes before it.
  void PlaceReadyNode(std::uint32_t index = 0) {
    NodeConfiguration& nodes = kernel_.data.nodeConfiguration;
    nodes.Place(index, canopen::NodeSetup{.nodeId = static_cast<std::uint8_t>(index + 1)});
    nodes.table.nodeCount = std::max(nodes.table.nodeCount, index + 1);
    NodeObject& record = nodes.records[index];
    record.requestMutex = os::Mutex::CreateUnnamed(false).take();
    record.accessMutex = os::Mutex::CreateUnnamed(false).take();
    record.can->latched.SetAll(true);
    record.can->current.SetAll(true);
  }

 private:
  Kernel kernel_;
};

}  // namespace vantor::kernel::testing
