#include "interface/drill_plugin.h"

#include <mutex>
#include <optional>

#include "platform/os/library_path.h"

// The motion exports live in the shared library's export files; where the
// core is linked without them (its unit tests) the table hands the plug-in
// null entries. The references keep the default visibility so that they
// never narrow the exports' own.
extern "C" {
__attribute__((weak, visibility("default"))) void mctl_SetVelocity();
__attribute__((weak, visibility("default"))) void mctl_GetVelocity();
__attribute__((weak, visibility("default"))) void mctl_MoveAbs();
__attribute__((weak, visibility("default"))) void mctl_MoveRel();
__attribute__((weak, visibility("default"))) void mctl_FastAbs();
__attribute__((weak, visibility("default"))) void mctl_FastRel();
__attribute__((weak, visibility("default"))) void mctl_SetMotionState();
__attribute__((weak, visibility("default"))) void mctl_GetStatus();
}

namespace vantor::interface {
namespace {

struct DrillPlugin {
  std::mutex mutex;
  std::optional<os::Plugin> library;
  LinkoraDrillRecordFn setDrillParam = nullptr;
  LinkoraDrillRecordFn getDrillParam = nullptr;
  LinkoraDrillRecordFn drill = nullptr;
  LinkoraDrillRecordFn getStatus = nullptr;
  LinkoraDrillAbortFn abort = nullptr;
};

DrillPlugin& Plugin() {
  static DrillPlugin* plugin = new DrillPlugin;
  return *plugin;
}

template <typename Function>
Function EntryPoint(const os::Plugin& library, const char* name) {
  return reinterpret_cast<Function>(library.Symbol(name));
}

}  // namespace

LinkoraDrillMotionTable DrillMotionTable() {
  LinkoraDrillMotionTable table{};
  table.SetVelocity = &mctl_SetVelocity;
  table.GetVelocity = &mctl_GetVelocity;
  table.MoveAbs = &mctl_MoveAbs;
  table.MoveRel = &mctl_MoveRel;
  table.FastAbs = &mctl_FastAbs;
  table.FastRel = &mctl_FastRel;
  table.SetMotionState = &mctl_SetMotionState;
  table.GetStatus = &mctl_GetStatus;
  return table;
}

bool LoadDrillPlugin(const std::string& path) {
  DrillPlugin& plugin = Plugin();
  LinkoraDrillSetMctlFn setMotionFunctions = nullptr;
  {
    std::lock_guard lock(plugin.mutex);
    if (plugin.library) return true;
    auto library = os::Plugin::Load(path);
    if (!library) return false;
    plugin.library = library.take();
    plugin.setDrillParam = EntryPoint<LinkoraDrillRecordFn>(*plugin.library, "drill_SetDrillParam");
    plugin.getDrillParam = EntryPoint<LinkoraDrillRecordFn>(*plugin.library, "drill_GetDrillParam");
    plugin.drill = EntryPoint<LinkoraDrillRecordFn>(*plugin.library, "drill_Drill");
    plugin.getStatus = EntryPoint<LinkoraDrillRecordFn>(*plugin.library, "drill_GetStatus");
    plugin.abort = EntryPoint<LinkoraDrillAbortFn>(*plugin.library, "drill_Abort");
    setMotionFunctions = EntryPoint<LinkoraDrillSetMctlFn>(*plugin.library, "drill_SetMctlFn");
  }
  if (setMotionFunctions != nullptr) {
    const LinkoraDrillMotionTable table = DrillMotionTable();
    setMotionFunctions(&table, sizeof table);
  }
  return true;
}

void AbortDrillCycle() {
  DrillPlugin& plugin = Plugin();
  LinkoraDrillAbortFn abort = nullptr;
  {
    std::lock_guard lock(plugin.mutex);
    abort = plugin.abort;
  }
  if (abort != nullptr) abort();
}

void UnloadDrillPlugin() {
  AbortDrillCycle();
  DrillPlugin& plugin = Plugin();
  std::lock_guard lock(plugin.mutex);
  plugin.setDrillParam = nullptr;
  plugin.getDrillParam = nullptr;
  plugin.drill = nullptr;
  plugin.getStatus = nullptr;
  plugin.abort = nullptr;
  plugin.library.reset();
}

bool DrillPluginLoaded() {
  DrillPlugin& plugin = Plugin();
  std::lock_guard lock(plugin.mutex);
  return plugin.library.has_value();
}

common::StatusCode CallDrillEntry(DrillEntry entry, void* record, std::uint32_t size) {
  DrillPlugin& plugin = Plugin();
  LinkoraDrillRecordFn function = nullptr;
  {
    std::lock_guard lock(plugin.mutex);
    switch (entry) {
      case DrillEntry::SetDrillParam:
        function = plugin.setDrillParam;
        break;
      case DrillEntry::GetDrillParam:
        function = plugin.getDrillParam;
        break;
      case DrillEntry::Drill:
        function = plugin.drill;
        break;
      case DrillEntry::GetStatus:
        function = plugin.getStatus;
        break;
    }
  }
  if (function == nullptr) return common::kLibraryFeatureUnavailable;
  return function(record, size);
}

}  // namespace vantor::interface
