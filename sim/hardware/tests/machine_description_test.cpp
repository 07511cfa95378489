#include "sim/hardware/machine_description.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "sim/hardware/tests/card_fixture.h"
#include "sim/hardware/tests/test_stations.h"

namespace vantor::sim {
namespace {

using testing::ChannelInWindow;
using testing::ControllerAccess;
using testing::DataFrame;
using testing::RecordingStation;

StationKinds RecorderKind() {
  StationKinds kinds;
  kinds.Register("recorder", [](const nlohmann::json& entry, Simulation&, std::string& error) {
    std::unique_ptr<CanStation> station;
    if (entry.contains("bit_time_ns") && !entry.at("bit_time_ns").is_number_unsigned()) {
      error = "bit_time_ns must be a number";
      return station;
    }
    station = std::make_unique<RecordingStation>(entry.value("bit_time_ns", 1000U));
    return station;
  });
  return kinds;
}

constexpr const char* kFullDescription = R"({
  "register_access_ns": 250,
  "buses": [
    { "name": "can0", "stations": [ { "kind": "recorder" }, { "kind": "recorder", "bit_time_ns": 2000 } ] },
    { "name": "can1" },
    { "name": "can2" }
  ],
  "pci_cards": [
    { "name": "pci0", "bus_number": 1, "device_number": 5, "interrupt_line": 10,
      "bar0": "0xFE000000", "bar1": "0xD000", "bar2": "0xFE001000", "bar2_size": "0x1000",
      "channels": [ { "bus": "can0" }, { "bus": "can1", "port2_pins": "0xFF" } ] }
  ],
  "parallel_ports": [
    { "name": "lpt0", "base": "0x378", "irq": 7, "adapter": { "bus": "can2" } },
    { "name": "lpt1", "base": 632, "extended_control": false }
  ],
  "test_ports": [ { "name": "marks", "address": "0x300" } ]
})";

TEST(MachineDescription, BuildsEverythingItNames) {
  const MachineLoadResult loaded = LoadMachineDescription(kFullDescription, RecorderKind());
  ASSERT_TRUE(loaded) << loaded.error;
  Machine& machine = *loaded.machine;
  EXPECT_EQ(machine.Sim().RegisterAccessCost(), 250U);
  EXPECT_EQ(machine.Buses().size(), 3U);

  PciCard* card = machine.FindPciCard("pci0");
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(card->BarInfo(2).address, 0xFE001000U);
  EXPECT_EQ(card->ReadConfig(0x3C, 1), 10U);
  EXPECT_EQ(machine.Ports().In8(0xD000 + 0x3C), 0x81) << "bridge registers at the I/O window";
  EXPECT_EQ(card->Controller(1).Read(0xCF) & 0xC0, 0xC0) << "channel 2's own board pins";

  EXPECT_EQ(machine.InterruptLines(10), std::vector<InterruptLine*>{&card->Interrupt()});
  EXPECT_EQ(machine.InterruptLines(7).size(), 2U) << "both ports on their default line";
  EXPECT_TRUE(machine.InterruptLines(11).empty());
  EXPECT_NE(machine.FindParallelAdapter("lpt0"), nullptr);
  EXPECT_EQ(machine.FindParallelAdapter("lpt1"), nullptr);
  EXPECT_EQ(machine.FindParallelPort("lpt1")->Configuration().base, 632);
  ASSERT_NE(machine.FindTestPort(0x300), nullptr);
  const SimTime before = machine.Sim().Now();
  machine.Ports().Out8(0x300, 0x08);
  EXPECT_EQ(machine.FindTestPort(0x300)->Writes().back().value, 0x08);
  EXPECT_EQ(machine.FindTestPort(0x300)->Writes().back().time, before + 250);

  // The two recorders sit on can0 with channel 1 and hear it.
  ControllerAccess channel1 = ChannelInWindow(card->BarWindow(2), 1);
  ASSERT_TRUE(channel1.Detect());
  channel1.InitBus(0x40, 0x23);
  channel1.LoadAndSend(1, 0x101, DataFrame(0x101, {1}));
  machine.Sim().AdvanceBy(kNanosecondsPerMillisecond);
  EXPECT_EQ(machine.FindBus("can0")->Stats().frames, 1U);
}

