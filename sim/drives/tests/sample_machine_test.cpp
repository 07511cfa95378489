#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "sim/canopen/canopen_station_kinds.h"
#include "sim/canopen/tests/bus_stations.h"
#include "sim/canopen/tests/node_harness.h"
#include "sim/canopen/tests/pdo_write_orders.h"
#include "sim/drives/drive_kinds.h"
#include "sim/hardware/machine.h"
#include "sim/hardware/machine_description.h"

namespace vantor::sim::drives {
namespace {

using canopen::nodetest::AddClient;
using canopen::nodetest::AddNode;
using canopen::nodetest::Frame;
using canopen::nodetest::kMs;
using sim::testing::RecordingStation;

class SampleMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterDeviceNodeKinds());
    ASSERT_TRUE(canopen::RegisterCanopenStationKinds(kinds));
    MachineLoadResult loaded = LoadMachineDescriptionFile(VANTOR_SAMPLE_MACHINE, kinds);
    ASSERT_TRUE(loaded) << loaded.error;
    machine = std::move(loaded.machine);
    client = AddClient(*machine, "can0", kSampleBusBitTime);
  }

  // The sample machine's bus runs at 500 kbit/s.
  static constexpr SimTime kSampleBusBitTime = 2000;

  // One request; the last frame heard from `answerId` within 5 ms.
  std::optional<CanFrame> Request(const CanFrame& frame, std::uint16_t answerId) {
    client->heard.clear();
    client->Queue(frame);
    machine->Sim().AdvanceBy(5 * kMs);
    std::optional<CanFrame> answer;
    for (const RecordingStation::Heard& heard : client->heard) {
      if (heard.frame.identifier == answerId) answer = heard.frame;
    }
    return answer;
  }

  StationKinds kinds;
  std::unique_ptr<Machine> machine;
  RecordingStation* client = nullptr;
};

TEST_F(SampleMachineTest, EveryNodeBootsAndADriveIsEnabledOverTheBus) {
  machine->Sim().AdvanceTo(300 * kMs);
  std::vector<std::uint16_t> booted;
  for (const RecordingStation::Heard& heard : client->heard)
    booted.push_back(heard.frame.identifier);
  std::sort(booted.begin(), booted.end());
  EXPECT_THAT(booted, ::testing::ElementsAre(0x701, 0x702, 0x703, 0x704, 0x70A, 0x714));

  client->Queue(Frame(0x000, {0x01, 0x00}));
  for (const std::uint8_t controlword : {0x06, 0x07, 0x0F}) {
    const auto answer =
        Request(Frame(0x601, {0x2B, 0x40, 0x60, 0x00, controlword, 0, 0, 0}), 0x581);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->data[0], 0x60);
  }
  const auto status = Request(Frame(0x601, {0x40, 0x41, 0x60, 0x00, 0, 0, 0, 0}), 0x581);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->data[4] & 0x6F, 0x27);
  const auto position = Request(Frame(0x601, {0x40, 0x64, 0x60, 0x00, 0, 0, 0, 0}), 0x581);
  ASSERT_TRUE(position);
  EXPECT_EQ(position->data[4] | (position->data[5] << 8) | (position->data[6] << 16), 150000);

  // Every drive stays in quick stop active, so the kernel may resume it
  // with enable operation.
  for (const std::uint8_t node : {1, 2, 3}) {
    const auto code = Request(
        Frame(static_cast<std::uint16_t>(0x600 + node), {0x40, 0x5A, 0x60, 0x00, 0, 0, 0, 0}),
        static_cast<std::uint16_t>(0x580 + node));
    ASSERT_TRUE(code) << int{node};
    EXPECT_EQ(code->data[4], 6) << int{node};
  }
}

