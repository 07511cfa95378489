#include "kernel/core/canopen/node_services.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/drive_services.h"
#include "kernel/core/canopen/nmt_services.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;
using testing::LoggedFrame;

constexpr common::StatusCode kOk = common::kKernelSuccess;
constexpr common::StatusCode kFailed = common::kKernelOperationFailed;
constexpr common::StatusCode kCycleGone = kernel::kCycleNotRunning;

// Nodes 5 and 7; node 5 carries the axes 6 and 8, node 7 the axis 9. Every
// drive answers SDO.
class NodeServices : public ::testing::Test {
 protected:
  NodeServices()
      : nodes({5, 7}, {{6, 8}, {9}}),
        servers{testing::SdoServer(5), testing::SdoServer(7), testing::SdoServer(6),
                testing::SdoServer(8), testing::SdoServer(9)},
        host(nodes.table, bus),
        context{host, nodes.table} {
    for (auto& server : servers) {
      server.Define(0x2000, 1, 4, 100u + server.nodeId());
      server.Define(0x2047, 0, 1, 0);
      bus.Attach(server);
    }
  }

  testing::SdoServer& Server(std::uint8_t id) {
    for (auto& server : servers) {
      if (server.nodeId() == id) return server;
    }
    return servers[0];
  }

  void ExpectNodeAddressing() {
    EXPECT_EQ(nodes[0].sdoRequestCobId, 0x605);
    EXPECT_EQ(nodes[0].sdoResponseCobId, 0x585);
    EXPECT_EQ(nodes[1].sdoRequestCobId, 0x607);
    EXPECT_EQ(nodes[1].sdoResponseCobId, 0x587);
  }

