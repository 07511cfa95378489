// Trace lines of the exports: one line when a traced export is entered and
// one when it is left, written to the debug output with the wall-clock time
// in milliseconds. A filter of up to five export names chooses what is
// traced; with the all-flag the filter is inverted.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace vantor::interface {

inline constexpr std::size_t kTraceTextCapacity = 50;
inline constexpr std::size_t kTraceNameSlots = 5;

enum class TraceEdge { Entry, Exit };

class TraceState {
 public:
  // Tracing off, filter cleared, the channel's device name kept and the
  // clocks read: the reference point of every later time stamp.
  void Reset(std::string_view deviceName);
  // `names` may hold null pointers (empty slots); with `names` null or
  // `nameCount` 0 every slot is cleared. Texts are cut to 50 bytes.
  void SetFilter(bool allFlag, const char* prefix, std::uint32_t nameCount,
                 const char* const* names);

  bool TracingOn() const;
  bool Selects(std::string_view exportName) const;
  // The line for an export at `elapsedMs` after the reference point.
  std::string FormatLine(TraceEdge edge, std::string_view exportName,
                         std::uint64_t elapsedMs) const;
  // Writes the line when tracing is on and the filter selects the export.
  void Trace(TraceEdge edge, std::string_view exportName) const;

  // Wall clock of the reference point; exposed so that tests can fix it.
  void SetReferenceClock(std::uint32_t hour, std::uint32_t minute, std::uint32_t second);

 private:
  mutable std::mutex mutex_;
  std::string prefix_;
  std::string deviceName_;
  bool allFlag_ = false;
  bool tracingOn_ = false;
  std::array<std::string, kTraceNameSlots> names_;
  std::uint32_t startHour_ = 0;
  std::uint32_t startMinute_ = 0;
  std::uint32_t startSecond_ = 0;
  std::uint64_t startMs_ = 0;
};

// The library's one trace state.
TraceState& LibraryTrace();

}  // namespace vantor::interface