// Node 4 is the dual power stage drive: its identification text is longer
// than the 49 characters a master keeps, so a master must cut and abort.
TEST_F(SampleMachineTest, TheDualDriveAnnouncesAnIdentificationTextBeyond49Characters) {
  machine->Sim().AdvanceTo(300 * kMs);
  const auto answer = Request(Frame(0x604, {0x40, 0x0A, 0x10, 0x00, 0, 0, 0, 0}), 0x584);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->data[0], 0x41) << "segmented, size indicated";
  const std::uint32_t size = answer->data[4] | (answer->data[5] << 8);
  EXPECT_GT(size, 49u);
}

// The nodes of the sample machine keep the write-order leniency, because
// the kernel rewrites PDOs while they are valid: its whole PDO set-up, sent
// over the bus, is taken by every drive and by the handwheel gateway, and
// the drives then answer SYNC with the feedback PDO it configured.
TEST_F(SampleMachineTest, EveryNodeTakesTheKernelsPdoSetUp) {
  using canopen::PdoDirection;
  using canopen::nodetest::KernelDriveLayouts;
  using canopen::nodetest::KernelResetLayouts;
  using canopen::nodetest::PdoSetup;
  constexpr std::uint8_t kGateway = 20;
  std::vector<std::pair<std::uint8_t, PdoSetup>> setUp;
  for (const std::uint8_t drive : {1, 2, 3, 4}) {
    for (const PdoSetup& layout : KernelResetLayouts(drive)) setUp.emplace_back(drive, layout);
    for (const PdoSetup& layout : KernelDriveLayouts(drive)) setUp.emplace_back(drive, layout);
  }
  setUp.emplace_back(
      kGateway,
      PdoSetup{PdoDirection::kReceive, 1, 0x200u + kGateway, {0x20000108, 0x20000208}, 255});
  setUp.emplace_back(kGateway, PdoSetup{PdoDirection::kTransmit,
                                        1,
                                        0x180u + kGateway,
                                        {0x20010208, 0x20010308, 0x64010010},
                                        255});

  machine->Sim().AdvanceTo(300 * kMs);
  for (const auto& [node, layout] : setUp) {
    for (const canopen::nodetest::ParameterWrite& write :
         canopen::nodetest::KernelSetupOrder(layout)) {
      const auto answer = Request(canopen::nodetest::DownloadFrame(node, write),
                                  static_cast<std::uint16_t>(0x580 + node));
      ASSERT_TRUE(answer) << int{node};
      EXPECT_EQ(canopen::nodetest::DownloadOutcome(*answer), 0u)
          << "node " << int{node} << ", " << std::hex << write.index << ":" << int{write.subindex};
    }
  }

  client->Queue(Frame(0x000, {0x01, 0x00}));
  machine->Sim().AdvanceBy(5 * kMs);
  client->heard.clear();
  client->Queue(Frame(0x080, {}));
  machine->Sim().AdvanceBy(5 * kMs);
  std::vector<std::uint16_t> feedback;
  for (const RecordingStation::Heard& heard : client->heard) {
    if (heard.frame.identifier >= 0x181 && heard.frame.identifier <= 0x184 &&
        heard.frame.length == 7) {
      feedback.push_back(heard.frame.identifier);
    }
  }
  std::sort(feedback.begin(), feedback.end());
  EXPECT_THAT(feedback, ::testing::ElementsAre(0x181, 0x182, 0x183, 0x184));
}