  testing::TestNodes nodes;
  std::vector<testing::SdoServer> servers;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

TEST_F(NodeServices, SingleNodeUploadAndDownload) {
  std::uint32_t value = 0;
  EXPECT_EQ(SdoUploadFromNode(context, 1, 0x2000, 1, 4, value), kOk);
  EXPECT_EQ(value, 107u);
  EXPECT_EQ(SdoDownloadToNode(context, 0, 0x2000, 1, 4, 0x12345678), kOk);
  EXPECT_EQ(Server(5).Value(0x2000, 1), 0x12345678u);
  EXPECT_EQ(SdoDownloadToNode(context, 0, 0x3000, 0, 2, 1), kFailed);
  EXPECT_EQ(nodes[0].request.lastResult, common::kKernelCanMessageInvalid);
  EXPECT_EQ(SdoUploadFromNode(context, 8, 0x2000, 1, 4, value), kFailed);
  EXPECT_EQ(host.lockDepth, 0);
  EXPECT_FALSE(host.waitedWhileLocked);
}

TEST(NodeServicesOnReceiveObject, AnswerInRecord15IsTakenWithItsOwnResult) {
  testing::TestSignal signal;
  NodeSetup setup;
  setup.nodeId = 3;
  setup.sendRecord = 14;
  setup.answerRecord = 15;
  setup.answerTimeoutMicroseconds = 5000.0;
  setup.completionEvent = &signal;
  NodeObject node(setup);
  NodeTable table;
  table.nodes[0] = &node;
  table.nodeCount = 1;
  testing::SdoServer server(3);
  server.Define(0x1000, 0, 4, 0x00020192);
  testing::FakeBus bus;
  bus.Attach(server);
  testing::FakeHost host(table, bus);
  ServiceContext context{host, table};
  std::uint32_t value = 0;
  EXPECT_EQ(SdoUploadFromNode(context, 0, 0x1000, 0, 4, value), kOk);
  EXPECT_EQ(value, 0x00020192u);
  EXPECT_EQ(bus.frames.size(), 1u);
}

TEST_F(NodeServices, RawFrameGoesOutAsGiven) {
  const std::array<std::uint8_t, 3> data = {1, 2, 3};
  EXPECT_EQ(SendRawFrame(context, 1, 0x307, 3, data), kOk);
  ASSERT_EQ(bus.frames.size(), 1u);
  EXPECT_EQ(bus.frames[0], (LoggedFrame{0x307, 3, {1, 2, 3, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(SendRawFrame(context, 1, 0x307, 9, data), kFailed);
  EXPECT_EQ(SendRawFrame(context, 1, 0x307, 4, data), kFailed);
  bus.holdSendOnce = true;
  EXPECT_EQ(SendRawFrame(context, 1, 0x307, 3, data), kFailed);
  EXPECT_EQ(nodes[1].request.lastResult, common::kKernelCanMessageTimeout);
}

TEST_F(NodeServices, MaskedUploadMarksMissingObjects) {
  Server(7).silent = false;
  SdoRecords records{};
  records[0] = MakeSdoRecord(0x2000, 1, 4, 0xDEAD);
  records[1] = MakeSdoRecord(0x2001, 0, 4, 0xDEAD);
  EXPECT_EQ(SdoUploadFromNodes(context, 0b11, records), kFailed);
  EXPECT_EQ(records[0].Get(sdo_request::kValue), 105u);
  EXPECT_EQ(records[1].Get(sdo_request::kValue), 1u);
  EXPECT_EQ(nodes[0].request.lastResult, kOk);
  EXPECT_EQ(nodes[1].request.lastResult, common::kKernelCanMessageInvalid);
}

TEST_F(NodeServices, EmptyMaskArmsAndWaitsForNothing) {
  SdoRecords records{};
  EXPECT_EQ(SdoUploadFromNodes(context, 0, records), kOk);
  EXPECT_EQ(SdoDownloadToNodes(context, true, 0, records), kOk);
  EXPECT_EQ(host.waits, 0);
  EXPECT_TRUE(bus.frames.empty());
}

// ---- The cycle ending ---------------------------------------------------------------------

struct CycleEnd {
  std::string name;
  std::function<common::StatusCode(ServiceContext&)> service;
};

void PrintTo(const CycleEnd& value, std::ostream* out) { *out << value.name; }

class CycleEnded : public NodeServices, public ::testing::WithParamInterface<CycleEnd> {};

TEST_P(CycleEnded, BeforeArmingNothingIsArmedOrAwaited) {
  host.cycleRunning = false;
  EXPECT_EQ(GetParam().service(context), kCycleGone);
  EXPECT_EQ(host.waits, 0);
  EXPECT_EQ(nodes[0].request.stepFunction, nullptr);
  EXPECT_EQ(nodes[1].request.stepFunction, nullptr);
  EXPECT_TRUE(bus.frames.empty());
}

TEST_P(CycleEnded, MidWaitTheWaiterReturnsAtOnceAndNoSlotStaysArmed) {
  for (const bool stopPathCompletes : {true, false}) {
    SCOPED_TRACE(stopPathCompletes);
    host.cycleRunning = true;
    host.endCycleAfter = 1;
    host.completeOnStop = stopPathCompletes;
    const int waitsBefore = host.waits;
    EXPECT_EQ(GetParam().service(context), kCycleGone);
    EXPECT_EQ(host.waits, waitsBefore + 1);
    EXPECT_EQ(nodes[0].request.stepFunction, nullptr);
    EXPECT_EQ(nodes[1].request.stepFunction, nullptr);
    ExpectNodeAddressing();
    EXPECT_EQ(host.lockDepth, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Services, CycleEnded,
    ::testing::Values(
        CycleEnd{"Upload",
                 [](ServiceContext& c) {
                   std::uint32_t v = 0;
                   return SdoUploadFromNode(c, 0, 0x2000, 1, 4, v);
                 }},
        CycleEnd{"RawFrame",
                 [](ServiceContext& c) {
                   const std::array<std::uint8_t, 1> d{1};
                   return SendRawFrame(c, 0, 0x205, 1, d);
                 }},
        CycleEnd{"EnableAllDrives", [](ServiceContext& c) { return EnableAllDrives(c, true); }},
        CycleEnd{"DisableAllDrives", [](ServiceContext& c) { return DisableAllDrives(c); }},
        CycleEnd{"ClearDriveOption", [](ServiceContext& c) { return ClearDriveOption(c, 0b11); }},
        CycleEnd{"DownloadToAxes",
                 [](ServiceContext& c) {
                   SdoRecords r{};
                   r.fill(MakeSdoRecord(0x2000, 1, 4, 1));
                   return SdoDownloadToAxes(c, false, false, 0b11, r);
                 }},
        CycleEnd{"UploadFromNodeAxes",
                 [](ServiceContext& c) {
                   bool supported = false;
                   return SdoUploadFromNodeAxes(c, 0, 0x2000, 1, 4, supported);
                 }}),
    [](const ::testing::TestParamInfo<CycleEnd>& info) { return info.param.name; });

// ---- Per-axis services keep the nodes' addressing ------------------------------------------

struct AxisService {
  std::string name;
  std::function<common::StatusCode(ServiceContext&)> service;
};

void PrintTo(const AxisService& value, std::ostream* out) { *out << value.name; }

class AxisAddressing : public NodeServices, public ::testing::WithParamInterface<AxisService> {};

TEST_P(AxisAddressing, RestoredOnSuccessFailureAndCycleEnd) {
  // Success: every drive answers.
  GetParam().service(context);
  ExpectNodeAddressing();
  // Failure: the second axis of node 5 stays silent.
  Server(8).silent = true;
  EXPECT_NE(GetParam().service(context), kOk);
  ExpectNodeAddressing();
  // The cycle ends while an axis is served.
  Server(8).silent = false;
  host.endCycleAfter = 3;
  host.completeOnStop = false;
  GetParam().service(context);
  ExpectNodeAddressing();
  EXPECT_EQ(host.lockDepth, 0);
  EXPECT_FALSE(host.waitedWhileLocked);
}

INSTANTIATE_TEST_SUITE_P(
    Services, AxisAddressing,
    ::testing::Values(AxisService{"DownloadToAxes",
                                  [](ServiceContext& c) {
                                    SdoRecords r{};
                                    r.fill(MakeSdoRecord(0x2000, 1, 4, 1));
                                    return SdoDownloadToAxes(c, true, true, 0b11, r);
                                  }},
                      AxisService{"UploadFromNodeAxes",
                                  [](ServiceContext& c) {
                                    bool supported = false;
                                    return SdoUploadFromNodeAxes(c, 0, 0x2000, 1, 4, supported);
                                  }},
                      AxisService{"CheckObjectOnNodeAxes",
                                  [](ServiceContext& c) {
                                    bool exists = false;
                                    bool agree = false;
                                    return CheckObjectOnNodeAxes(c, 0, 0x2000, 1, 4, exists, agree);
                                  }},
                      AxisService{"DownloadToNodeAxes",
                                  [](ServiceContext& c) {
                                    return SdoDownloadToNodeAxes(c, true, 0, 0x2000, 1, 4, 3);
                                  }},
                      AxisService{"EnableDrivesOnAxes",
                                  [](ServiceContext& c) { return EnableDrivesOnAxes(c); }},
                      AxisService{"WriteMakerObject2047",
                                  [](ServiceContext& c) {
                                    c.nodes.nodes[0]->has2047 = 1;
                                    c.nodes.nodes[1]->has2047 = 1;
                                    return WriteMakerObject2047(c, 0b01);
                                  }}),
    [](const ::testing::TestParamInfo<AxisService>& info) { return info.param.name; });

TEST_F(NodeServices, AxisPassesServeOnlyTheNodesThatHaveTheAxis) {
  SdoRecords records{};
  records[0] = MakeSdoRecord(0x2000, 1, 4, 50);
  records[1] = MakeSdoRecord(0x2000, 1, 4, 70);
  EXPECT_EQ(SdoDownloadToAxes(context, false, false, 0b11, records), kOk);
  EXPECT_EQ(Server(6).Value(0x2000, 1), 50u);
  EXPECT_EQ(Server(8).Value(0x2000, 1), 50u);
  EXPECT_EQ(Server(9).Value(0x2000, 1), 70u);
  EXPECT_EQ(Server(5).Value(0x2000, 1), 105u);  // node level not asked for
  EXPECT_EQ(host.waits, 2);                     // one pass per axis index
}

TEST_F(NodeServices, ProbingAnAxisWithoutTheObject) {
  Server(8).Define(0x2100, 0, 1, 1);
  Server(5).Define(0x2100, 0, 1, 1);
  Server(6).Define(0x2100, 0, 1, 1);
  bool supported = true;
  EXPECT_EQ(SdoUploadFromNodeAxes(context, 1, 0x2100, 0, 1, supported), kOk);
  EXPECT_FALSE(supported);
  bool exists = false;
  bool agree = true;
  EXPECT_EQ(CheckObjectOnNodeAxes(context, 0, 0x2100, 0, 1, exists, agree), kOk);
  EXPECT_TRUE(exists);
  EXPECT_TRUE(agree);
  EXPECT_EQ(CheckObjectOnNodeAxes(context, 1, 0x2100, 0, 1, exists, agree), kOk);
  EXPECT_FALSE(exists);
  EXPECT_TRUE(agree);
  Server(9).Define(0x2100, 0, 1, 1);
  EXPECT_EQ(CheckObjectOnNodeAxes(context, 1, 0x2100, 0, 1, exists, agree), kOk);
  EXPECT_TRUE(exists);
  EXPECT_FALSE(agree);
  EXPECT_EQ(nodes[1].axes[0].axisResult, common::kKernelNodeParameterInvalid);
}

TEST_F(NodeServices, NodeWithoutAxesTakesNoPerAxisDownload) {
  testing::TestNodes plain({5});
  testing::FakeHost plainHost(plain.table, bus);
  ServiceContext plainContext{plainHost, plain.table};
  EXPECT_EQ(SdoDownloadToNodeAxes(plainContext, true, 0, 0x2000, 1, 4, 9), kOk);
  EXPECT_TRUE(bus.frames.empty());
}

TEST(ResultHelpers, CombineResults) {
  EXPECT_EQ(CombineResults(kOk, kOk), kOk);
  EXPECT_EQ(CombineResults(kOk, common::kKernelCanMessageTimeout), kFailed);
  EXPECT_EQ(CombineResults(kFailed, kCycleGone), kCycleGone);
  EXPECT_EQ(CombineResults(kCycleGone, kOk), kCycleGone);
}

}  // namespace
}  // namespace vantor::canopen
