// The drilling plug-in: loaded after a CNC initialisation, handed the
// motion exports it may call back, and asked to abort at exit. A missing
// plug-in or entry point is no error: the drilling exports then report the
// feature as unavailable.
#pragma once

#include <cstdint>
#include <string>

#include "common/status_code.h"
#include "interface/include/linkora_drill.h"

namespace vantor::interface {

inline constexpr char kDrillPluginFileName[] = "libQuintel.so";

// The table of the eight motion exports handed to the plug-in.
LinkoraDrillMotionTable DrillMotionTable();

// Loads the plug-in from `path` and hands it the motion table; true when a
// plug-in was loaded.
bool LoadDrillPlugin(const std::string& path);
// Calls the plug-in's abort when it has one, then unloads it.
void UnloadDrillPlugin();
// Calls the plug-in's abort when it has one; the plug-in stays loaded.
void AbortDrillCycle();
bool DrillPluginLoaded();

enum class DrillEntry { SetDrillParam, GetDrillParam, Drill, GetStatus };
// Calls an entry point with the caller's record; 0xC9140005 without it.
common::StatusCode CallDrillEntry(DrillEntry entry, void* record, std::uint32_t size);

}  // namespace vantor::interface
