#include "interface/trace_output.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/os/debug_output.h"
#include "platform/os/timing.h"

namespace vantor::interface {
namespace {

std::string CutText(const char* text) {
  if (text == nullptr) return {};
  std::string_view view(text);
  if (view.size() > kTraceTextCapacity) view = view.substr(0, kTraceTextCapacity);
  return std::string(view);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::uint64_t ProcessClockMs() { return os::MonotonicMicroseconds() / 1000; }

}  // namespace

void TraceState::Reset(std::string_view deviceName) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  std::lock_guard lock(mutex_);
  prefix_.clear();
  for (auto& name : names_) name.clear();
  allFlag_ = false;
  tracingOn_ = false;
  deviceName_ = std::string(deviceName);
  startHour_ = static_cast<std::uint32_t>(local.tm_hour);
  startMinute_ = static_cast<std::uint32_t>(local.tm_min);
  startSecond_ = static_cast<std::uint32_t>(local.tm_sec);
  startMs_ = ProcessClockMs();
}

void TraceState::SetReferenceClock(std::uint32_t hour, std::uint32_t minute, std::uint32_t second) {
  std::lock_guard lock(mutex_);
  startHour_ = hour;
  startMinute_ = minute;
  startSecond_ = second;
}

void TraceState::SetFilter(bool allFlag, const char* prefix, std::uint32_t nameCount,
                           const char* const* names) {
  std::lock_guard lock(mutex_);
  prefix_ = CutText(prefix);
  allFlag_ = allFlag;
  for (std::size_t slot = 0; slot < kTraceNameSlots; ++slot) {
    names_[slot] = names != nullptr && slot < nameCount ? CutText(names[slot]) : std::string();
  }
  tracingOn_ = allFlag_;
  for (const auto& name : names_) tracingOn_ = tracingOn_ || !name.empty();
}

bool TraceState::TracingOn() const {
  std::lock_guard lock(mutex_);
  return tracingOn_;
}

bool TraceState::Selects(std::string_view exportName) const {
  std::lock_guard lock(mutex_);
  if (!tracingOn_) return false;
  bool listed = false;
  for (const auto& name : names_) {
    listed = listed || (!name.empty() && EqualsIgnoringCase(name, exportName));
  }
  return allFlag_ ? !listed : listed;
}

std::string TraceState::FormatLine(TraceEdge edge, std::string_view exportName,
                                   std::uint64_t elapsedMs) const {
  std::lock_guard lock(mutex_);
  const std::uint64_t seconds = elapsedMs / 1000 + startSecond_;
  const std::uint64_t minutes = seconds / 60 + startMinute_;
  const std::uint64_t hours = minutes / 60 + startHour_;
  char time[32];
  std::snprintf(time, sizeof time, "%02u:%02u:%02u.%03u", static_cast<unsigned>(hours % 24),
                static_cast<unsigned>(minutes % 60), static_cast<unsigned>(seconds % 60),
                static_cast<unsigned>(elapsedMs % 1000));
  std::string line;
  if (!prefix_.empty()) {
    line += prefix_;
    line += " - ";
  }
  line += deviceName_;
  line += " - ";
  line += exportName;
  line += edge == TraceEdge::Entry ? " - Entry   " : " - Exit    ";
  line += time;
  line += "\n\r";
  return line;
}

void TraceState::Trace(TraceEdge edge, std::string_view exportName) const {
  if (!Selects(exportName)) return;
  std::uint64_t startMs = 0;
  {
    std::lock_guard lock(mutex_);
    startMs = startMs_;
  }
  os::OutputDebugText(FormatLine(edge, exportName, ProcessClockMs() - startMs));
}

TraceState& LibraryTrace() {
  static TraceState state;
  return state;
}

}  // namespace vantor::interface
