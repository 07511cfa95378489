// The values the kernel derives from the CAN start record and the driver's
// version record.
#include <gtest/gtest.h>

#include <string>

#include "kernel/core/driver_link_records.h"
#include "platform/os/wait.h"

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

TEST(StartRecordTest, ExchangeTimeoutZeroMeansTheDefaultAndEveryOneHasAnEnd) {
  struct Case {
    std::uint32_t inRecord;
    std::uint32_t used;
  };
  // The field's largest value is the infinite wait of the operating system
  // layer; the cycle must never use it.
  const Case cases[] = {{0, 1500},
                        {250, 250},
                        {kLongestExchangeTimeoutMs, kLongestExchangeTimeoutMs},
                        {kLongestExchangeTimeoutMs + 1, kLongestExchangeTimeoutMs},
                        {0xFFFFFFFEu, kLongestExchangeTimeoutMs},
                        {0xFFFFFFFFu, kLongestExchangeTimeoutMs}};
  for (const auto& c : cases) {
    common::CanStartRecord start;
    start.Set(sr::kRealTimeThreadIntWaitTime, c.inRecord);
    EXPECT_EQ(ExchangeTimeoutFromStartRecord(start.View()), c.used) << c.inRecord;
  }
  static_assert(kLongestExchangeTimeoutMs < os::kInfinite);
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

// The cycle the driver runs (and the drives play set-points at) is whole
// ticks, longer than the configured value.
TEST(StartRecordTest, TheDriversCycleIsItsWholeTicksOf512Microseconds) {
  EXPECT_EQ(DriverCycleMicroseconds(2000), 2048u);
  EXPECT_EQ(DriverCycleMicroseconds(2048), 2560u);
  EXPECT_EQ(DriverCycleMicroseconds(3000), 3072u);
  EXPECT_EQ(DriverCycleMicroseconds(0xFFFFFFFFu), 32767u * 512u);
}

}  // namespace
}  // namespace vantor::kernel