// A running node that had only its clock follow time would leave work due
// at the present after every step, and the host would run the whole
// machine again for nothing; the drive's clock still counts time when it
// is read.
TEST_F(SampleMachineTest, RunningNodesLeaveNothingDueAtThePresentAndTheDriveClockStillCounts) {
  machine->Sim().AdvanceTo(300 * kMs);
  client->Queue(Frame(0x000, {0x01, 0x00}));
  for (const std::uint8_t controlword : {0x06, 0x07, 0x0F}) {
    ASSERT_TRUE(Request(Frame(0x601, {0x2B, 0x40, 0x60, 0x00, controlword, 0, 0, 0}), 0x581));
  }
  const auto readClock = [&]() -> std::optional<std::uint32_t> {
    const auto answer = Request(Frame(0x601, {0x40, 0x53, 0x20, 0x00, 0, 0, 0, 0}), 0x581);
    if (!answer || answer->data[0] != 0x43) return std::nullopt;
    return answer->data[4] | (answer->data[5] << 8) | (answer->data[6] << 16) |
           (static_cast<std::uint32_t>(answer->data[7]) << 24);
  };
  const std::optional<std::uint32_t> first = readClock();
  ASSERT_TRUE(first);

  constexpr SimTime kStep = 3 * kMs + 123'456;
  for (int step = 0; step < 10; ++step) {
    machine->Sim().AdvanceBy(kStep);
    EXPECT_GT(machine->Sim().NextDeadline(), machine->Sim().Now()) << "step " << step;
  }
  // Both requests take the same way over the bus, so the clock counts the
  // time between them: five milliseconds of the first request and the steps.
  const std::optional<std::uint32_t> second = readClock();
  ASSERT_TRUE(second);
  EXPECT_EQ(*second - *first, (5 * kMs + 10 * kStep) / 1000);
}

// The sample machine is the one a user first homes: every drive stands a
// short way above the negative limit switch its default method (17) looks
// for, so homing ends in seconds, on the switch, and without error.
TEST_F(SampleMachineTest, EveryDriveHomesOnItsNegativeSwitchWithinSeconds) {
  constexpr std::uint8_t kDrives[] = {1, 2, 3, 4};
  constexpr SimTime kLongestHoming = 15'000 * kMs;
  machine->Sim().AdvanceTo(300 * kMs);
  client->Queue(Frame(0x000, {0x01, 0x00}));
  const auto upload = [&](std::uint8_t node, std::uint16_t index) -> std::optional<std::uint32_t> {
    const auto answer = Request(Frame(static_cast<std::uint16_t>(0x600 + node),
                                      {0x40, static_cast<std::uint8_t>(index),
                                       static_cast<std::uint8_t>(index >> 8), 0x00, 0, 0, 0, 0}),
                                static_cast<std::uint16_t>(0x580 + node));
    if (!answer || (answer->data[0] & 0xE3) != 0x43) return std::nullopt;
    return answer->data[4] | (answer->data[5] << 8) | (answer->data[6] << 16) |
           (static_cast<std::uint32_t>(answer->data[7]) << 24);
  };
  for (const std::uint8_t node : kDrives) {
    const auto id = static_cast<std::uint16_t>(0x600 + node);
    const auto answerId = static_cast<std::uint16_t>(0x580 + node);
    EXPECT_EQ(upload(node, 0x6098).value_or(0) & 0xFF, 17u) << int{node};
    ASSERT_TRUE(Request(Frame(id, {0x2F, 0x60, 0x60, 0x00, 6, 0, 0, 0}), answerId));
    for (const std::uint8_t controlword : {0x06, 0x07, 0x0F, 0x1F}) {
      ASSERT_TRUE(Request(Frame(id, {0x2B, 0x40, 0x60, 0x00, controlword, 0, 0, 0}), answerId));
    }
  }
  const SimTime started = machine->Sim().Now();
  std::vector<std::uint8_t> homing(std::begin(kDrives), std::end(kDrives));
  while (!homing.empty() && machine->Sim().Now() - started < kLongestHoming) {
    machine->Sim().AdvanceBy(500 * kMs);
    std::erase_if(homing, [&](std::uint8_t node) {
      const std::uint32_t status = upload(node, 0x6041).value_or(0);
      EXPECT_EQ(status & 0x2000, 0u) << "node " << int{node} << " reports a homing error";
      return (status & 0x1000) != 0;
    });
  }
  EXPECT_TRUE(homing.empty()) << homing.size() << " drive(s) still homing after "
                              << kLongestHoming / kMs << " ms";
  for (const std::uint8_t node : kDrives) {
    EXPECT_EQ(upload(node, 0x6064), 0u) << "node " << int{node} << " stands at its new zero";
  }
}

