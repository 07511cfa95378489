#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/canopen/canopen_station_kinds.h"
#include "sim/canopen/tests/bus_stations.h"
#include "sim/canopen/tests/node_harness.h"
#include "sim/hardware/machine.h"
#include "sim/hardware/machine_description.h"

namespace vantor::sim::canopen {
namespace {

using namespace nodetest;
using sim::testing::RecordingStation;

// The frames of a candump log without their time stamps.
std::vector<std::string> FramesOf(const std::string& log) {
  std::vector<std::string> frames;
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) frames.push_back(line.substr(line.find(')') + 2));
  return frames;
}

class NodeOnBusTest : public ::testing::Test {
 protected:
  NodeOnBusTest() {
    EXPECT_TRUE(RegisterCanopenStationKinds(kinds));
    MachineLoadResult loaded = LoadMachineDescription(
        R"({"buses": [{"name": "can0", "stations": [
              {"kind": "canopen_generic", "node_id": 5, "boot_time_ms": 10,
               "device_name": "ABCDEFGHIJKLMNOPQ"}]}]})",
        kinds);
    EXPECT_TRUE(loaded) << loaded.error;
    machine = std::move(loaded.machine);
    bus = machine->FindBus("can0");
    bus->SetLog(&log);
    client = AddClient(*machine);
  }

  // Sends one frame and lets the bus run for `span`.
  void Exchange(const CanFrame& frame, SimTime span = 1 * kMs) {
    client->Queue(frame);
    machine->Sim().AdvanceBy(span);
  }

  StationKinds kinds;
  std::unique_ptr<Machine> machine;
  CanBus* bus = nullptr;
  RecordingStation* client = nullptr;
  std::ostringstream log;
};

TEST_F(NodeOnBusTest, TheNodeBootsAndServesAClientThroughTheBus) {
  machine->Sim().AdvanceTo(10 * kMs - 1);
  EXPECT_TRUE(client->heard.empty());
  machine->Sim().AdvanceTo(11 * kMs);
  ASSERT_EQ(client->heard.size(), 1u);
  EXPECT_GE(client->heard[0].time, 10 * kMs);
  EXPECT_EQ(client->heard[0].frame, Frame(0x705, {0x00}));

  Exchange(Frame(0x605, {0x40, 0x08, 0x10, 0x00, 0, 0, 0, 0}));
  Exchange(Frame(0x605, {0x60, 0, 0, 0, 0, 0, 0, 0}));
  Exchange(Frame(0x605, {0x70, 0, 0, 0, 0, 0, 0, 0}));
  Exchange(Frame(0x605, {0x60, 0, 0, 0, 0, 0, 0, 0}));
  Exchange(Remote(0x705));
  Exchange(Frame(0x000, {0x01, 0x05}));
  Exchange(Remote(0x705));

  EXPECT_THAT(FramesOf(log.str()),
              ElementsAre("can0 705#00", "can0 605#4008100000000000", "can0 585#4108100011000000",
                          "can0 605#6000000000000000", "can0 585#0041424344454647",
                          "can0 605#7000000000000000", "can0 585#1048494A4B4C4D4E",
                          "can0 605#6000000000000000", "can0 585#094F505100000000", "can0 705#R",
                          "can0 705#7F", "can0 000#0105", "can0 705#R", "can0 705#85"));
}

TEST(NodesOnOneBus, APolledTimeStampReachesEveryOtherNodesReceivePdo) {
  MachineLoadResult loaded = LoadMachineDescription(R"({"buses": [{"name": "can0"}]})", {});
  ASSERT_TRUE(loaded) << loaded.error;
  Machine& machine = *loaded.machine;
  CanopenNode* source = AddNode(machine, "generic", 5);
  CanopenNode* sink = AddNode(machine, "generic", 6);
  ASSERT_NE(source, nullptr);
  ASSERT_NE(sink, nullptr);
  RecordingStation* client = AddClient(machine);

  // Source: TPDO 2 carries 0x1013 on remote request. Sink: RPDO 3 takes it.
  const std::vector<CanFrame> configuration = {
      Frame(0x605, {0x2F, 0x01, 0x1A, 0x00, 0x00, 0, 0, 0}),
      Frame(0x605, {0x23, 0x01, 0x1A, 0x01, 0x20, 0x00, 0x13, 0x10}),
      Frame(0x605, {0x2F, 0x01, 0x1A, 0x00, 0x01, 0, 0, 0}),
      Frame(0x605, {0x2F, 0x01, 0x18, 0x02, 0xFD, 0, 0, 0}),
      Frame(0x606, {0x23, 0x02, 0x14, 0x01, 0x85, 0x02, 0x00, 0x00}),
      Frame(0x606, {0x2F, 0x02, 0x16, 0x00, 0x00, 0, 0, 0}),
      Frame(0x606, {0x23, 0x02, 0x16, 0x01, 0x20, 0x00, 0x13, 0x10}),
      Frame(0x606, {0x2F, 0x02, 0x16, 0x00, 0x01, 0, 0, 0}),
      Frame(0x606, {0x2F, 0x02, 0x14, 0x02, 0xFF, 0, 0, 0}),
      Frame(0x000, {0x01, 0x00}),
  };
  for (const CanFrame& frame : configuration) client->Queue(frame);
  machine.Sim().AdvanceTo(10 * kMs);
  ASSERT_EQ(source->State(), NmtState::kOperational);
  ASSERT_EQ(sink->State(), NmtState::kOperational);

  source->Objects().SetUnsigned(0x1013, 0, 0xCAFE0042);
  client->Queue(kSync);
  client->Queue(Remote(0x285));
  machine.Sim().AdvanceBy(1 * kMs);
  EXPECT_EQ(sink->Objects().Unsigned(0x1013, 0), 0xCAFE0042u);
  EXPECT_EQ(client->heard.back().frame, Frame(0x285, {0x42, 0x00, 0xFE, 0xCA}));
}

}  // namespace
}  // namespace vantor::sim::canopen
