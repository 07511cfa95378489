#include "common/kernel_link_records.h"

#include <gtest/gtest.h>

#include "common/tests/golden_bytes.h"

namespace vantor::common {
namespace {

using testing::GoldenField;
using testing::RawLittleEndian;

TEST(KernelLinkRecordsTest, CanStartRecordGoldenLayout) {
  namespace f = can_start_record;
  CanStartRecord record;
  record.Set(f::kCanInterface, 2);
  record.Set(f::kKernelModus, 1);
  record.Set(f::kBaudRateForCan, 7);
  record.Set(f::kMeasureLatenzTime, 0x11121314);
  record.Set(f::kLookAheadDesPosiMaxNo, -3);
  record.Set(f::kInterruptCycle, 0x21222324);
  record.Set(f::kTimeForGlobalSynPeriod, 0x31323334);
  record.Set(f::kSynMaxWaitTime, 0x41424344);
  record.Set(f::kWatchProcessId, 0x51525354);
  record.Set(f::kWindowsTimerRes, 0x61626364);
  record.Set(f::kPathWindowsTimerRes, 0x71727374);
  record.Set(f::kRealTimeThreadIntWaitTime, 1500);
  ASSERT_TRUE(record.SetText(f::kDeviceName, "tarnis1"));

  const GoldenField golden[] = {
      {"interface", 0x00, 1, 2},
      {"channel", 0x01, 1, 1},
      {"bit rate", 0x02, 1, 7},
      {"unused", 0x03, 1, 0},
      {"latency", 0x04, 4, 0x11121314},
      {"look-ahead", 0x08, 2, 0xFFFD},
      {"unused", 0x0A, 2, 0},
      {"interrupt cycle", 0x0C, 4, 0x21222324},
      {"sync period", 0x10, 4, 0x31323334},
      {"sync wait", 0x14, 4, 0x41424344},
      {"watch pid", 0x18, 4, 0x51525354},
      {"timer res", 0x1C, 4, 0x61626364},
      {"path timer res", 0x20, 4, 0x71727374},
      {"exchange time-out", 0x24, 4, 1500},
      {"device name", 0x28, 8, 0x003173696E726174},
  };
  for (const auto& field : golden) {
    EXPECT_EQ(RawLittleEndian(record.Bytes(), field.offset, field.width), field.raw) << field.name;
  }
}

TEST(KernelLinkRecordsTest, DeviceNameHoldsTwentyCharactersAndItsTerminator) {
  namespace f = can_start_record;
  CanStartRecord record;
  EXPECT_TRUE(record.SetText(f::kDeviceName, "12345678901234567890"));
  EXPECT_EQ(record.GetTerminatedText(f::kDeviceName), "12345678901234567890");
  EXPECT_FALSE(record.SetText(f::kDeviceName, "123456789012345678901"));
  // A name filled to the brim by a foreign writer is malformed, not read on.
  record.Fill(f::kDeviceName.kOffset, kCanStartRecordSize - f::kDeviceName.kOffset, 'x');
  EXPECT_FALSE(record.GetTerminatedText(f::kDeviceName).has_value());
}

TEST(KernelLinkRecordsTest, KernelIdentityGoldenLayoutAtBlockOffsets) {
  namespace f = kernel_identity;
  KernelIdentity identity;
  identity.Set(f::kCanInterface, 0);
  identity.Set(f::kKernelModus, 4);
  identity.Set(f::kBaudRateForCan, 5);
  identity.Set(f::kMeasureLatenzTime, 1);
  identity.Set(f::kLookAheadDesPosiMaxNo, 0x0102);
  identity.Set(f::kInterruptCycle, 0x03040506);
  identity.Set(f::kTimeForGlobalSynPeriod, 0x0708090A);
  identity.Set(f::kSynMaxWaitTime, 0x0B0C0D0E);
  identity.Set(f::kWindowsTimerRes, 0x10111213);
  identity.Set(f::kPathWindowsTimerRes, 0x14151617);
  identity.Set(f::kRealTimeThreadIntWaitTime, 0x18191A1B);
  identity.Set(f::kKernelProcessId, 0x1C1D1E1F);
  identity.Set(f::kWatchProcessId, 0x20212223);

  CommunicationBlockRecord block;
  ASSERT_TRUE(block.CopyIn(communication_block::kPayloadOffset, identity.Bytes()));
  // Offsets as the library reads them from the block.
  const GoldenField golden[] = {
      {"interface", 0x44, 1, 0},
      {"channel", 0x45, 1, 4},
      {"bit rate", 0x46, 1, 5},
      {"latency", 0x48, 4, 1},
      {"look-ahead", 0x4C, 2, 0x0102},
      {"interrupt cycle", 0x50, 4, 0x03040506},
      {"sync period", 0x54, 4, 0x0708090A},
      {"sync wait", 0x58, 4, 0x0B0C0D0E},
      {"timer res", 0x5C, 4, 0x10111213},
      {"path timer res", 0x60, 4, 0x14151617},
      {"exchange time-out", 0x64, 4, 0x18191A1B},
      {"kernel pid", 0x68, 4, 0x1C1D1E1F},
      {"watch pid", 0x6C, 4, 0x20212223},
      {"after the record", 0x70, 4, 0},
  };
  for (const auto& field : golden) {
    EXPECT_EQ(RawLittleEndian(block.Bytes(), field.offset, field.width), field.raw) << field.name;
  }
}

}  // namespace
}  // namespace vantor::common
