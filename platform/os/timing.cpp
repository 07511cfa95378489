#include "platform/os/timing.h"

#include <time.h>

#include <array>
#include <cerrno>
#include <mutex>

namespace vantor::os {
namespace {

// Open periods per value, so that an end needs a matching begin. Periods
// beyond the table are accepted and counted together.
struct PeriodBook {
  std::mutex mutex;
  std::array<std::uint32_t, 1001> openByPeriod{};
  std::uint32_t openLongPeriods = 0;

  std::uint32_t& CounterOf(std::uint32_t period) {
    return period < openByPeriod.size() ? openByPeriod[period] : openLongPeriods;
  }
};

PeriodBook& Periods() {
  static PeriodBook book;
  return book;
}

bool IsValidPeriod(std::uint32_t period) {
  return period >= kTimerPeriodMin && period <= kTimerPeriodMax;
}

std::uint64_t MonotonicMilliseconds() { return MonotonicMicroseconds() / 1000u; }

}  // namespace

std::uint32_t TimeGetDevCaps(TimerCaps* caps) {
  if (caps == nullptr) return kTimerNoCanDo;
  caps->periodMin = kTimerPeriodMin;
  caps->periodMax = kTimerPeriodMax;
  return kTimerNoError;
}

std::uint32_t TimeBeginPeriod(std::uint32_t periodMs) {
  if (!IsValidPeriod(periodMs)) return kTimerNoCanDo;
  PeriodBook& book = Periods();
  std::lock_guard guard(book.mutex);
  ++book.CounterOf(periodMs);
  return kTimerNoError;
}

std::uint32_t TimeEndPeriod(std::uint32_t periodMs) {
  if (!IsValidPeriod(periodMs)) return kTimerNoCanDo;
  PeriodBook& book = Periods();
  std::lock_guard guard(book.mutex);
  std::uint32_t& open = book.CounterOf(periodMs);
  if (open == 0) return kTimerNoCanDo;
  --open;
  return kTimerNoError;
}

void Sleep(std::uint32_t milliseconds) {
  timespec remaining{};
  remaining.tv_sec = static_cast<time_t>(milliseconds / 1000u);
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1'000'000L;
  while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &remaining, &remaining) == EINTR) {
  }
}

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(MonotonicMilliseconds()); }

std::uint64_t MonotonicMicroseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

}  // namespace vantor::os
