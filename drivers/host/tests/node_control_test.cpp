// The node commands over the control endpoint's own socket: each reaches
// its node and device, and each wrong bus, node, object or value gets an
// answer that names it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "drivers/host/tests/control_endpoint_fixture.h"
#include "sim/canopen/node_station.h"
#include "sim/drives/drive_model.h"
#include "sim/drives/handwheel_gateway.h"

namespace vantor::host::testing {
namespace {

using sim::canopen::NodeService;
using sim::drives::DriveState;

// Two current drives, an older one without A/D converter, an I/O module, a
// handwheel gateway and a bare node; a second bus without nodes.
constexpr std::string_view kNodeMachine = R"({
  "buses": [
    { "name": "can0", "stations": [
      { "kind": "canopen_ds402_drive", "node_id": 1, "negative_limit": -5000,
        "positive_limit": 5000, "start_position": 100 },
      { "kind": "canopen_ds402_drive", "node_id": 2 },
      { "kind": "canopen_ds402_drive", "node_id": 4, "variant": "compact" },
      { "kind": "canopen_io_module", "node_id": 10 },
      { "kind": "canopen_handwheel_gateway", "node_id": 20 },
      { "kind": "canopen_generic", "node_id": 30 } ] },
    { "name": "can1" }
  ]
})";

constexpr auto kMs = devhost::MillisecondsToTicks(1);

class NodeControlTest : public ControlEndpointFixture {
 protected:
  NodeControlTest() : ControlEndpointFixture(kNodeMachine) {
    // Every node has booted and is pre-operational, so it may send.
    clock_.Advance(10 * kMs);
    frames_.Take();
  }

  std::string Run(std::string_view line) { return client_->Command(line); }

 public:
  // For the cases' checks; the model lock is held by the caller.
  sim::canopen::NodeStation& Station(unsigned id) {
    for (sim::CanStation* station : machine_->Models().FindBus("can0")->Stations()) {
      auto* node = dynamic_cast<sim::canopen::NodeStation*>(station);
      if (node != nullptr && node->Node().Id() == id) return *node;
    }
    ADD_FAILURE() << "no node " << id;
    return *dynamic_cast<sim::canopen::NodeStation*>(
        machine_->Models().FindBus("can0")->Stations().front());
  }
  std::uint64_t Value(unsigned id, std::uint16_t index, std::uint8_t subindex) {
    return Station(id).Node().Objects().Unsigned(index, subindex);
  }
  sim::drives::DriveModel& Drive(unsigned id) {
    return *dynamic_cast<sim::drives::DriveModel*>(Station(id).Application());
  }

 protected:
  // The frames on the buses once `time` has passed.
  std::string FramesAfter(devhost::Ticks time) {
    clock_.Advance(time);
    std::string text;
    for (const std::string& line : frames_.Take()) text += line + "\n";
    return text;
  }
};

