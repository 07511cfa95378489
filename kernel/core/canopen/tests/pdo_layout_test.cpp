// The process-data layout, the modes of operation and the arming of the
// cyclic records, on the stepped bench: what each drive is written is read
// back from the SDO frames on the bus.
#include "kernel/core/canopen/pdo_layout.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/canopen/global_slot.h"
#include "kernel/core/canopen/modes_of_operation.h"
#include "kernel/core/canopen/pdo_config_step.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;

constexpr common::StatusCode kOk = common::kKernelSuccess;
constexpr common::StatusCode kFailed = common::kKernelOperationFailed;

// One SDO download as a drive saw it.
struct Write {
  std::uint16_t index;
  std::uint8_t subindex;
  std::uint32_t value;
  bool operator==(const Write&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Write& w) {
  return out << std::hex << "{0x" << w.index << " sub " << int{w.subindex} << " := 0x" << w.value
             << "}";
}

using Writes = std::vector<Write>;

// A drive that takes every write to the PDO objects and the mode objects.
void DefineLayoutObjects(testing::SdoServer& server) {
  for (std::uint16_t n = 0; n < 4; ++n) {
    for (std::uint8_t sub = 1; sub <= 5; ++sub) {
      server.Define(static_cast<std::uint16_t>(0x1400 + n), sub, 4, 0);
      server.Define(static_cast<std::uint16_t>(0x1800 + n), sub, 4, 0);
    }
    for (std::uint8_t sub = 0; sub <= 8; ++sub) {
      server.Define(static_cast<std::uint16_t>(0x1600 + n), sub, 4, 0);
      server.Define(static_cast<std::uint16_t>(0x1A00 + n), sub, 4, 0);
    }
  }
  server.Define(0x6040, 0, 2, 0);
  server.Define(0x6060, 0, 1, 0);
  server.Define(0x607A, 0, 4, 0);
  server.Define(0x60FF, 0, 4, 0);
}

// Drives with the given ids as nodes (and axes) on the stepped bench.
class Bench : public ::testing::Test {
 protected:
  explicit Bench(std::vector<std::uint8_t> ids = {1, 2, 3},
                 std::vector<std::vector<std::uint32_t>> axes = {})
      : nodes(ids, axes), host(nodes.table, bus), context{host, nodes.table} {
    for (std::uint8_t id : ids) AddDrive(id);
    for (const auto& list : axes) {
      for (std::uint32_t id : list) AddDrive(static_cast<std::uint8_t>(id));
    }
    for (std::size_t k = 0; k < ids.size(); ++k) nodes[k].SetFlagInBothRows(StatusFlag::N, true);
    host.interpolatedNodes = static_cast<std::uint32_t>(ids.size());
  }

  void AddDrive(std::uint8_t id) {
    drives.push_back(std::make_unique<testing::SdoServer>(id));
    DefineLayoutObjects(*drives.back());
    bus.Attach(*drives.back());
  }

  testing::SdoServer& DriveWithId(std::uint8_t id) {
    for (auto& drive : drives) {
      if (drive->nodeId() == id) return *drive;
    }
    throw std::runtime_error("no such drive");
  }

  // The downloads drive `id` received, in order.
  Writes WritesTo(std::uint8_t id) const {
    Writes writes;
    for (const testing::LoggedFrame& frame : bus.frames) {
      if (frame.cobId != 0x600 + id || (frame.data[0] & 0xE0) != 0x20) continue;
      const std::uint8_t size = static_cast<std::uint8_t>(4 - ((frame.data[0] >> 2) & 3));
      std::uint32_t value = 0;
      for (std::uint8_t i = 0; i < size; ++i) {
        value |= static_cast<std::uint32_t>(frame.data[4 + i]) << (8 * i);
      }
      writes.push_back(
          {static_cast<std::uint16_t>(frame.data[1] | (frame.data[2] << 8)), frame.data[3], value});
    }
    return writes;
  }

  // The writes of one object's subindex to drive `id`.
  std::vector<std::uint32_t> ValuesWritten(std::uint8_t id, std::uint16_t index,
                                           std::uint8_t subindex) const {
    std::vector<std::uint32_t> values;
    for (const Write& w : WritesTo(id)) {
      if (w.index == index && w.subindex == subindex) values.push_back(w.value);
    }
    return values;
  }

