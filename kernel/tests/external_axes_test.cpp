#include "kernel/core/external_axes.h"

#include <gtest/gtest.h>

#include <string_view>

namespace vantor::kernel {
namespace {

HandlingAxisSettings Axis(std::uint8_t id, std::uint32_t deviceTypeFlag) {
  return {.nodeId = id,
          .deviceTypeFlag = deviceTypeFlag,
          .countdownReload = 7,
          .answerTimeoutMicroseconds = 14000,
          .sdoRequestCobId = static_cast<std::uint16_t>(0x600 + id),
          .sdoResponseCobId = static_cast<std::uint16_t>(0x580 + id)};
}

std::string_view Text(const canopen::ModuleDescription& d) { return d.data(); }

TEST(ExternalAxesTest, OnlyAnAxisWithDeviceTypeFlagOneIsAskedEachOnItsOwnPair) {
  struct Case {
    std::uint32_t flag;
    std::uint32_t active;
  };
  for (const Case c : {Case{1, 1}, Case{0, 0}, Case{2, 0}}) {
    const canopen::ExternalAxis entry = ExternalAxisOf(Axis(40, c.flag));
    EXPECT_EQ(entry.active, c.active) << c.flag;
    EXPECT_EQ(entry.sdoRequestCobId, 0x628) << c.flag;
    EXPECT_EQ(entry.sdoResponseCobId, 0x5A8) << c.flag;
    EXPECT_EQ(entry.countdownReload, 7) << c.flag;
    EXPECT_EQ(Text(entry.description), "") << c.flag;
  }
}

TEST(ExternalAxesTest, ConfiguringAgainKeepsWhatTheResetLearnedAndClearsUnusedEntries) {
  std::array<HandlingAxisSettings, kMaxHandlingAxisRecords> settings{};
  settings[0] = Axis(40, 1);
  settings[1] = Axis(41, 0);
  settings[2] = Axis(42, 1);  // beyond the count
  ExternalAxisTable table{};
  table[2] = {1, 3, 0x62A, 0x5AA, {'o', 'l', 'd'}};
  ConfigureExternalAxes(settings, 2, table);
  EXPECT_EQ(table[0].active, 1u);
  EXPECT_EQ(table[1].active, 0u);
  EXPECT_EQ(table[1].sdoRequestCobId, 0x629);
  EXPECT_EQ(table[2].active, 0u);
  EXPECT_EQ(table[2].sdoRequestCobId, 0);
  EXPECT_EQ(Text(table[2].description), "");

  // The identification wrote the descriptions; a later restore moved the
  // addressing.
  table[0].description = {'Z', 'E', 'B'};
  table[1].description = {'U', 'n'};
  table[0].sdoRequestCobId = 0x601;
  ConfigureExternalAxes(settings, 2, table);
  EXPECT_EQ(table[0].sdoRequestCobId, 0x628);
  EXPECT_EQ(Text(table[0].description), "ZEB");
  EXPECT_EQ(Text(table[1].description), "Un");
}

}  // namespace
}  // namespace vantor::kernel
