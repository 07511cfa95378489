// Command 24 in quick stop over the real channel-1 driver: the kernel's
// handlers in this process, the simulated drives 1, 2 and 3 on the card's
// bus, and a cycle thread that runs the node steps and exchanges the record
// with the driver on the virtual clock. Drive 2 carries the gantry slave 3,
// whose limit inputs the status reads through node 2's slot.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/complete_status_record.h"
#include "kernel/tests/kernel_bus_fixture.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;
namespace cs = common::complete_status;
using testing::KernelBusFixture;

constexpr std::uint16_t kDigitalInputs = 0x60FD;
constexpr std::uint16_t kErrorRegister = 0x1003;
constexpr std::uint8_t kSlaveDrive = 3;
constexpr std::uint32_t kSlaveAxis = 1;  // the gantry axis, node 2

class CompleteStatusOnTheBusTest : public KernelBusFixture {
 protected:
  // X on drive 1 (it gives the SYNC), Y on drive 2 with the gantry slave 3.
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartKernel());
    ASSERT_EQ(InitialiseAndStartTheCycle({.nodes = {{1, 0}, {2, kSlaveDrive}}}),
              common::kKernelSuccess);
  }

  std::uint32_t SlaveWord(cs::AxisSection section, std::size_t within) {
    return *kernel_.Block().Load<std::uint32_t>(
        cb::PayloadAt(cs::AxisOffset(section, kSlaveAxis, within)));
  }
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