  std::vector<std::unique_ptr<testing::SdoServer>> drives;
  testing::TestNodes nodes;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

// ---- The configuration step -------------------------------------------------------

class PdoConfigStepOrder : public Bench {};

TEST_F(PdoConfigStepOrder, WritesIdentifierTimingEntriesCountAndTypeInThatOrder) {
  namespace pdo = pdo_mapping_request;
  const std::uint32_t entries[] = {0x60400010, 0x60C10120, 0x60C10210, 0x60C10310};
  for (const bool transmit : {false, true}) {
    for (std::uint8_t count = 0; count <= 4; ++count) {
      SCOPED_TRACE(::testing::Message() << (transmit ? "transmit " : "receive ") << int{count});
      bus.frames.clear();
      const std::uint16_t comm = transmit ? 0x1802 : 0x1402;
      const std::uint16_t map = transmit ? 0x1A02 : 0x1602;
      ASSERT_EQ(RunOnNodes(
                    context, 1, PdoConfigStep,
                    [&](NodeObject& node, auto) {
                      RequestRecord& record = *node.request.requestRecord;
                      record = RequestRecord{};
                      record.Set(pdo::kDirection, transmit ? 1u : 0u);
                      record.Set(pdo::kPdoNumber, std::uint16_t{3});
                      record.Set(pdo::kObjectCount, count);
                      record.Set(pdo::kCobId, 0x333u);
                      record.Set(pdo::kTransmissionType, std::uint8_t{0x44});
                      record.Set(pdo::kInhibitTime, std::uint16_t{555});
                      record.Set(pdo::kEventTimer, std::uint16_t{66});
                      for (std::uint8_t i = 0; i < count; ++i) {
                        record.Store<std::uint32_t>(pdo::kEntriesOffset + 4 * i, entries[i]);
                      }
                    },
                    pdo_config_entry::kIdentifierFirst),
                kOk);
      EXPECT_EQ(nodes[0].request.requestResult, kOk);
      Writes expected{{comm, 1, 0x333}};
      if (transmit) {
        expected.push_back({comm, 3, 555});
        expected.push_back({comm, 5, 66});
      }
      expected.push_back({map, 0, 0});
      for (std::uint8_t i = 0; i < count; ++i) {
        expected.push_back({map, static_cast<std::uint8_t>(i + 1), entries[i]});
      }
      expected.push_back({map, 0, count});
      expected.push_back({comm, 2, 0x44});
      EXPECT_EQ(WritesTo(1), expected);
    }
  }
}

TEST_F(PdoConfigStepOrder, ARefusedWriteEndsTheRequestWithItsResult) {
  // The drive has no mapping object for PDO 1: the identifier goes in, the
  // mapping does not, and nothing follows.
  testing::SdoServer bare(4);
  bare.Define(0x1400, 1, 4, 0);
  testing::TestNodes one({4});
  testing::FakeBus ownBus;
  ownBus.Attach(bare);
  testing::FakeHost ownHost(one.table, ownBus);
  ServiceContext own{ownHost, one.table};
  one[0].SetFlagInBothRows(StatusFlag::N, true);
  EXPECT_EQ(MapControlwordRpdo(own, 1), kFailed);
  std::vector<testing::LoggedFrame> requests;
  for (const testing::LoggedFrame& frame : ownBus.frames) {
    if (frame.cobId == 0x604) requests.push_back(frame);
  }
  // The identifier, then the mapping count (repeated by the retry rule),
  // and nothing behind it.
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0].data[2], 0x14);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].data[1], 0x00) << i;
    EXPECT_EQ(requests[i].data[2], 0x16) << i;
    EXPECT_EQ(requests[i].data[3], 0x00) << i;
  }
  EXPECT_EQ(one[0].request.lastResult, common::kKernelCanMessageInvalid);
  // Only the time stamp's receivers lose their run enable.
  EXPECT_TRUE(one[0].current.Has(StatusFlag::N));
}

// ---- The time stamp -------------------------------------------------------------------

