#include "interface/drill_plugin.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

namespace vantor::interface {
namespace {

TEST(DrillPluginTest, MissingPluginIsNoErrorAndEntriesReportUnavailable) {
  EXPECT_FALSE(LoadDrillPlugin("/nonexistent/libQuintel.so"));
  EXPECT_FALSE(DrillPluginLoaded());
  std::uint8_t record[36] = {};
  EXPECT_EQ(CallDrillEntry(DrillEntry::Drill, record, sizeof record),
            common::kLibraryFeatureUnavailable);
  UnloadDrillPlugin();
}

TEST(DrillPluginTest, LoadedPluginGetsTheMotionTableAndServesItsEntries) {
  ASSERT_TRUE(LoadDrillPlugin(VANTOR_TEST_DRILL_PLUGIN));
  ASSERT_TRUE(DrillPluginLoaded());
  // The plug-in stays loaded while we look at what it received.
  void* handle = dlopen(VANTOR_TEST_DRILL_PLUGIN, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr);
  using SizeFn = std::uint32_t (*)();
  using TableFn = const LinkoraDrillMotionTable* (*)();
  const auto size = reinterpret_cast<SizeFn>(dlsym(handle, "test_ReceivedTableSize"));
  const auto table = reinterpret_cast<TableFn>(dlsym(handle, "test_ReceivedTable"));
  const auto aborts = reinterpret_cast<SizeFn>(dlsym(handle, "test_AbortCalls"));
  ASSERT_TRUE(size && table && aborts);
  EXPECT_EQ(size(), sizeof(LinkoraDrillMotionTable));
  EXPECT_EQ(sizeof(LinkoraDrillMotionTable), 8 * sizeof(void*));
  const LinkoraDrillMotionTable expected = DrillMotionTable();
  EXPECT_EQ(std::memcmp(table(), &expected, sizeof expected), 0);

  std::uint8_t record[36] = {};
  EXPECT_EQ(CallDrillEntry(DrillEntry::Drill, record, 36), common::kLibrarySuccess);
  EXPECT_EQ(CallDrillEntry(DrillEntry::Drill, record, 35), common::kLibraryRecordSizeMismatch);
  // Entry points the plug-in lacks are unavailable, not a crash.
  EXPECT_EQ(CallDrillEntry(DrillEntry::SetDrillParam, record, 56),
            common::kLibraryFeatureUnavailable);

  const std::uint32_t abortsBefore = aborts();
  UnloadDrillPlugin();
  EXPECT_EQ(aborts(), abortsBefore + 1);
  dlclose(handle);
  EXPECT_FALSE(DrillPluginLoaded());
}

}  // namespace
}  // namespace vantor::interface
