// A master on the card's first controller talks to a node at 500 kbit/s, at
// every bit rate the drivers can program: only the node's own rate gets an
// answer; at any other the master's frames go unacknowledged and the
// frames of the node are errors to it, as on a real bus.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "common/driver_records.h"
#include "sim/canopen/node_factory.h"
#include "sim/canopen/tests/node_harness.h"
#include "sim/hardware/i82527_registers.h"
#include "sim/hardware/tests/card_fixture.h"

namespace vantor::sim::canopen {
namespace {

using namespace nodetest;
using sim::testing::CardOnBus;
using sim::testing::ControllerAccess;

constexpr std::uint32_t kNodeBitRate = 500000;
constexpr std::uint8_t kNode = 5;
constexpr int kAnswerObject = 1;
constexpr int kRequestObject = 2;
constexpr std::uint8_t kStatusRegister = 0x01;
constexpr std::uint8_t kStatusWarning = 0x40;
constexpr std::uint8_t kStatusBusOff = 0x80;
constexpr int kErrorPassiveCount = 128;
constexpr int kErrorWarningCount = 96;

struct MasterAndNode {
  explicit MasterAndNode(const common::BitRateTiming& timing) : master(rig.Channel(1)) {
    NodeCreation created = CreateNode(
        "generic", kNode, nlohmann::json{{"bit_rate", kNodeBitRate}, {"boot_time_ms", 5}});
    EXPECT_NE(created.station, nullptr) << created.error;
    if (created.station == nullptr) return;
    station = created.station.get();
    rig.machine.AddStation("can0", std::move(created.station));
    // The second controller stays in initialisation: it acknowledges nothing.
    EXPECT_TRUE(master.Detect());
    master.InitBus(timing.timing0, timing.timing1);
    master.SetGlobalStandardMask(0x7FF);
    master.ConfigureReceive(kAnswerObject, 0x580 + kNode);
  }

  I82527& Controller() { return rig.card->Controller(0); }

  CardOnBus rig;
  ControllerAccess master;
  NodeStation* station = nullptr;
};

TEST(MasterAtEachBitRate, OnlyTheNodesRateIsAnsweredAnyOtherSeesTheControllersErrors) {
  for (std::uint8_t code = 0; code < common::kBitRateCodeCount; ++code) {
    const common::BitRateTiming& timing = common::kBitRateTimings[code];
    SCOPED_TRACE(std::to_string(timing.bitsPerSecond) + " bit/s");
    const bool sameRate = timing.bitsPerSecond == kNodeBitRate;
    MasterAndNode bus(timing);
    ASSERT_NE(bus.station, nullptr);

    // The node boots and sends its boot-up frame: heard only at its rate,
    // and at any other a receive error to the master each time it is tried.
    bus.rig.machine.Sim().AdvanceBy(40 * kMs);
    if (sameRate) {
      EXPECT_EQ(bus.Controller().ReceiveErrorCount(), 0);
      EXPECT_EQ(bus.station->UnreadableFrames(), 0u);
    } else {
      EXPECT_GE(bus.Controller().ReceiveErrorCount(), 1);
      EXPECT_EQ(bus.master.Read(kStatusRegister) & i82527::kStatusLastErrorMask,
                i82527::kLastErrorStuff);
    }

    // An SDO upload of the device type.
    bus.station->Node().Log().Clear();
    bus.master.LoadAndSend(kRequestObject, 0x600 + kNode,
                           Frame(0x600 + kNode, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}));
    // Long enough for twenty attempts of an 8-byte frame at 10 kbit/s.
    bus.rig.machine.Sim().AdvanceBy(300 * kMs);
    const ControllerAccess::ObjectRead answer = bus.master.ReadObject(kAnswerObject);
    const std::uint8_t status = bus.master.Read(kStatusRegister);
    if (sameRate) {
      EXPECT_EQ(answer.result, 1);
      EXPECT_EQ(answer.frame.data[0], 0x43);
      EXPECT_EQ(bus.Controller().TransmitErrorCount(), 0);
      EXPECT_EQ(bus.station->Node().Log().Events().size(), 1u);
      continue;
    }
    EXPECT_EQ(answer.result, 0) << "no answer at another rate";
    EXPECT_TRUE(bus.station->Node().Log().Events().empty()) << "the node never read the request";
    EXPECT_GE(bus.station->UnreadableFrames(), 16u);
    EXPECT_EQ(status & i82527::kStatusLastErrorMask, i82527::kLastErrorAcknowledge);
    EXPECT_EQ(status & (kStatusWarning | kStatusBusOff), kStatusWarning);
    EXPECT_EQ(bus.Controller().TransmitErrorCount(), kErrorPassiveCount)
        << "error passive: it keeps trying, never bus-off";
    EXPECT_EQ(bus.master.Read(ControllerAccess::Object(kRequestObject, 1)) & 0x30, 0x20)
        << "the request stays pending";
  }
}

TEST(MasterAtEachBitRate, AReceiverAtAnotherRateCountsErrorsUpToTheWarningLevel) {
  MasterAndNode bus(common::kBitRateTimings[7]);
  ASSERT_NE(bus.station, nullptr);
  // Nobody acknowledges the boot-up frame at 500 kbit/s, so the node keeps
  // sending it; every attempt is an error to the master at 1 Mbit/s.
  bus.rig.machine.Sim().AdvanceBy(200 * kMs);
  EXPECT_GE(bus.Controller().ReceiveErrorCount(), kErrorWarningCount);
  EXPECT_EQ(bus.master.Read(kStatusRegister) & (kStatusWarning | kStatusBusOff), kStatusWarning);
  EXPECT_FALSE(bus.Controller().IsBusOff());
  EXPECT_EQ(bus.master.ReadObject(kAnswerObject).result, 0);
}

}  // namespace
}  // namespace vantor::sim::canopen
