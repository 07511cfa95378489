// A drilling plug-in for the tests: it keeps the motion table it was given
// and answers its entry points with fixed codes.
#include <cstdint>
#include <cstring>

#include "interface/include/linkora_drill.h"

namespace {
LinkoraDrillMotionTable receivedTable{};
std::uint32_t receivedSize = 0;
std::uint32_t abortCalls = 0;
}  // namespace

extern "C" {

__attribute__((visibility("default"))) std::uint32_t drill_SetMctlFn(
    const LinkoraDrillMotionTable* table, std::uint32_t size) {
  receivedSize = size;
  if (table != nullptr && size == sizeof receivedTable) {
    std::memcpy(&receivedTable, table, sizeof receivedTable);
  }
  return 0x09140000;
}

__attribute__((visibility("default"))) std::uint32_t drill_Drill(void*, std::uint32_t size) {
  return size == 36 ? 0x09140000u : 0xC914000Eu;
}

__attribute__((visibility("default"))) std::uint32_t drill_Abort() {
  ++abortCalls;
  return 0x09140000;
}

__attribute__((visibility("default"))) std::uint32_t test_ReceivedTableSize() {
  return receivedSize;
}

__attribute__((visibility("default"))) const LinkoraDrillMotionTable* test_ReceivedTable() {
  return &receivedTable;
}

__attribute__((visibility("default"))) std::uint32_t test_AbortCalls() { return abortCalls; }
}
