// Command 24 in quick stop over the real channel-1 driver: the kernel's
// handlers in this process, the simulated drives 1, 2 and 3 on the card's
// bus, and a cycle thread that runs the node steps and exchanges the record
// with the driver on the virtual clock. Drive 2 carries the gantry slave 3,
// whose limit inputs the status reads through node 2's slot.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/cnc_init_record.h"
#include "common/complete_status_record.h"
#include "kernel/core/canopen/tests/real_bus_fixture.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/services/complete_status.h"
#include "kernel/services/free_node_objects.h"
#include "kernel/tests/stand_in_driver_link.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;
namespace cs = common::complete_status;
namespace hw = common::can_hardware_parameters;
namespace ir = common::cnc_init_record;
using testing::StandInDriverLink;

const bool kOwnNamespace = [] {
  const std::string name = "kernel-status-bus-" + std::to_string(getpid());
  return setenv("VANTOR_NAMESPACE", name.c_str(), 1) == 0;
}();

constexpr std::uint16_t kDigitalInputs = 0x60FD;
constexpr std::uint16_t kErrorRegister = 0x1003;
constexpr std::uint8_t kSlaveDrive = 3;
constexpr std::uint32_t kSlaveAxis = 1;  // the gantry axis, node 2

class CompleteStatusOnTheBusTest : public canopen::testing::RealBusFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOwnNamespace);
    StartBus();
    ASSERT_FALSE(HasFatalFailure());
    kernel_.link.communicationMapping =
        os::Mapping::CreateUnnamed(common::kCommunicationBlockSize).take();
    kernel_.standard.applicationReady =
        os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
    kernel_.standard.kernelReady = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
    kernel_.driverLink = &link_;
    kernel_.instance = {common::InterfaceType::Pci, common::Channel::CanOne};
    kernel_.settings.hardware.Set(hw::kInterruptCycle, kBusCycle);
    kernel_.settings.hardware.Set(hw::kBaudRateForCan, std::uint8_t{5});
    kernel_.settings.hardware.Set(hw::kLookAheadDesPosiMaxNo, std::int16_t{40});
    // The status measures its second on the bus's clock.
    kernel_.millisecondTick = [this] {
      return static_cast<std::uint32_t>(MonotonicMilliseconds());
    };
    pathBuffer_ = os::Mapping::CreateOrOpen(
                      common::ChannelObjectName(common::Channel::CanOne,
                                                common::ChannelObject::PathBufferMapping),
                      8192)
                      .take();
    WriteGantryRecord();
    ASSERT_EQ(Run(12), common::kKernelSuccess);
    UseNodes(kernel_.data.nodeConfiguration.table);
    cycle_ = std::thread([this] { RunTheCycle(); });
  }

  void TearDown() override {
    StopTheCycle();
    FreeNodeObjects(kernel_);
  }

  void StopTheCycle() {
    if (!cycle_.joinable()) return;
    stop_ = true;
    cycle_.join();
  }

  // X on drive 1 (it gives the SYNC), Y on drive 2 with the gantry slave 3.
  void WriteGantryRecord() {
    auto record = *kernel_.Block().MutableWindow<common::kCncInitRecordSize>(cb::kPayloadOffset);
    record.Set(ir::kCoorNo, 2);
    record.Set(ir::kInterAxisNo, 2);
    record.Set(ir::kAxisNo, 2);
    record.Set(ir::kHandlingAxisNo, 0);
    record.Set(ir::kSynNodeNo, 1);
    record.Set(ir::kMaxNoBufferedPathVec, 10);
    record.Set(ir::kAmplifyMaxNoBufferedDesCoor, std::int16_t{20});
    record.Set(ir::kTeachInAmplifyMaxNoBufferedDesCoor, std::int16_t{10});
    record.Set(ir::kTeachInLookAheadDesPosiMaxNo, std::int16_t{30});
    record.Set(ir::kCanMsgMaxWaitTime, 40000.0);
    std::size_t at = cb::PayloadAt(common::kCncInitRecordSize);
    auto put = [&](std::int32_t value) {
      kernel_.Block().Store<std::int32_t>(at, value);
      at += 4;
    };
    for (int c = 0; c < 2; ++c) {
      for (int word = 0; word < 8; ++word) put(word == 1 ? 1 : 0);
    }
    for (std::int32_t word : {1, 0, 0, 2, 1, 3}) put(word);
  }

  common::StatusCode Run(std::uint32_t code) {
    kernel_.Block().Set(cb::kCommandCode, code);
    kernel_.Block().Set(cb::kResult, common::kKernelSuccess);
    ++handlerRunning_;
    static_cast<void>(DispatchCommand(kernel_));
    --handlerRunning_;
    kernel_.standard.kernelReady.Reset();
    return kernel_.Block().Get(cb::kResult);
  }

  // The kernel's cycle: under its mutex and lock set, the node steps, the
  // exchange with the driver and the clock stepped to its answer.
  void RunTheCycle() {
    while (!stop_.load() && cycleRunning_) {
      if (!os::WaitForOne(link_.cycleMutex, os::kInfinite).acquired()) break;
      if (LockStatusData(kernel_.data)) {
        RunCycle();
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

  // How often drive `id` was asked for `index` over SDO.
  std::size_t SdoReadsOf(std::uint8_t id, std::uint16_t index) {
    const auto accesses = SdoAccessesOf(id);
    return static_cast<std::size_t>(std::count_if(
        accesses.begin(), accesses.end(), [index](const auto& a) { return a.index == index; }));
  }

  std::uint32_t SlaveWord(cs::AxisSection section, std::size_t within) {
    return *kernel_.Block().Load<std::uint32_t>(
        cb::PayloadAt(cs::AxisOffset(section, kSlaveAxis, within)));
  }

  static constexpr std::uint32_t kBusCycle = 2000;

  Kernel kernel_;
  StandInDriverLink link_;
  os::Mapping pathBuffer_;
  std::atomic<bool> stop_{false};
  std::atomic<int> handlerRunning_{0};
  std::thread cycle_;
};

TEST_F(CompleteStatusOnTheBusTest, InQuickStopReadsTheSlaveInputsOncePerSecond) {
  ASSERT_EQ(kernel_.data.state.stopped, 1u) << "a fresh configuration stands in quick stop";
  // The slave stands on its negative limit switch.
  ASSERT_TRUE(Models([&](sim::Machine&) {
    return Drive(kSlaveDrive).SetSwitchPosition(sim::drives::DriveSwitch::kNegativeLimit, 1000);
  }));

  ASSERT_EQ(Run(24), common::kKernelSuccess);
  const std::uint64_t firstRead = MonotonicMilliseconds();
  EXPECT_EQ(SdoReadsOf(kSlaveDrive, kDigitalInputs), 1u);
  EXPECT_EQ(SlaveWord(cs::kCurrentSlaveState, cs::kSlaveNegativeLimitOKWord), 0u);
  EXPECT_EQ(SlaveWord(cs::kCurrentSlaveState, cs::kSlavePositiveLimitOKWord), 1u);
  for (std::uint8_t drive = 1; drive <= 3; ++drive) {
    EXPECT_EQ(SdoReadsOf(drive, kErrorRegister), 1u) << "drive " << int{drive};
  }

  // The switch moves away; the status is asked for without a pause for
  // three and a half seconds of the bus's time.
  ASSERT_TRUE(Models([&](sim::Machine&) {
    return Drive(kSlaveDrive).SetSwitchPosition(sim::drives::DriveSwitch::kNegativeLimit, -1000000);
  }));
  int requests = 1;
  while (MonotonicMilliseconds() < firstRead + 3500) {
    ASSERT_EQ(Run(24), common::kKernelSuccess);
    ++requests;
  }
  EXPECT_GT(requests, 8) << "the status was asked for often within each second";
  EXPECT_EQ(SdoReadsOf(kSlaveDrive, kDigitalInputs), 4u) << "once per second";
  EXPECT_EQ(SlaveWord(cs::kCurrentSlaveState, cs::kSlaveNegativeLimitOKWord), 1u);
  EXPECT_EQ(SlaveWord(cs::kLatchedSlaveState, cs::kSlaveNegativeLimitOKWord), 0u)
      << "the latched word stays until the reset";
  for (std::uint8_t drive = 1; drive <= 3; ++drive) {
    EXPECT_EQ(SdoReadsOf(drive, kErrorRegister), 1u) << "errors are read once";
  }
  // Every read went back to the node's own SDO identifiers.
  EXPECT_EQ(kernel_.data.nodeConfiguration.records[1].can->sdoRequestCobId, 0x602);
}

}  // namespace
}  // namespace vantor::kernel