TEST_F(Bench, TimeStampIdentifierComesFromTheFirstNode) {
  struct Case {
    const char* name;
    int source;  // index of the flagged node, -1 for none
    bool alternative;
    std::uint16_t cobId;
  };
  const Case cases[] = {
      {"first node is the source", 0, false, 0x281},
      {"first node is the source, option set", 0, true, 0x281},
      {"another node is the source", 2, false, 0x401},
      {"another node is the source, option set", 2, true, 0x501},
      {"no node is flagged: the first one sends", -1, false, 0x281},
  };
  for (const Case& c : cases) {
    for (std::size_t k = 0; k < 3; ++k) {
      nodes[k].timeStampSource = static_cast<int>(k) == c.source ? 1 : 0;
    }
    nodes.table.timeStamp.alternativePdo = c.alternative ? 1 : 0;
    EXPECT_EQ(TimeStampCobId(context), c.cobId) << c.name;
    for (std::uint32_t k = 0; k < 3; ++k) {
      const bool source = c.source < 0 ? k == 0 : static_cast<int>(k) == c.source;
      EXPECT_EQ(IsTimeStampSource(nodes.table, k), source) << c.name << " node " << k;
    }
  }
  testing::TestNodes none({});
  ServiceContext empty{host, none.table};
  EXPECT_EQ(TimeStampCobId(empty), 0);
}

TEST_F(Bench, WithoutSyncNodeTheFirstNodeSendsAndEveryOtherReceivesItsTimeStamp) {
  // A single interpolated axis needs no SYNC node.
  host.interpolatedNodes = 1;
  nodes.table.timeStamp.objectIndex = 0x2053;
  ASSERT_EQ(MapTimeStampRpdo(context, 3), kOk);
  EXPECT_EQ(nodes.table.timeStamp.cobId, 0x281);
  EXPECT_TRUE(WritesTo(1).empty());
  for (std::uint8_t id : {2, 3}) {
    EXPECT_EQ(WritesTo(id), (Writes{{0x1402, 1, 0x281},
                                    {0x1602, 0, 0},
                                    {0x1602, 1, 0x10130020},
                                    {0x1602, 0, 1},
                                    {0x1402, 2, 0xFF}}))
        << int{id};
  }
  bus.frames.clear();
  ASSERT_EQ(MapTimeStampTpdo(context, 2), kOk);
  EXPECT_EQ(WritesTo(1), (Writes{{0x1801, 1, 0x281},
                                 {0x1801, 3, 0},
                                 {0x1801, 5, 0},
                                 {0x1A01, 0, 0},
                                 {0x1A01, 1, 0x20530020},
                                 {0x1A01, 0, 1},
                                 {0x1801, 2, 0xFD}}));
  EXPECT_TRUE(WritesTo(2).empty());
  EXPECT_TRUE(WritesTo(3).empty());
}

TEST_F(Bench, ANodeFailingTheTimeStampLosesItsRunEnable) {
  nodes[1].timeStampSource = 1;
  DriveWithId(3).silent = true;
  EXPECT_EQ(MapTimeStampRpdo(context, 3), kFailed);
  EXPECT_EQ(nodes.table.timeStamp.cobId, 0x401);
  EXPECT_TRUE(nodes[0].current.Has(StatusFlag::N));
  EXPECT_TRUE(WritesTo(2).empty());
  EXPECT_TRUE(nodes[1].current.Has(StatusFlag::N));
  EXPECT_FALSE(nodes[2].current.Has(StatusFlag::N));
  EXPECT_FALSE(nodes[2].latched.Has(StatusFlag::N));
  EXPECT_EQ(nodes[2].request.lastResult, common::kKernelCanMessageTimeout);
}

TEST_F(Bench, OnlyAnInterpolatedSourceFailsTheTimeStampTransmitPdo) {
  nodes[2].timeStampSource = 1;
  DriveWithId(3).silent = true;
  host.interpolatedNodes = 2;
  EXPECT_EQ(MapTimeStampTpdo(context, 2), kOk);
  EXPECT_EQ(nodes[2].request.lastResult, common::kKernelCanMessageTimeout);
  host.interpolatedNodes = 3;
  EXPECT_EQ(MapTimeStampTpdo(context, 2), kFailed);
}

// ---- Layout services ---------------------------------------------------------------

