// The values the kernel derives from the CAN start record and the driver's
// version record.
#include <gtest/gtest.h>

#include <string>

#include "kernel/core/driver_link_records.h"

namespace vantor::kernel {
namespace {

namespace sr = common::can_start_record;
namespace vr = common::driver_version_record;

struct VersionCase {
  std::uint16_t major, minor, zero, build;
  const char* expected;
};

TEST(DriverVersionTextTest, JoinsTheFourWordsInTwoDigitsAtLeastAndCutsAt22) {
  const VersionCase cases[] = {
      {1, 70, 0, 13, "01.70.00.13"},
      {1, 70, 0, 10, "01.70.00.10"},
      {0, 0, 0, 0, "00.00.00.00"},
      {100, 5, 0, 1234, "100.05.00.1234"},
      // Five digits each would need 23 characters: the last one is cut.
      {65535, 65535, 65535, 65535, "65535.65535.65535.6553"},
  };
  for (const auto& c : cases) {
    common::DriverVersionRecord record;
    record.Set(vr::kInterfaceKind, 2);
    record.Set(vr::kMajor, c.major);
    record.Set(vr::kMinor, c.minor);
    record.Set(vr::kZero, c.zero);
    record.Set(vr::kBuild, c.build);
    EXPECT_EQ(std::string(FormatDriverVersion(record.View()).data()), c.expected);
  }
}

TEST(StartRecordTest, DevicePathIsBoundedToTwentyCharacters) {
  common::CanStartRecord start;
  ASSERT_TRUE(start.SetText(sr::kDeviceName, "tarnis1"));
  EXPECT_EQ(DevicePathFromStartRecord(start.View()), "\\\\.\\tarnis1");

  // A block filled to the brim has no terminator in the field.
  start.Fill(sr::kDeviceName.kOffset, sr::kDeviceName.kCapacity + 3, 'x');
  EXPECT_EQ(DevicePathFromStartRecord(start.View()), "\\\\.\\" + std::string(20, 'x'));
}

TEST(StartRecordTest, ExchangeTimeoutZeroMeansTheDefault) {
  common::CanStartRecord start;
  EXPECT_EQ(ExchangeTimeoutFromStartRecord(start.View()), 1500u);
  start.Set(sr::kRealTimeThreadIntWaitTime, 250);
  EXPECT_EQ(ExchangeTimeoutFromStartRecord(start.View()), 250u);
}

TEST(StartRecordTest, TicksRoundDownAfterAddingOne) {
  EXPECT_EQ(TicksForMicroseconds(0), 1);
  EXPECT_EQ(TicksForMicroseconds(511), 1);
  EXPECT_EQ(TicksForMicroseconds(512), 2);
  EXPECT_EQ(TicksForMicroseconds(2048), 5);
  EXPECT_EQ(TicksForMicroseconds(32766u * 512u), 32767);
  EXPECT_EQ(TicksForMicroseconds(32767u * 512u), 32767);
  EXPECT_EQ(TicksForMicroseconds(0xFFFFFFFFu), 32767);
}

}  // namespace
}  // namespace vantor::kernel