TEST(MachineDescription, DefaultMachineIsOneCardOnTwoBuses) {
  const MachineLoadResult loaded =
      LoadMachineDescription(DefaultMachineDescription(), StationKinds{});
  ASSERT_TRUE(loaded) << loaded.error;
  EXPECT_EQ(loaded.machine->PciCards().size(), 1U);
  EXPECT_NE(loaded.machine->FindBus("can0"), nullptr);
  EXPECT_NE(loaded.machine->FindBus("can1"), nullptr);
}

TEST(MachineDescription, RefusesBadDescriptionsWithThePlaceOfTheFault) {
  struct Case {
    const char* json;
    const char* error_part;
  };
  const Case cases[] = {
      {R"({"buses": [ {"name": "can0"} ], "pci_card": []})", "unknown field \"pci_card\""},
      {R"({"buses": [ {"name": "can0"}, {"name": "can0"} ]})", "buses[1].name"},
      {R"({"pci_cards": [ {"name": "pci0", "channels": [ {"bus": "can7"} ]} ]})",
       "unknown bus \"can7\""},
      {R"({"pci_cards": [ {"name": "pci0", "bar2_size": "0x300"} ]})", "pci_cards[0].bar2_size"},
      {R"({"pci_cards": [ {"name": "pci0", "device_number": 32} ]})", "pci_cards[0].device_number"},
      {R"({"pci_cards": [ {"name": "pci0", "interrupt_line": -1} ]})", "must not be negative"},
      {R"({"pci_cards": [ {"name": "pci0", "bar1": "0xE0G0"} ]})", "is not a number"},
      {R"({"pci_cards": [ {"name": "pci0"}, {"name": "pci1"} ]})", "pci_cards[1]"},
      {R"({"pci_cards": [ {"name": "pci0", "channels": [ {}, {}, {} ]} ]})", "two channels"},
      {R"({"parallel_ports": [ {"name": "lpt0"}, {"name": "lpt1", "base": "0x37C"} ]})",
       "parallel_ports[1]"},
      {R"({"parallel_ports": [ {"name": "lpt0", "epp": 1} ]})", "true or false"},
      {R"({"test_ports": [ {"name": "t"} ]})", "test_ports[0].address"},
      {R"({"buses": [ {"name": "can0", "stations": [ {"kind": "drive"} ]} ]})",
       "unknown station kind \"drive\""},
      {R"({"buses": [ {"name": "can0", "stations": [ {"kind": "recorder", "bit_time_ns": "x"} ]} ]})",
       "buses[0].stations[0]: bit_time_ns must be a number"},
      {R"({"buses": [ {"name": ""} ]})", "buses[0].name"},
      {R"({"buses": [ {"name": "can 0"} ]})", "buses[0].name: \"can 0\" is no interface name"},
      {R"({"buses": [ {"name": "can0123456789abc"} ]})", "buses[0].name"},
      {R"({"buses": [ {"name": "can0", "bit_rate": 0} ]})", "buses[0].bit_rate: must not be 0"},
      {R"({"buses": [ {"name": "can0", "bit_rate": 1000001} ]})",
       "buses[0].bit_rate: is out of range"},
      {R"({"buses": [ {"name": "can0", "stations": [ {"kind": "recorder", "node_id": 1},
           {"kind": "recorder", "node_id": 2}, {"kind": "recorder", "node_id": "0x01"} ]} ]})",
       "buses[0].stations[2].node_id: node id 1 is used twice on bus \"can0\" (also stations[0])"},
      {R"({"buses": [ )", "machine description"},
      {R"([1, 2])", "must be an object"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    const MachineLoadResult loaded = LoadMachineDescription(c.json, RecorderKind());
    EXPECT_FALSE(loaded);
    EXPECT_NE(loaded.error.find(c.error_part), std::string::npos) << loaded.error;
  }
}