TEST_F(Bench, EachMappingServiceWritesItsLayoutAndKeepsTheIdentifier) {
  struct Case {
    const char* name;
    common::StatusCode (*service)(ServiceContext&, std::uint16_t);
    std::uint16_t pdo;
    Writes drive2;  // what drive 2 (node 1) receives
  };
  const Case cases[] = {
      {"controlword",
       MapControlwordRpdo,
       1,
       {{0x1400, 1, 0x202},
        {0x1600, 0, 0},
        {0x1600, 1, 0x60400010},
        {0x1600, 0, 1},
        {0x1400, 2, 0}}},
      {"set-point",
       MapSetpointRpdo,
       2,
       {{0x1401, 1, 0x302},
        {0x1601, 0, 0},
        {0x1601, 1, 0x60C10120},
        {0x1601, 2, 0x60C10210},
        {0x1601, 3, 0x60C10310},
        {0x1601, 0, 3},
        {0x1401, 2, 0xFF}}},
      {"feedback",
       MapFeedbackTpdo,
       1,
       {{0x1800, 1, 0x182},
        {0x1800, 3, 10},
        {0x1800, 5, 0},
        {0x1A00, 0, 0},
        {0x1A00, 1, 0x60640020},
        {0x1A00, 2, 0x60410010},
        {0x1A00, 3, 0x60FD0008},
        {0x1A00, 0, 3},
        {0x1800, 2, 1}}},
      {"reset one transmit PDO",
       [](ServiceContext& c, std::uint16_t n) { return ResetNodeTpdo(c, 1, n); },
       3,
       {{0x1802, 1, 0x382},
        {0x1802, 3, 65000},
        {0x1802, 5, 0},
        {0x1A02, 0, 0},
        {0x1A02, 0, 0},
        {0x1802, 2, 0xF1}}},
  };
  for (const Case& c : cases) {
    bus.frames.clear();
    for (std::size_t k = 0; k < 3; ++k) {
      nodes[k].controlRpdoCobId = 0;
      nodes[k].setpointRpdoCobId = 0;
      nodes[k].feedbackTpdoCobId = 0;
    }
    EXPECT_EQ(c.service(context, c.pdo), kOk) << c.name;
    EXPECT_EQ(WritesTo(2), c.drive2) << c.name;
  }
  // Each kept the identifier it configured.
  MapControlwordRpdo(context, 1);
  MapSetpointRpdo(context, 2);
  MapFeedbackTpdo(context, 1);
  EXPECT_EQ(nodes[2].controlRpdoCobId, 0x203);
  EXPECT_EQ(nodes[2].setpointRpdoCobId, 0x303);
  EXPECT_EQ(nodes[2].feedbackTpdoCobId, 0x183);
}

TEST_F(Bench, ResettingEmptiesAllFourPdosEachWay) {
  ASSERT_EQ(ResetAllRpdos(context), kOk);
  ASSERT_EQ(ResetAllTpdos(context), kOk);
  for (std::uint16_t n = 0; n < 4; ++n) {
    const auto rx = static_cast<std::uint16_t>(0x1400 + n);
    const auto tx = static_cast<std::uint16_t>(0x1800 + n);
    EXPECT_EQ(ValuesWritten(3, rx, 1), std::vector<std::uint32_t>{0x203u + 0x100u * n});
    EXPECT_EQ(ValuesWritten(3, rx, 2), std::vector<std::uint32_t>{0xF1});
    EXPECT_EQ(ValuesWritten(3, static_cast<std::uint16_t>(0x1600 + n), 0),
              (std::vector<std::uint32_t>{0, 0}));
    EXPECT_EQ(ValuesWritten(3, tx, 1), std::vector<std::uint32_t>{0x183u + 0x100u * n});
    EXPECT_EQ(ValuesWritten(3, tx, 3), std::vector<std::uint32_t>{65000});
    EXPECT_EQ(ValuesWritten(3, tx, 5), std::vector<std::uint32_t>{0});
    EXPECT_EQ(ValuesWritten(3, tx, 2), std::vector<std::uint32_t>{0xF1});
  }
}

TEST_F(Bench, PdoNumbersAreTakenOnlyWhileNoResetHasSucceeded) {
  host.resetPending = false;
  ASSERT_EQ(MapControlwordRpdo(context, 3), kOk);
  ASSERT_EQ(MapSetpointRpdo(context, 4), kOk);
  EXPECT_EQ(nodes[1].controlRpdo, 1);
  EXPECT_EQ(nodes[1].motionRpdo, 2);
  EXPECT_TRUE(host.configuredRpdos.empty());

  host.resetPending = true;
  ASSERT_EQ(MapControlwordRpdo(context, 3), kOk);
  ASSERT_EQ(MapSetpointRpdo(context, 4), kOk);
  for (std::uint32_t k = 0; k < 3; ++k) {
    EXPECT_EQ(nodes[k].controlRpdo, 3);
    EXPECT_EQ(nodes[k].motionRpdo, 4);
    EXPECT_EQ(host.configuredRpdos[k], (std::pair<std::uint16_t, std::uint16_t>{3, 4}));
  }

  // A failed mapping takes no number.
  DriveWithId(1).silent = true;
  EXPECT_EQ(MapControlwordRpdo(context, 1), kFailed);
  EXPECT_EQ(nodes[1].controlRpdo, 3);
}