TEST_F(NodeControlTest, EachCommandReachesItsNodeAndDevice) {
  struct Case {
    const char* line;
    std::function<bool(NodeControlTest&)> took;
  };
  const Case cases[] = {
      {"node can0 1 write 0x6081 0 0x1F400",
       [](NodeControlTest& t) { return t.Value(1, 0x6081, 0) == 128000; }},
      {"node can0 1 write 0x607A 0 -1200",
       [](NodeControlTest& t) { return t.Value(1, 0x607A, 0) == 0xFFFFFB50u; }},
      {"node can0 20 write 0x1008 0 Hand  wheel",
       [](NodeControlTest& t) {
         return t.Station(20).Node().Objects().Find(0x1008, 0)->Text() == "Hand  wheel";
       }},
      {"node can0 2 fault 0x7305",
       [](NodeControlTest& t) {
         return t.Drive(2).State() == DriveState::kFault && t.Value(2, 0x1003, 1) == 0x7305;
       }},
      {"node can0 10 fault 0x5000",
       [](NodeControlTest& t) {
         return t.Value(10, 0x1003, 1) == 0x5000 && t.Value(10, 0x1001, 0) != 0;
       }},
      {"node can0 30 silent on",
       [](NodeControlTest& t) {
         return t.Station(30).Node().Faults().For(NodeService::kSdo).silent &&
                t.Station(30).Node().Faults().For(NodeService::kManagement).silent;
       }},
      {"node can0 30 silent off",
       [](NodeControlTest& t) {
         return !t.Station(30).Node().Faults().For(NodeService::kSdo).silent &&
                !t.Station(30).Node().Faults().For(NodeService::kManagement).silent;
       }},
      {"node can0 1 sdo-abort 0x6041 0 0x06010002",
       [](NodeControlTest& t) {
         const auto* forced = t.Station(1).Node().Faults().ForcedAbortFor(0x6041, 0);
         return forced != nullptr && forced->code == sim::canopen::SdoAbortCode::kReadOnly;
       }},
      {"node can0 1 sdo-abort 0x6041 0 off",
       [](NodeControlTest& t) {
         return t.Station(1).Node().Faults().ForcedAbortFor(0x6041, 0) == nullptr;
       }},
      {"node can0 1 following-error",
       [](NodeControlTest& t) {
         return t.Drive(1).State() == DriveState::kFault && (t.Value(1, 0x6041, 0) & 0x2000) != 0;
       }},
      {"node can0 1 switch home 100",
       [](NodeControlTest& t) { return (t.Value(1, 0x60FD, 0) & 0x07) == 0x04; }},
      {"node can0 1 switch positive-limit 50",
       [](NodeControlTest& t) { return (t.Value(1, 0x60FD, 0) & 0x07) == 0x06; }},
      {"node can0 1 switch positive-limit none",
       [](NodeControlTest& t) { return (t.Value(1, 0x60FD, 0) & 0x07) == 0x04; }},
      {"node can0 1 switch negative-limit 200",
       [](NodeControlTest& t) { return (t.Value(1, 0x60FD, 0) & 0x07) == 0x05; }},
      {"node can0 1 analogue 0x1234",
       [](NodeControlTest& t) { return t.Value(1, 0x2055, 4) == 0x1234; }},
      {"node can0 10 inputs 1 0xA5",
       [](NodeControlTest& t) { return t.Value(10, 0x6000, 2) == 0xA5; }},
      {"node can0 1 inputs 0x90",
       [](NodeControlTest& t) { return (t.Value(1, 0x60FD, 0) & 0xF0) == 0x90; }},
      {"node can0 20 wheel -5", [](NodeControlTest& t) { return t.Value(20, 0x6401, 0) == 65531; }},
      {"node can0 20 buttons 4 0x80",
       [](NodeControlTest& t) {
         return t.Value(20, 0x2001, 2) == 0x04 && t.Value(20, 0x2001, 3) == 0x80;
       }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.line), "ok") << c.line;
    SimulationPump::ModelAccess access(machine_->Pump());
    EXPECT_TRUE(c.took(*this)) << c.line;
  }
}

TEST_F(NodeControlTest, ReadsEveryKindOfValueBack) {
  ASSERT_EQ(Run("node can0 1 write 0x607A 0 0xFFFFFFFE"), "ok");
  ASSERT_EQ(Run("node can0 20 write 0x1008 0 Hand wheel"), "ok");
  ASSERT_EQ(Run("node can0 1 write 0x6081 0 4000000000"), "ok");
  struct Case {
    const char* line;
    const char* answer;
  };
  for (const Case& c :
       {Case{"node can0 1 read 0x607A 0", "ok -2"},
        Case{"node can0 1 read 0x6081 0", "ok 4000000000"},
        Case{"node can0 20 read 0x1008 0", "ok Hand wheel"},
        Case{"node can0 30 read 0x1018 0", "ok 4"}, Case{"NODE can0 0x1E read 0x1018 0", "ok 4"}}) {
    EXPECT_EQ(Run(c.line), c.answer) << c.line;
  }
}