TEST(MachineDescription, StationsTakeTheBusBitRateUnlessTheyNameTheirOwn) {
  std::vector<nlohmann::json> entries;
  StationKinds kinds;
  kinds.Register("echo", [&entries](const nlohmann::json& entry, Simulation&, std::string&) {
    entries.push_back(entry);
    return std::unique_ptr<CanStation>(std::make_unique<RecordingStation>());
  });
  const MachineLoadResult loaded = LoadMachineDescription(
      R"({"buses": [
            {"name": "can0", "bit_rate": 500000,
             "stations": [ {"kind": "echo", "node_id": 1},
                           {"kind": "echo", "node_id": 2, "bit_rate": 1000000} ]},
            {"name": "can1", "stations": [ {"kind": "echo", "node_id": 1} ]} ]})",
      kinds);
  ASSERT_TRUE(loaded) << loaded.error;
  ASSERT_EQ(entries.size(), 3U);
  EXPECT_EQ(entries[0].value("bit_rate", 0), 500000);
  EXPECT_EQ(entries[1].value("bit_rate", 0), 1000000);
  EXPECT_FALSE(entries[2].contains("bit_rate")) << "a bus without a rate leaves the default";
}

TEST(MachineDescription, FileThatCannotBeReadIsAnError) {
  const MachineLoadResult loaded =
      LoadMachineDescriptionFile("/nonexistent/machine.json", StationKinds{});
  EXPECT_FALSE(loaded);
  EXPECT_NE(loaded.error.find("cannot be read"), std::string::npos);
}

TEST(StationKindsRegistry, AKindIsRegisteredOnce) {
  StationKinds kinds = RecorderKind();
  EXPECT_FALSE(kinds.Register("recorder", [](const nlohmann::json&, Simulation&, std::string&) {
    return std::unique_ptr<CanStation>();
  }));
  EXPECT_NE(kinds.Find("recorder"), nullptr);
  EXPECT_EQ(kinds.Find("nothing"), nullptr);
}

// A remote request from channel 1 answered by channel 2, then a plain data
// frame a second later, as candump would have logged it at 1 Mbit/s.
TEST(MachineDescription, CandumpLogOfAShortExchange) {
  const MachineLoadResult loaded = LoadMachineDescription(
      R"({"buses": [ {"name": "can0"} ],
          "pci_cards": [ {"name": "pci0", "channels": [ {"bus": "can0"}, {"bus": "can0"} ]} ]})",
      StationKinds{});
  ASSERT_TRUE(loaded) << loaded.error;
  Machine& machine = *loaded.machine;
  std::ostringstream log;
  machine.FindBus("can0")->SetLog(&log);
  RegisterWindow* window = machine.FindPciCard("pci0")->BarWindow(2);
  ControllerAccess requester = ChannelInWindow(window, 1);
  ControllerAccess answerer = ChannelInWindow(window, 2);
  for (ControllerAccess* access : {&requester, &answerer}) {
    ASSERT_TRUE(access->Detect());
    access->InitBus(0x40, 0x23);
    access->SetGlobalStandardMask(0x7FF);
  }
  answerer.Write(0x40, 0x7F);
  answerer.Write(0x42, 0x281 >> 3);
  answerer.Write(0x43, static_cast<std::uint8_t>(0x281 << 5));
  answerer.Write(0x46, 0x28);
  answerer.Write(0x47, 0xBE);
  answerer.Write(0x48, 0xEF);
  answerer.Write(0x41, 0x59);
  answerer.Write(0x41, 0xF7);  // ready to answer on its own
  answerer.Write(0x40, 0x95);
  ASSERT_EQ(machine.Sim().Now(), 0U);

  requester.RemoteRequest(6, 0x281);
  machine.Sim().AdvanceTo(1'000'000'000);
  requester.LoadAndSend(1, 0x181, DataFrame(0x181, {1, 2, 3}));
  machine.Sim().AdvanceBy(kNanosecondsPerMillisecond);

  // 46 bits of remote frame, 3 of intermission, 64 of answer; 73 bits of
  // the data frame.
  EXPECT_EQ(log.str(),
            "(0000000000.000046) can0 281#R\n"
            "(0000000000.000113) can0 281#BEEF\n"
            "(0000000001.000073) can0 181#010203\n");
}

}  // namespace
}  // namespace vantor::sim
