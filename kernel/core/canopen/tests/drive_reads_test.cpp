#include "kernel/core/canopen/drive_reads.h"

#include <gtest/gtest.h>

#include "kernel/core/canopen/tests/canopen_test_support.h"

namespace vantor::canopen {
namespace {

using kernel::StatusFlag;

TEST(DriveErrorTableTest, EveryListedCodeHasItsNumberAndAnyOtherIsUnknown) {
  struct Row {
    std::uint16_t code;
    std::int16_t number;
    bool clearsHomed = false;
    bool clearsStartWord = false;
  };
  const Row rows[] = {
      {0x0000, 0},  {0x2320, 13}, {0x2330, 39}, {0x3100, 32}, {0x3110, 37}, {0x4210, 14},
      {0x4220, 15}, {0x5010, 16}, {0x5114, 33}, {0x5441, 24}, {0x5442, 25}, {0x5444, 26},
      {0x5530, 34}, {0x6010, 31}, {0x6100, 12}, {0x6101, 35}, {0x6102, 43},
      {0x6103, 44, true, true},   {0x6104, 33}, {0x6105, 43}, {0x7305, 17}, {0x7306, 18},
      {0x7307, 19, false, true},  {0x7308, 22}, {0x7309, 28}, {0x730A, 29}, {0x730B, 41},
      {0x730C, 42, true, true},   {0x7400, 38}, {0x8100, 21}, {0x8120, 23}, {0x9010, 27},
      {0xFF10, 36},
      // Not listed: neighbours of listed codes and the ends of the range.
      {0x0001, -1}, {0x5443, -1}, {0x730D, -1}, {0xFF11, -1}, {0xFFFF, -1}};
  for (const Row& row : rows) {
    const DriveError error = DriveErrorFor(row.code);
    EXPECT_EQ(error.number, row.number) << std::hex << row.code;
    EXPECT_EQ(error.clearsHomed, row.clearsHomed) << std::hex << row.code;
    EXPECT_EQ(error.clearsStartWord, row.clearsStartWord) << std::hex << row.code;
  }
}

// Drives 5, 7 and 9 on the stepped bench.
class DriveReads : public ::testing::Test {
 protected:
  DriveReads()
      : nodes({5, 7, 9}), drive5(5), drive7(7), drive9(9), host(nodes.table, bus),
        context{host, nodes.table} {
    for (testing::SdoServer* drive : {&drive5, &drive7, &drive9}) bus.Attach(*drive);
    for (std::size_t k = 0; k < 3; ++k) {
      nodes[k].SetFlagInBothRows(StatusFlag::D, true);
      nodes[k].latched.startWord = 1;
      nodes[k].current.startWord = 1;
    }
  }

  testing::TestNodes nodes;
  testing::SdoServer drive5;
  testing::SdoServer drive7;
  testing::SdoServer drive9;
  testing::FakeBus bus;
  testing::FakeHost host;
  ServiceContext context;
};

TEST_F(DriveReads, DriveErrorsGoIntoBothRowsAndAFailedReadShowsMinusTwo) {
  // The high word of the error field carries maker information.
  drive5.Define(0x1003, 1, 4, 0x12345441);
  drive7.Define(0x1003, 1, 4, 0x0000730C);
  // Drive 9 has no error field: its read fails.
  EXPECT_EQ(ReadDriveErrors(context), common::kKernelSuccess);
  EXPECT_EQ(nodes[0].latched.driveErrorNumber, 24);
  EXPECT_EQ(nodes[0].current.driveErrorNumber, 24);
  EXPECT_TRUE(nodes[0].current.Has(StatusFlag::D));
  EXPECT_EQ(nodes[1].current.driveErrorNumber, 42);
  EXPECT_FALSE(nodes[1].latched.Has(StatusFlag::D));
  EXPECT_FALSE(nodes[1].current.Has(StatusFlag::D));
  EXPECT_EQ(nodes[1].current.startWord, 0u);
  EXPECT_EQ(nodes[2].latched.driveErrorNumber, kDriveErrorReadFailed);
  EXPECT_EQ(nodes[2].current.driveErrorNumber, kDriveErrorReadFailed);

  host.cycleRunning = false;
  EXPECT_EQ(ReadDriveErrors(context), kernel::kCycleNotRunning);
}

TEST_F(DriveReads, DigitalInputsLeaveTheirByteAndWhetherTheReadSucceeded) {
  namespace di = digital_inputs_request;
  drive5.Define(0x60FD, 0, 1, 0x03);
  drive7.Define(0x60FD, 0, 1, 0x00);
  drive9.silent = true;
  for (std::size_t k = 0; k < 3; ++k) nodes[k].requestRecord.Set(di::kInputs, std::uint8_t{0x77});
  EXPECT_EQ(RunOnNodes(context, nodes.table.AllNodes(), ReadDigitalInputsStep,
                       [](NodeObject&, auto) {}),
            common::kKernelSuccess);
  EXPECT_EQ(nodes[0].requestRecord.Get(di::kValid), 1u);
  EXPECT_EQ(nodes[0].requestRecord.Get(di::kInputs), 0x03);
  EXPECT_EQ(nodes[1].requestRecord.Get(di::kValid), 1u);
  EXPECT_EQ(nodes[1].requestRecord.Get(di::kInputs), 0x00);
  EXPECT_EQ(nodes[2].requestRecord.Get(di::kValid), 0u);
  EXPECT_EQ(nodes[2].request.requestResult, common::kKernelCanMessageTimeout);
}

TEST_F(DriveReads, ArmingPutsEveryAnswerRecordOnItsFeedbackPdo) {
  EXPECT_EQ(ArmAllNodeRecords(context, RecordArming::Arm, true), common::kKernelSuccess);
  for (std::size_t k = 0; k < 3; ++k) {
    const auto send = testing::Rec(host.exchange, 2 * k + 1);
    const auto answer = testing::Rec(host.exchange, 2 * k + 2);
    EXPECT_EQ(send.Code(), 0) << k;
    EXPECT_EQ(answer.Code(), static_cast<std::uint8_t>(common::MessageCode::StartAnswerObject))
        << k;
    EXPECT_EQ(answer.CobId(), 0x180 + nodes[k].nodeId) << k;
  }
  EXPECT_EQ(ArmAllNodeRecords(context, RecordArming::Clear, true), common::kKernelSuccess);
  EXPECT_EQ(testing::Rec(host.exchange, 2).Code(), 0);
}

}  // namespace
}  // namespace vantor::canopen