TEST_F(NodeControlTest, RefusalOfEnableHoldsTheDriveUntilGivenBack) {
  const auto controlword = [this](std::uint16_t value) {
    SimulationPump::ModelAccess access(machine_->Pump());
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(value),
                                  static_cast<std::uint8_t>(value >> 8)};
    Station(2).Node().Objects().Write(0x6040, 0, bytes, sim::canopen::WriteOrigin::kSdo);
    return Drive(2).State();
  };
  ASSERT_EQ(Run("node can0 2 refuse-enable on"), "ok");
  controlword(0x06);
  controlword(0x07);
  EXPECT_NE(controlword(0x0F), DriveState::kOperationEnabled);
  ASSERT_EQ(Run("node can0 2 refuse-enable off"), "ok");
  controlword(0x06);
  controlword(0x07);
  EXPECT_EQ(controlword(0x0F), DriveState::kOperationEnabled);
}

TEST_F(NodeControlTest, AnInjectedFaultSendsItsEmergencyUnlessTheNodeIsSilent) {
  ASSERT_EQ(Run("node can0 2 fault 0x7305"), "ok");
  EXPECT_NE(FramesAfter(kMs).find(" can0 082#0573010000000000\n"), std::string::npos);

  ASSERT_EQ(Run("node can0 10 silent on"), "ok");
  ASSERT_EQ(Run("node can0 10 fault 0x5000"), "ok");
  EXPECT_EQ(FramesAfter(kMs).find(" can0 08A#"), std::string::npos);

  ASSERT_EQ(Run("node can0 10 silent off"), "ok");
  ASSERT_EQ(Run("node can0 10 fault 0x5001"), "ok");
  EXPECT_NE(FramesAfter(kMs).find(" can0 08A#0150010000000000\n"), std::string::npos);
}

