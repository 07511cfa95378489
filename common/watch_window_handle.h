// The watching program's window-handle mapping (`WatchWindowHandle`).
//
// One page of shared memory under name 11 of the named-object table. Its
// first 32-bit word holds the endpoint token of the watching program's main
// frame, to which the library posts the exit command; the second its process
// id, so that a start that finds a watching program but no kernel can take
// it over; the rest is unused. The words are written before the presence
// event is set, and readers look at them only after they saw the event set
// (set and wait are full barriers).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "common/kernel_object_names.h"
#include "common/wire_record.h"

namespace vantor::common {

using WatchWindowHandleView = ByteView<kWatchWindowHandleMappingSize>;
using ConstWatchWindowHandleView = ConstByteView<kWatchWindowHandleMappingSize>;
using WatchWindowHandleRecord = ByteRecord<kWatchWindowHandleMappingSize>;
static_assert(sizeof(WatchWindowHandleRecord) == 4096);

namespace watch_window_handle {
inline constexpr Field<std::uint32_t, 0x00> kWindowHandle{};
inline constexpr Field<std::uint32_t, 0x04> kProcessId{};
static_assert(decltype(kWindowHandle)::kOffset == 0 && decltype(kWindowHandle)::kEnd == 4);
static_assert(decltype(kProcessId)::kOffset == 4 && decltype(kProcessId)::kEnd == 8);
}  // namespace watch_window_handle

// The published token, or nothing when the mapping is shorter than a page
// (a foreign object under our name).
inline std::optional<std::uint32_t> LoadWatchWindowHandle(std::span<const std::uint8_t> mapping) {
  const auto view = ConstWatchWindowHandleView::Over(mapping);
  if (!view) return std::nullopt;
  return view->Get(watch_window_handle::kWindowHandle);
}

// The published process id (0: none), or nothing when the mapping is
// shorter than a page.
inline std::optional<std::uint32_t> LoadWatchProcessId(std::span<const std::uint8_t> mapping) {
  const auto view = ConstWatchWindowHandleView::Over(mapping);
  if (!view) return std::nullopt;
  return view->Get(watch_window_handle::kProcessId);
}

// False, writing nothing, when the mapping is shorter than a page.
inline bool StoreWatchWindowHandle(std::span<std::uint8_t> mapping, std::uint32_t token,
                                   std::uint32_t processId = 0) {
  auto view = WatchWindowHandleView::Over(mapping);
  if (!view) return false;
  view->Set(watch_window_handle::kWindowHandle, token);
  view->Set(watch_window_handle::kProcessId, processId);
  return true;
}

}  // namespace vantor::common