// The handwheel link over the bus: the gateway's transmit PDO lands directly
// in a drive's receive PDO, and the selected drive moves by itself.
TEST(HandwheelOnTheBus, GatewayPulsesMoveTheLinkedDrive) {
  MachineLoadResult loaded = LoadMachineDescription(R"({"buses": [{"name": "can0"}]})", {});
  ASSERT_TRUE(loaded) << loaded.error;
  Machine& machine = *loaded.machine;
  ASSERT_TRUE(RegisterDeviceNodeKinds());
  canopen::CanopenNode* drive = AddNode(machine, "ds402_drive", 1);
  canopen::CanopenNode* gateway = AddNode(machine, "handwheel_gateway", 20);
  ASSERT_NE(drive, nullptr);
  ASSERT_NE(gateway, nullptr);
  canopen::ObjectDictionary& driveObjects = drive->Objects();
  canopen::ObjectDictionary& gatewayObjects = gateway->Objects();
  RecordingStation* client = AddClient(machine);

  // Receive PDO 4 of the drive on the gateway's transmit PDO; selector bit
  // 0, ten increments a pulse; linked, enabled in profile position, active.
  const std::vector<CanFrame> link = {
      Frame(0x601, {0x23, 0x03, 0x14, 0x01, 0x94, 0x01, 0x00, 0x00}),
      Frame(0x601, {0x2F, 0x03, 0x16, 0x00, 0x00, 0, 0, 0}),
      Frame(0x601, {0x23, 0x03, 0x16, 0x01, 0x10, 0x0C, 0x5D, 0x20}),
      Frame(0x601, {0x23, 0x03, 0x16, 0x02, 0x10, 0x0D, 0x5D, 0x20}),
      Frame(0x601, {0x2F, 0x03, 0x16, 0x00, 0x02, 0, 0, 0}),
      Frame(0x601, {0x2F, 0x03, 0x14, 0x02, 0xFF, 0, 0, 0}),
      Frame(0x601, {0x2B, 0x5D, 0x20, 0x03, 0x01, 0x00, 0, 0}),
      Frame(0x601, {0x2B, 0x5D, 0x20, 0x06, 0x0A, 0x00, 0, 0}),
      Frame(0x601, {0x2F, 0x5D, 0x20, 0x01, 0x01, 0, 0, 0}),
      Frame(0x601, {0x2B, 0x40, 0x60, 0x00, 0x06, 0x00, 0, 0}),
      Frame(0x601, {0x2B, 0x40, 0x60, 0x00, 0x07, 0x00, 0, 0}),
      Frame(0x601, {0x2B, 0x40, 0x60, 0x00, 0x0F, 0x00, 0, 0}),
      Frame(0x601, {0x2F, 0x60, 0x60, 0x00, 0x01, 0, 0, 0}),
      Frame(0x601, {0x2F, 0x5D, 0x20, 0x12, 0x01, 0, 0, 0}),
      Frame(0x601, {0x2B, 0x40, 0x60, 0x00, 0x1F, 0x00, 0, 0}),
      Frame(0x000, {0x01, 0x00}),
  };
  for (const CanFrame& frame : link) client->Queue(frame);
  machine.Sim().AdvanceTo(20 * kMs);
  ASSERT_EQ(driveObjects.Unsigned(0x6041, 0) & 0x6F, 0x27u);

  gatewayObjects.SetUnsigned(0x6401, 0, 100);
  machine.Sim().AdvanceBy(2 * kMs);
  gatewayObjects.SetUnsigned(0x2001, 2, 0x01);
  gatewayObjects.SetUnsigned(0x6401, 0, 112);
  machine.Sim().AdvanceBy(200 * kMs);
  EXPECT_EQ(driveObjects.Unsigned(0x6064, 0), 120u);
}

}  // namespace
}  // namespace vantor::sim::drives
