// A kernel in CNC mode after its reset, for the axis commands without the
// processes: two interpolated nodes ready and homed (node 1 a gantry with
// its slave), three coordinates (the third without a drive), every state
// word good and no motion. Commands are served as the communication thread
// serves them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "kernel/services/command_dispatcher.h"
#include "kernel/tests/kernel_stand_in.h"

namespace vantor::kernel::testing {

namespace cb = common::communication_block;

class AxisKernel {
 public:
  static constexpr std::uint32_t kCoordinates = 3;

  AxisKernel() : kernel_(std::make_unique<Kernel>()) {
    CreateStandardRequestArea(*kernel_);
    KernelData& data = kernel_->data;
    CreateKernelDataLocks(data);
    NodeConfiguration& nodes = data.nodeConfiguration;
    nodes.motionDoneEvent = os::Event::CreateUnnamed(os::EventReset::Manual, true).take();
    nodes.stopDoneEvent = os::Event::CreateUnnamed(os::EventReset::Manual, true).take();
    nodes.Place(0, canopen::NodeSetup{.nodeId = 1});
    canopen::NodeSetup gantry{.nodeId = 2};
    gantry.axisCount = 1;
    gantry.axisNodeIds[0] = 3;
    nodes.Place(1, gantry);
    nodes.table.nodeCount = 2;
    nodes.table.UpdateLargestAxisCount();
    nodes.interpolatedNodeCount = 2;
    for (std::uint32_t k = 0; k < 2; ++k) {
      NodeObject& record = nodes.records[k];
      record.requestMutex = os::Mutex::CreateUnnamed(false).take();
      record.accessMutex = os::Mutex::CreateUnnamed(false).take();
      record.can->latched.SetAll(true);
      record.can->current.SetAll(true);
    }
    data.coordinateCount = kCoordinates;
    data.motionRuntime.path.axisCount = kCoordinates;
    data.coordinates[2].settings.linear = 0;
    data.coordinates[0].settings.linear = data.coordinates[1].settings.linear = 1;
    data.motionRuntime.path.maxOverride = 1.2;
    KernelStateFlags& s = data.state;
    s.cycleRunning = s.busOk = s.syncRunning = s.peripheryPdoOk = 1;
    s.driveEnable = s.haltOk = 1;
    s.SetCncInitialised(true);
    Block().Set(cb::kCurrentCoordinateCount, kCoordinates);
  }

  Kernel& kernel() { return *kernel_; }
  KernelData& data() { return kernel_->data; }
  common::CommunicationBlockView Block() { return kernel_->Block(); }
  canopen::NodeObject& Node(std::uint32_t k) { return *data().nodeConfiguration.records[k].can; }

  void PutWord(std::size_t payloadOffset, std::uint32_t value) {
    static_cast<void>(Block().Store<std::uint32_t>(cb::PayloadAt(payloadOffset), value));
  }
  void PutValue(std::size_t payloadOffset, std::int64_t value) {
    static_cast<void>(Block().Store<std::int64_t>(cb::PayloadAt(payloadOffset), value));
  }
  std::int64_t Value(std::size_t payloadOffset) {
    return *Block().Load<std::int64_t>(cb::PayloadAt(payloadOffset));
  }
  std::uint32_t Word(std::size_t payloadOffset) {
    return *Block().Load<std::uint32_t>(cb::PayloadAt(payloadOffset));
  }

  // Serves `code` with the payload as it stands; the result word.
  common::StatusCode Run(std::uint32_t code) {
    Block().Set(cb::kCommandCode, code);
    Block().Set(cb::kResult, common::kKernelSuccess);
    static_cast<void>(DispatchCommand(*kernel_));
    return Block().Get(cb::kResult);
  }

 private:
  // Heap: the kernel record is large, and its address must not change.
  std::unique_ptr<Kernel> kernel_;
};

// One state that a command refuses, with the refusal.
struct Condition {
  const char* name;
  std::function<void(KernelData&)> apply;
  common::StatusCode answer;
};

}  // namespace vantor::kernel::testing