TEST_F(Bench, AStoppedCycleEndsEveryServiceWithItsCode) {
  using Service = common::StatusCode (*)(ServiceContext&);
  const Service services[] = {
      ResetAllRpdos,
      ResetAllTpdos,
      [](ServiceContext& c) { return MapControlwordRpdo(c, 1); },
      [](ServiceContext& c) { return MapTimeStampRpdo(c, 3); },
      [](ServiceContext& c) { return MapFeedbackTpdo(c, 1); },
      SetAllModesOfOperation,
      SetStartModes,
      [](ServiceContext& c) { return ArmGlobalSlot(c, true); },
  };
  for (Service service : services) {
    host.cycleRunning = true;
    host.endCycleAfter = 0;
    EXPECT_EQ(service(context), kernel::kCycleNotRunning);
    EXPECT_EQ(host.global.stepFunction, nullptr);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(nodes[k].request.stepFunction, nullptr);
    // Already stopped at arming.
    host.endCycleAfter.reset();
    EXPECT_EQ(service(context), kernel::kCycleNotRunning);
  }
}

// ---- Axis twins -------------------------------------------------------------------------

class AxisBench : public Bench {
 protected:
  // Node 0 (drive 1) leads axes on drives 8 and 9; node 1 (drive 2) none.
  AxisBench() : Bench({1, 2}, {{8, 9}, {}}) {}
};

TEST_F(AxisBench, AxesReceiveOnTheirNodesIdentifiersAndTransmitOnTheirOwn) {
  ASSERT_EQ(ResetAllRpdos(context), kOk);
  ASSERT_EQ(ResetAllTpdos(context), kOk);
  ASSERT_EQ(MapControlwordRpdo(context, 1), kOk);
  for (std::uint8_t axis : {8, 9}) {
    EXPECT_EQ(ValuesWritten(axis, 0x1400, 1), (std::vector<std::uint32_t>{0x201, 0x201})) << +axis;
    EXPECT_EQ(ValuesWritten(axis, 0x1403, 1), (std::vector<std::uint32_t>{0x501})) << +axis;
    EXPECT_EQ(ValuesWritten(axis, 0x1800, 1), (std::vector<std::uint32_t>{0x180u + axis})) << +axis;
    EXPECT_EQ(ValuesWritten(axis, 0x1803, 1), (std::vector<std::uint32_t>{0x480u + axis})) << +axis;
    EXPECT_EQ(ValuesWritten(axis, 0x1600, 1), (std::vector<std::uint32_t>{0x60400010})) << +axis;
  }
  EXPECT_EQ(nodes[0].sdoRequestCobId, 0x601);
  EXPECT_EQ(nodes[0].sdoResponseCobId, 0x581);
}

TEST_F(AxisBench, AFailingAxisFailsTheServiceAndTheTimeStampAxisLosesTheRunEnable) {
  nodes[1].timeStampSource = 1;
  DriveWithId(9).silent = true;
  EXPECT_EQ(MapTimeStampRpdo(context, 3), kFailed);
  // Node 0 itself took the time stamp; its second axis did not.
  EXPECT_EQ(ValuesWritten(1, 0x1402, 1), (std::vector<std::uint32_t>{0x401}));
  EXPECT_EQ(ValuesWritten(8, 0x1402, 1), (std::vector<std::uint32_t>{0x401}));
  EXPECT_EQ(nodes[0].request.lastResult, kOk);
  EXPECT_EQ(nodes[0].axes[1].axisResult, common::kKernelCanMessageTimeout);
  EXPECT_FALSE(nodes[0].current.Has(StatusFlag::N));
  EXPECT_TRUE(nodes[1].current.Has(StatusFlag::N));
}

// ---- Modes of operation ---------------------------------------------------------------------

