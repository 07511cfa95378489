// Sleep, the millisecond tick and the system timer resolution calls.
//
// The timer-resolution calls answer as the system's multimedia timer does:
// fixed capabilities of 1 to 1000000 ms, begin and end succeed for a period
// inside them (Linux timers need no raising) and fail with
// kTimerNoCanDo outside; an end without a matching begin fails too.
#pragma once

#include <cstdint>

namespace vantor::os {

inline constexpr std::uint32_t kTimerNoError = 0;
inline constexpr std::uint32_t kTimerNoCanDo = 97;
inline constexpr std::uint32_t kTimerPeriodMin = 1;
inline constexpr std::uint32_t kTimerPeriodMax = 1000000;

struct TimerCaps {
  std::uint32_t periodMin = 0;
  std::uint32_t periodMax = 0;
};

std::uint32_t TimeGetDevCaps(TimerCaps* caps);
std::uint32_t TimeBeginPeriod(std::uint32_t periodMs);
std::uint32_t TimeEndPeriod(std::uint32_t periodMs);

void Sleep(std::uint32_t milliseconds);

// Milliseconds since boot, wrapping at 2^32 like the system tick.
std::uint32_t GetTickCount();
// Milliseconds from `start` to `now` across one wrap of the tick.
constexpr std::uint32_t TicksBetween(std::uint32_t start, std::uint32_t now) {
  return now - start;
}
// Monotonic microseconds, for time-outs measured in microseconds.
std::uint64_t MonotonicMicroseconds();

}  // namespace vantor::os
