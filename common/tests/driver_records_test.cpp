#include "common/driver_records.h"

#include <gtest/gtest.h>

#include "common/driver_requests.h"
#include "common/tests/golden_bytes.h"

namespace vantor::common {
namespace {

using testing::GoldenField;
using testing::RawLittleEndian;

TEST(DriverRecordsTest, RunRecordGoldenLayout) {
  namespace f = run_record;
  RunRecord record;
  record.Set(f::kInterfaceKind, 2);
  record.Set(f::kChannel, 1);
  record.Set(f::kLatencyMeasurement, 1);
  record.Set(f::kTickClockDivider, 4);
  record.Set(f::kBitRateCode, 7);
  record.Set(f::kCycleDivider, 0x0102);
  record.Set(f::kRunMode, f::kRunModeBuffered);
  record.Set(f::kSendTick, -1);
  record.Set(f::kFillLimit, 498);
  record.Set(f::kPollInterval, 0x01020304);
  record.Set(f::kPollBudget, -2);
  const GoldenField golden[] = {
      {"interface kind", 0, 1, 2},
      {"channel", 1, 1, 1},
      {"latency", 2, 1, 1},
      {"tick divider", 3, 1, 4},
      {"bit rate", 4, 1, 7},
      {"reserved", 5, 1, 0},
      {"cycle divider", 6, 2, 0x0102},
      {"run mode", 8, 1, 1},
      {"reserved", 9, 1, 0},
      {"send tick", 10, 2, 0xFFFF},
      {"fill limit", 12, 2, 498},
      {"reserved", 14, 2, 0},
      {"poll interval", 16, 4, 0x01020304},
      {"poll budget", 20, 4, 0xFFFFFFFE},
  };
  for (const auto& field : golden) {
    EXPECT_EQ(RawLittleEndian(record.Bytes(), field.offset, field.width), field.raw) << field.name;
  }
  // The status word is written over the first four bytes of the input.
  record.Set(f::kStatus, kDriverInvalidRunRecord);
  EXPECT_EQ(RawLittleEndian(record.Bytes(), 0, 4), kDriverInvalidRunRecord);
  EXPECT_EQ(FindDriverRequest(IOCTL_CAN_START_RUN)->inputLength, kRunRecordSize);
}

TEST(DriverRecordsTest, CycleTimeIsComputedInSixtyFourBits) {
  EXPECT_EQ(run_record::CycleMicroseconds(8, 4), 4096u);
  EXPECT_EQ(run_record::CycleMicroseconds(32767, 15), 32767ull * 15 * 128);
  EXPECT_EQ(run_record::CycleMicroseconds(0, 4), 0u);
  EXPECT_EQ(run_record::CycleMicroseconds(-1, 4), 0u);
}

TEST(DriverRecordsTest, BitRateTable) {
  struct Case {
    std::uint32_t code, rate;
    std::uint8_t t0, t1;
  };
  const Case cases[] = {
      {0, 10000, 0x5F, 0x7F},  {1, 20000, 0x4F, 0x7F},   {2, 50000, 0x47, 0x6B},
      {3, 125000, 0x43, 0x49}, {4, 250000, 0x41, 0x49},  {5, 500000, 0x40, 0x49},
      {6, 800000, 0x40, 0x25}, {7, 1000000, 0x40, 0x23},
  };
  for (const auto& c : cases) {
    const auto timing = BitRateTimingOf(c.code);
    ASSERT_TRUE(timing.has_value()) << c.code;
    EXPECT_EQ(timing->bitsPerSecond, c.rate);
    EXPECT_EQ(timing->timing0, c.t0);
    EXPECT_EQ(timing->timing1, c.t1);
    EXPECT_EQ(BitRateOfTiming(c.t0, c.t1), c.rate);
  }
  EXPECT_FALSE(BitRateTimingOf(8).has_value());
}

TEST(DriverRecordsTest, AnswerRecordsCarryTheirStatusWhereTheTableSays) {
  struct Case {
    std::uint32_t code;
    std::size_t size;
    std::size_t status;
  };
  const Case cases[] = {
      {IOCTL_CAN_GET_LATENCY_TIME, kLatencyRecordSize, latency_record::kStatus.kOffset},
      {IOCTL_CAN_GET_RUN_TIME, kRunTimeRecordSize, run_time_record::kStatus.kOffset},
      {IOCTL_CAN_STA_PORT_REPORT, kStaticPortTableSize, static_port_table::kStatus.kOffset},
      {IOCTL_CAN_STA_PORT_ACCESS, kStaticPortAccessSize, static_port_access::kStatus.kOffset},
      {IOCTL_CAN_DYN_PORT_IN, kDynPortInOutputSize, dyn_port_in::kStatus.kOffset},
      {IOCTL_CAN_DYN_PORT_OUT, kDynPortOutSize, dyn_port_out::kStatus.kOffset},
  };
  for (const auto& c : cases) {
    const DriverRequest* request = FindDriverRequest(c.code);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->outputLength, c.size) << request->name;
    EXPECT_EQ(request->statusOffset, c.status) << request->name;
  }
  EXPECT_EQ(FindDriverRequest(IOCTL_CAN_GET_VERSION)->outputLength, kDriverVersionRecordSize);
  EXPECT_EQ(FindDriverRequest(IOCTL_CAN_CH2_GET_RESOURCES)->outputLength, kChannelResourcesSize);
}

TEST(DriverRecordsTest, LatencyRunTimeAndResourcesGoldenLayout) {
  LatencyRecord latency;
  latency.Set(latency_record::kCycleMicroseconds, 4096);
  latency.Set(latency_record::kInterruptIntervalMax, 0x0A0B0C0D);
  latency.Set(latency_record::kCompletionIntervalMin, 0x11);
  latency.Set(latency_record::kCounterFrequency, 10000000);
  EXPECT_EQ(RawLittleEndian(latency.Bytes(), 0, 4), 4096u);
  EXPECT_EQ(RawLittleEndian(latency.Bytes(), 8, 4), 0x0A0B0C0Du);
  EXPECT_EQ(RawLittleEndian(latency.Bytes(), 12, 4), 0x11u);
  EXPECT_EQ(RawLittleEndian(latency.Bytes(), 24, 8), 10000000u);

  RunTimeRecord runTime;
  runTime.Set(run_time_record::kTicksSinceStart, 0x0102030405060708);
  runTime.Set(run_time_record::kCounterFrequency, 10000000);
  EXPECT_EQ(RawLittleEndian(runTime.Bytes(), 0, 8), 0x0102030405060708u);
  EXPECT_EQ(RawLittleEndian(runTime.Bytes(), 8, 8), 10000000u);

  ChannelResources resources;
  resources.Set(channel_resources::kInterruptMode, 1);
  resources.Set(channel_resources::kBridgeWindowAddress, 0xFEDC000000001000);
  resources.Set(channel_resources::kControllerWindowAddress, 0x2000);
  resources.Set(channel_resources::kControllerWindowLength, 0x200);
  EXPECT_EQ(RawLittleEndian(resources.Bytes(), 12, 4), 1u);
  EXPECT_EQ(RawLittleEndian(resources.Bytes(), 16, 8), 0xFEDC000000001000u);
  EXPECT_EQ(RawLittleEndian(resources.Bytes(), 32, 8), 0x2000u);
  EXPECT_EQ(RawLittleEndian(resources.Bytes(), 40, 4), 0x200u);
}

TEST(DriverRecordsTest, PortRecordsAndVersionGoldenLayout) {
  StaticPortTable table;
  ASSERT_TRUE(
      table.Store<std::uint8_t>(static_port_table::SlotOffset(15) + static_port_table::kSlotKind,
                                static_port_table::kKindWrite));
  ASSERT_TRUE(table.Store<std::uint16_t>(
      static_port_table::SlotOffset(15) + static_port_table::kSlotPort, 0x378));
  EXPECT_EQ(RawLittleEndian(table.Bytes(), 60, 4), 0x03780002u);
  EXPECT_EQ(static_port_table::SlotOffset(16), kNoOffset);

  StaticPortAccess access;
  ASSERT_TRUE(access.Store<std::uint8_t>(
      static_port_access::SlotOffset(3) + static_port_access::kSlotValue, 0xA5));
  EXPECT_EQ(access.Bytes()[7], 0xA5);
  EXPECT_EQ(static_port_access::SlotOffset(16), kNoOffset);

  DriverVersionRecord version;
  version.Set(driver_version_record::kInterfaceKind, kPciDriverVersion.interfaceKind);
  version.Set(driver_version_record::kMajor, kPciDriverVersion.major);
  version.Set(driver_version_record::kMinor, kPciDriverVersion.minor);
  version.Set(driver_version_record::kBuild, kPciDriverVersion.build);
  const GoldenField golden[] = {
      {"kind", 0, 2, 2}, {"major", 2, 2, 1},  {"minor", 4, 2, 70},
      {"zero", 6, 2, 0}, {"build", 8, 2, 10},
  };
  for (const auto& field : golden) {
    EXPECT_EQ(RawLittleEndian(version.Bytes(), field.offset, field.width), field.raw) << field.name;
  }
}

}  // namespace
}  // namespace vantor::common