TEST_F(Bench, EachKindOfNodeIsLeftStandingInItsMode) {
  // Node 0 interpolated, node 1 handling in profile position, node 2
  // handling with sub-mode 0.
  nodes[1].handlingAxis = 1;
  nodes[1].handlingMode = 1;
  nodes[2].handlingAxis = 1;
  nodes[2].handlingMode = 0;
  DriveWithId(2).Define(0x6062, 0, 4, 0xFFFFFC18);  // -1000
  ASSERT_EQ(SetAllModesOfOperation(context), kOk);
  EXPECT_EQ(WritesTo(1), (Writes{{0x6060, 0, 7}, {0x6040, 0, 0x000F}}));
  EXPECT_EQ(WritesTo(2), (Writes{{0x6060, 0, 1}, {0x607A, 0, 0xFFFFFC18}, {0x6040, 0, 0x000F}}));
  EXPECT_EQ(WritesTo(3), (Writes{{0x6060, 0, 3}, {0x60FF, 0, 0}, {0x6040, 0, 0x000F}}));
}

TEST_F(Bench, ANodeFailingItsModeLosesItsRunEnable) {
  DriveWithId(2).silent = true;
  EXPECT_EQ(SetAllModesOfOperation(context), kFailed);
  EXPECT_TRUE(nodes[0].current.Has(StatusFlag::N));
  EXPECT_FALSE(nodes[1].current.Has(StatusFlag::N));
  EXPECT_FALSE(nodes[1].latched.Has(StatusFlag::N));
  EXPECT_EQ(nodes[1].request.lastResult, common::kKernelCanMessageTimeout);
  EXPECT_TRUE(nodes[2].current.Has(StatusFlag::N));

  // One node alone.
  bus.frames.clear();
  EXPECT_EQ(SetNodeModeOfOperation(context, 2), kOk);
  EXPECT_TRUE(WritesTo(1).empty());
  EXPECT_EQ(ValuesWritten(3, 0x6060, 0), std::vector<std::uint32_t>{7});
  EXPECT_EQ(SetNodeModeOfOperation(context, 7), kFailed);
}

TEST_F(AxisBench, AxesWorkInTheirNodesMode) {
  nodes[0].handlingAxis = 1;
  nodes[0].handlingMode = 0;
  ASSERT_EQ(SetAllModesOfOperation(context), kOk);
  for (std::uint8_t id : {1, 8, 9}) {
    EXPECT_EQ(WritesTo(id), (Writes{{0x6060, 0, 3}, {0x60FF, 0, 0}, {0x6040, 0, 0x000F}})) << +id;
  }
  EXPECT_EQ(WritesTo(2), (Writes{{0x6060, 0, 7}, {0x6040, 0, 0x000F}}));
}

TEST_F(Bench, StartModesMakeTheTrailingNodesHandlingAxesAndReadBackFormerOnes) {
  host.interpolatedNodes = 1;
  // Node 1 was a handling axis before, homed; node 2 becomes one now.
  nodes[1].handlingAxis = 1;
  nodes[1].handlingMode = 0;
  nodes[1].SetFlagInBothRows(StatusFlag::D, true);
  nodes[0].handlingMode = 5;
  DriveWithId(2).Define(0x6062, 0, 4, 0x00000400);
  DriveWithId(3).Define(0x6062, 0, 4, 0x00000777);
  ASSERT_EQ(SetStartModes(context), kOk);
  EXPECT_EQ(nodes[0].handlingAxis, 0u);
  EXPECT_EQ(nodes[1].handlingAxis, 1u);
  EXPECT_EQ(nodes[2].handlingAxis, 1u);
  for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(nodes[k].handlingMode, 1);
  EXPECT_EQ(ValuesWritten(2, 0x6060, 0), std::vector<std::uint32_t>{1});
  EXPECT_EQ(ValuesWritten(3, 0x607A, 0), std::vector<std::uint32_t>{0x777});
  EXPECT_EQ(nodes[1].position, 1024.0);
  EXPECT_EQ(nodes[2].position, 0.0);  // not a handling axis before
  EXPECT_EQ(host.axisPositionsTaken, std::vector<std::uint32_t>{1});
}

// ---- Cyclic records -------------------------------------------------------------------------