TEST_F(NodeControlTest, WrongBusNodeObjectOrValueIsNamedInTheAnswer) {
  struct Case {
    std::string line;
    std::string answer;
  };
  const Case cases[] = {
      {"node", "error: node needs a bus, a node id and a command"},
      {"node can0 1", "error: node needs a bus, a node id and a command"},
      {"node can9 1 read 0x1000 0", "error: no bus can9"},
      {std::string("node can\x01\x7F 1 read 0x1000 0"), "error: no bus can??"},
      {"node can0 0 read 0x1000 0", "error: a node id runs from 1 to 127"},
      {"node can0 128 read 0x1000 0", "error: a node id runs from 1 to 127"},
      {"node can0 one read 0x1000 0", "error: a node id runs from 1 to 127"},
      {"node can0 5 read 0x1000 0", "error: no node 5 on can0"},
      {"node can1 1 read 0x1000 0", "error: no node 1 on can1"},
      {"node can0 1 read 0x1000", "error: read needs an index and a subindex"},
      {"node can0 1 read 0x10000 0",
       "error: an object is an index (16 bits) and a subindex (8 bits)"},
      {"node can0 1 read 0x1000 256",
       "error: an object is an index (16 bits) and a subindex (8 bits)"},
      {"node can0 1 read 0x5FFF 0", "error: node 1 on can0 has no object 0x5FFF:00"},
      {"node can0 1 write 0x6040 0", "error: write needs an index, a subindex and a value"},
      {"node can0 1 write 0x6040 0 65536", "error: 0x6040:00 takes an unsigned 16-bit number"},
      {"node can0 1 write 0x6040 0 -1", "error: 0x6040:00 takes an unsigned 16-bit number"},
      {"node can0 1 write 0x6040 0 0x", "error: 0x6040:00 takes an unsigned 16-bit number"},
      {"node can0 1 write 0x6040 0 12 13", "error: 0x6040:00 takes one value"},
      {"node can0 1 write 0x607A 0 2147483648", "error: 0x607A:00 takes a signed 32-bit number"},
      {"node can0 1 write 0x607A 0 -2147483649", "error: 0x607A:00 takes a signed 32-bit number"},
      {"node can0 1 write 0x607A 0 0x100000000", "error: 0x607A:00 takes a signed 32-bit number"},
      {"node can0 20 write 0x1008 0 " + std::string(34, 'x'),
       "error: 0x1008:00 holds at most 33 bytes"},
      {"node can0 20 write 0x1008 0 bell\a", "error: 0x1008:00 takes printable text"},
      {"node can0 1 melt",
       "error: no node command melt (read, write, fault, silent, sdo-abort, "
       "following-error, refuse-enable, switch, analogue, inputs, wheel, buttons)"},
      {"node can0 1 fault", "error: fault needs an emergency code from 0x0001 to 0xFFFF"},
      {"node can0 1 fault 0", "error: fault needs an emergency code from 0x0001 to 0xFFFF"},
      {"node can0 1 fault 0x10000", "error: fault needs an emergency code from 0x0001 to 0xFFFF"},
      {"node can0 1 silent maybe", "error: silent needs on or off"},
      {"node can0 1 sdo-abort 0x6041 0",
       "error: sdo-abort needs an index, a subindex and an abort code or off"},
      {"node can0 1 sdo-abort 0x6041 0 0", "error: an abort code is a 32-bit number other than 0"},
      {"node can0 1 sdo-abort 0x5FFF 0 0x06010002",
       "error: node 1 on can0 has no object 0x5FFF:00"},
      {"node can0 1 following-error now", "error: following-error takes nothing"},
      {"node can0 10 following-error", "error: node 10 on can0 is not a drive"},
      {"node can0 1 refuse-enable", "error: refuse-enable needs on or off"},
      {"node can0 30 refuse-enable on", "error: node 30 on can0 is not a drive"},
      {"node can0 1 switch upper 5",
       "error: switch needs negative-limit, positive-limit or home and a 32-bit position or none"},
      {"node can0 1 switch home 2147483648",
       "error: switch needs negative-limit, positive-limit or home and a 32-bit position or none"},
      {"node can0 1 switch negative-limit 5000",
       "error: node 1 on can0 would have its negative limit at or above its positive limit"},
      {"node can0 10 switch home 0", "error: node 10 on can0 is not a drive"},
      {"node can0 1 analogue 65536", "error: analogue needs a 16-bit value"},
      {"node can0 4 analogue 1", "error: node 4 on can0 has no A/D converter"},
      {"node can0 20 analogue 1", "error: node 20 on can0 is not a drive"},
      {"node can0 10 inputs 2 0", "error: inputs needs an input byte (0 or 1) and its 8-bit value"},
      {"node can0 10 inputs 0 256",
       "error: inputs needs an input byte (0 or 1) and its 8-bit value"},
      {"node can0 1 inputs 0 1", "error: node 1 on can0 is not an I/O module"},
      {"node can0 1 inputs 0x11",
       "error: a drive's inputs are bits 4 to 7 (a value of 0x00 to 0xF0)"},
      {"node can0 10 inputs 0x10",
       "error: inputs needs an input byte (0 or 1) and its 8-bit value"},
      {"node can0 20 wheel 32768", "error: wheel needs pulses from -32767 to 32767"},
      {"node can0 20 wheel -32768", "error: wheel needs pulses from -32767 to 32767"},
      {"node can0 10 wheel 1", "error: node 10 on can0 is not a handwheel gateway"},
      {"node can0 20 buttons 1", "error: buttons needs two 8-bit values"},
      {"node can0 20 buttons 1 0x100", "error: buttons needs two 8-bit values"},
      {"node can0 1 buttons 1 1", "error: node 1 on can0 is not a handwheel gateway"},
  };
  for (const Case& c : cases) EXPECT_EQ(Run(c.line), c.answer) << c.line;

  // A refused command changed nothing.
  SimulationPump::ModelAccess access(machine_->Pump());
  EXPECT_EQ(Value(1, 0x6040, 0), 0u);
  EXPECT_EQ(Value(1, 0x607A, 0), 0u);
  EXPECT_EQ(Station(20).Node().Objects().Find(0x1008, 0)->Text(), sim::drives::kGatewayDeviceName);
  EXPECT_EQ(Value(1, 0x60FD, 0) & 0x07, 0u) << "no switch reported";
  EXPECT_EQ(Drive(1).State(), DriveState::kSwitchOnDisabled);
  EXPECT_EQ(Value(20, 0x6401, 0), 0u);
}

}  // namespace
}  // namespace vantor::host::testing
