#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/canopen/canopen_station_kinds.h"
#include "sim/canopen/node_factory.h"
#include "sim/canopen/tests/node_harness.h"
#include "sim/hardware/machine.h"
#include "sim/hardware/machine_description.h"

namespace vantor::sim::canopen {
namespace {

using nodetest::Frame;
using nodetest::kMs;
using nodetest::Remote;
using ::testing::ElementsAre;

// A client on the bus that sends what the test gives it and keeps what it hears.
class ScriptedClient final : public CanStation {
 public:
  void Send(const CanFrame& frame) { outbox_.push_back(frame); }

  std::optional<CanFrame> FrameToSend() override {
    if (outbox_.empty()) return std::nullopt;
    return outbox_.front();
  }
  SimTime BitTime() const override { return 1000; }
  void FrameSent(SimTime) override { outbox_.pop_front(); }
  void FrameFailed(CanTransmitError, SimTime) override {}
  bool Acknowledges() const override { return true; }
  void FrameReceived(const CanFrame& frame, SimTime now) override {
    heard.emplace_back(now, frame);
  }

  std::vector<std::pair<SimTime, CanFrame>> heard;

 private:
  std::deque<CanFrame> outbox_;
};

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
    client = static_cast<ScriptedClient*>(
        machine->AddStation("can0", std::make_unique<ScriptedClient>()));
  }

  // Sends one frame and lets the bus run for `span`.
  void Exchange(const CanFrame& frame, SimTime span = 1 * kMs) {
    client->Send(frame);
    machine->Sim().AdvanceBy(span);
  }

  StationKinds kinds;
  std::unique_ptr<Machine> machine;
  CanBus* bus = nullptr;
  ScriptedClient* client = nullptr;
  std::ostringstream log;
};

TEST_F(NodeOnBusTest, TheNodeBootsAndServesAClientThroughTheBus) {
  machine->Sim().AdvanceTo(10 * kMs - 1);
  EXPECT_TRUE(client->heard.empty());
  machine->Sim().AdvanceTo(11 * kMs);
  ASSERT_EQ(client->heard.size(), 1u);
  EXPECT_GE(client->heard[0].first, 10 * kMs);
  EXPECT_EQ(client->heard[0].second, Frame(0x705, {0x00}));

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
  auto source = CreateNode("generic", 5, nlohmann::json::object());
  auto sink = CreateNode("generic", 6, nlohmann::json::object());
  ASSERT_NE(source.station, nullptr);
  ASSERT_NE(sink.station, nullptr);
  CanopenNode& sourceNode = source.station->Node();
  CanopenNode& sinkNode = sink.station->Node();
  machine.AddStation("can0", std::move(source.station));
  machine.AddStation("can0", std::move(sink.station));
  auto* client =
      static_cast<ScriptedClient*>(machine.AddStation("can0", std::make_unique<ScriptedClient>()));

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
  for (const CanFrame& frame : configuration) client->Send(frame);
  machine.Sim().AdvanceTo(10 * kMs);
  ASSERT_EQ(sourceNode.State(), NmtState::kOperational);
  ASSERT_EQ(sinkNode.State(), NmtState::kOperational);

  sourceNode.Objects().SetUnsigned(0x1013, 0, 0xCAFE0042);
  client->Send(Frame(0x080, {}));
  client->Send(Remote(0x285));
  machine.Sim().AdvanceBy(1 * kMs);
  EXPECT_EQ(sinkNode.Objects().Unsigned(0x1013, 0), 0xCAFE0042u);
  EXPECT_EQ(client->heard.back().second, Frame(0x285, {0x42, 0x00, 0xFE, 0xCA}));
}

}  // namespace
}  // namespace vantor::sim::canopen