TEST_F(Bench, NodeRecordModesZeroTheRecordsAndArmTheStoredFeedbackPdo) {
  struct Case {
    const char* name;
    std::int32_t mode;
    std::uint8_t answerCode;
    bool cyclic;
    bool ringCleared;
  };
  const Case cases[] = {
      {"arm", node_record_mode::kArm, 12, true, true},
      {"clear", node_record_mode::kClear, 0, false, true},
      {"arm late", node_record_mode::kArmLate, 24, true, false},
  };
  nodes[1].feedbackTpdoCobId = 0x1A5;
  for (const Case& c : cases) {
    // Old contents in every byte of both records and the ring state.
    for (std::size_t i = 28 * 2; i < 28 * 4; ++i) host.exchange.MutableBytes()[i] = 0xEE;
    host.exchange.Set(common::exchange_buffer::kRingControl, std::uint8_t{3});
    nodes[1].cyclicExchange = c.cyclic ? 0 : 1;
    ASSERT_EQ(RunOnNodes(
                  context, 0b010, NodeRecordStep, [](NodeObject&, auto) {}, c.mode),
              kOk)
        << c.name;
    // The send record all zero; the answer record zero but for its code
    // and identifier.
    const std::uint8_t* bytes = host.exchange.Bytes().data();
    for (std::size_t i = 0; i < 28; ++i) EXPECT_EQ(bytes[28 * 2 + i], 0) << c.name << " " << i;
    const auto answer = testing::Rec(host.exchange, 4);
    EXPECT_EQ(answer.Code(), c.answerCode) << c.name;
    EXPECT_EQ(answer.CobId(), c.answerCode == 0 ? 0 : 0x1A5) << c.name;
    for (std::size_t i = 4; i < 28; ++i) EXPECT_EQ(bytes[28 * 3 + i], 0) << c.name << " " << i;
    EXPECT_EQ(bytes[28 * 3 + 1], 0) << c.name;
    EXPECT_EQ(nodes[1].cyclicExchange, c.cyclic ? 1u : 0u) << c.name;
    EXPECT_EQ(host.exchange.Get(common::exchange_buffer::kRingControl), c.ringCleared ? 0 : 3)
        << c.name;
  }
}

TEST_F(Bench, LateArmingReachesOnlyTheMaskedNodes) {
  EXPECT_EQ(ArmNodeRecordsMasked(context, true, 0b101), kOk);
  EXPECT_EQ(testing::Rec(host.exchange, 2).Code(), 24);
  EXPECT_EQ(testing::Rec(host.exchange, 4).Code(), 0);
  EXPECT_EQ(testing::Rec(host.exchange, 6).Code(), 24);
  EXPECT_EQ(ArmNodeRecord(context, true, 1), kOk);
  EXPECT_EQ(testing::Rec(host.exchange, 4).Code(), 24);
  EXPECT_EQ(ArmNodeRecord(context, true, 3), kFailed);
}

// ---- Global slot ---------------------------------------------------------------------------

TEST_F(Bench, GlobalRecordCarriesSyncAndTimeStampIdentifiersInBothModes) {
  nodes.table.timeStamp.cobId = 0x281;
  const auto record = testing::Rec(host.exchange, 13);
  for (const bool start : {true, false}) {
    for (std::size_t i = 28 * 12; i < 28 * 13; ++i) host.exchange.MutableBytes()[i] = 0xEE;
    host.global.armed = {start ? 0u : 1u, start ? 0u : 1u};
    ASSERT_EQ(ArmGlobalSlot(context, start), kOk);
    // The start arms both synchronised frames; the release disarms them.
    const std::array<std::uint32_t, 2> armed{start ? 1u : 0u, start ? 1u : 0u};
    EXPECT_EQ(host.global.armed, armed) << start;
    EXPECT_EQ(record.Code(), start ? 22 : 0) << start;
    EXPECT_EQ(record.Result(), 0) << start;
    EXPECT_EQ(record.CobId(), 0x80) << start;
    EXPECT_EQ(record.Length(), 0) << start;
    EXPECT_EQ(host.exchange.Bytes()[28 * 12 + 14], 0x81) << start;
    EXPECT_EQ(host.exchange.Bytes()[28 * 12 + 15], 0x02) << start;
    EXPECT_EQ(host.exchange.Bytes()[28 * 12 + 27], 0) << start;
    EXPECT_EQ(host.global.stepFunction, nullptr);
    EXPECT_EQ(host.globalLockDepth, 0);
  }
}

}  // namespace
}  // namespace vantor::canopen
