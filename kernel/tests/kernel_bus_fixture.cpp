#include "kernel/tests/kernel_bus_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "common/cnc_init_record.h"
#include "kernel/core/canopen/node_steps.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/services/free_node_objects.h"
#include "kernel/tests/kernel_stand_in.h"
#include "platform/os/wait.h"

namespace vantor::kernel::testing {

namespace {

namespace cb = common::communication_block;
namespace hw = common::can_hardware_parameters;
namespace ir = common::cnc_init_record;

const bool kOwnNamespace = [] {
  const std::string name = "kernel-bus-" + std::to_string(getpid());
  return setenv("VANTOR_NAMESPACE", name.c_str(), 1) == 0;
}();

// The driver runs N = 5 ticks of 512 us: 2560 us.
constexpr std::uint32_t kBusCycle = 2048;
// About a second of the bus's time.
constexpr int kExchangeAnswerCycles = 400;
// Words per coordinate entry and per node entry of the record's lists.
constexpr int kCoordinateWords = 8;

}  // namespace

KernelBusFixture::KernelBusFixture(const std::vector<canopen::testing::BusDrive>& drives)
    : RealBusFixture(drives) {
  // A synchronised start whose answer does not come (drives not yet given
  // their layout) holds an exchange for some cycles; the kernel's own
  // exchange time-out is far longer.
  exchangeAnswerCycles_ = kExchangeAnswerCycles;
}

void KernelBusFixture::StartKernel() {
  ASSERT_TRUE(kOwnNamespace);
  StartBus();
  ASSERT_FALSE(HasFatalFailure());
  testing::CreateStandardRequestArea(kernel_);
  kernel_.driverLink = &link_;
  kernel_.instance = {common::InterfaceType::Pci, common::Channel::CanOne};
  kernel_.settings.hardware.Set(hw::kInterruptCycle, kBusCycle);
  kernel_.settings.hardware.Set(hw::kBaudRateForCan, bitRateCode_);
  kernel_.settings.hardware.Set(hw::kLookAheadDesPosiMaxNo, std::int16_t{40});
  // The kernel measures its seconds on the bus's clock.
  kernel_.millisecondTick = [this] { return static_cast<std::uint32_t>(MonotonicMilliseconds()); };
  // The library creates the path buffer before it sends the record.
  pathBuffer_ =
      os::Mapping::CreateOrOpen(common::ChannelObjectName(common::Channel::CanOne,
                                                          common::ChannelObject::PathBufferMapping),
                                8192)
          .take();
}

common::StatusCode KernelBusFixture::InitialiseAndStartTheCycle(const CncRecordShape& shape) {
  WriteRecord(shape);
  const common::StatusCode result = Run(12);
  if (result != common::kKernelSuccess) return result;
  UseNodes(kernel_.data.nodeConfiguration.table);
  UseGlobalSlot(kernel_.data.globalSlot.request);
  cycle_ = std::thread([this] { RunTheCycle(); });
  return result;
}

void KernelBusFixture::TearDown() {
  StopTheCycle();
  FreeNodeObjects(kernel_);
}

void KernelBusFixture::StopTheCycle() {
  if (!cycle_.joinable()) return;
  stop_ = true;
  cycle_.join();
}

void KernelBusFixture::WriteRecord(const CncRecordShape& shape) {
  const auto count = static_cast<std::int32_t>(shape.nodes.size());
  const std::int32_t interpolated = shape.interpolatedCount.value_or(count);
  auto record = *kernel_.Block().MutableWindow<common::kCncInitRecordSize>(cb::kPayloadOffset);
  record.Set(ir::kCoorNo, interpolated);
  record.Set(ir::kInterAxisNo, interpolated);
  record.Set(ir::kAxisNo, count);
  record.Set(ir::kHandlingAxisNo, 0);
  record.Set(ir::kSynNodeNo, count > 0 ? shape.nodes[0].nodeId : 0);
  record.Set(ir::kMaxNoBufferedPathVec, 10);
  record.Set(ir::kAmplifyMaxNoBufferedDesCoor, std::int16_t{20});
  record.Set(ir::kTeachInAmplifyMaxNoBufferedDesCoor, std::int16_t{10});
  record.Set(ir::kTeachInLookAheadDesPosiMaxNo, std::int16_t{30});
  record.Set(ir::kCanMsgMaxWaitTime, 40000.0);
  record.Set(ir::kResetNodeDelayTime, shape.resetNodeDelayMicroseconds);
  // The library's fixed request templates; the global one names the drive
  // object the time-stamp source sends.
  ir::SetFixedRequestTemplates(record);
  std::size_t at = cb::PayloadAt(common::kCncInitRecordSize);
  auto put = [&](std::int32_t value) {
    kernel_.Block().Store<std::int32_t>(at, value);
    at += 4;
  };
  const std::int32_t onPath = shape.pathCount.value_or(interpolated);
  for (std::int32_t c = 0; c < interpolated; ++c) {
    for (int word = 0; word < kCoordinateWords; ++word) put(word == 1 && c < onPath ? 1 : 0);
  }
  for (const ConfiguredNode& node : shape.nodes) {
    put(node.nodeId);
    put(node.slaveNodeId != 0 ? 1 : 0);
    put(node.slaveNodeId);
  }
}

common::StatusCode KernelBusFixture::Run(std::uint32_t code) {
  kernel_.Block().Set(cb::kCommandCode, code);
  kernel_.Block().Set(cb::kResult, common::kKernelSuccess);
  ++handlerRunning_;
  static_cast<void>(DispatchCommand(kernel_));
  --handlerRunning_;
  kernel_.standard.kernelReady.Reset();
  return kernel_.Block().Get(cb::kResult);
}

void KernelBusFixture::EndTheCycle() {
  kernel_.data.state.cycleRunning = 0;
  cycleRunning_ = false;
  canopen::CompletePendingRequests(kernel_.data.nodeConfiguration.table,
                                   &kernel_.data.globalSlot.request);
}

// The kernel's cycle: under its mutex and lock set, the node steps, the
// exchange with the driver and the clock stepped to its answer.
void KernelBusFixture::RunTheCycle() {
  while (!stop_.load() && cycleRunning_) {
    if (!os::WaitForOne(link_.cycleMutex, os::kInfinite).acquired()) break;
    if (LockStatusData(kernel_.data)) {
      if (beforeEveryCycle_) beforeEveryCycle_();
      if (cycleRunning_) RunCycle();
      UnlockStatusData(kernel_.data);
    }
    static_cast<void>(link_.cycleMutex.Release());
    // Room for a handler between two cycles: while one runs, the cycle
    // gives way for a moment, so that the handler's own steps, not the
    // machine's speed, set how much bus time a request takes.
    if (handlerRunning_.load() > 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    } else {
      std::this_thread::yield();
    }
  }
  if (!cycleRunning_) link_.cycleThread.Set();
}

std::size_t KernelBusFixture::SdoReadsOf(std::uint8_t id, std::uint16_t index) {
  const auto accesses = SdoAccessesOf(id);
  return static_cast<std::size_t>(std::count_if(
      accesses.begin(), accesses.end(), [index](const auto& a) { return a.index == index; }));
}

}  // namespace vantor::kernel::testing
