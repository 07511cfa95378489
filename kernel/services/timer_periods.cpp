#include "kernel/services/timer_periods.h"

#include <algorithm>

#include "kernel/services/kernel_link.h"
#include "platform/os/timing.h"

namespace vantor::kernel {

bool SetTimerResolution(TimerPeriod action, std::uint32_t periodMs) {
  if (periodMs == 0) return false;
  os::TimerCaps caps;
  if (os::TimeGetDevCaps(&caps) != os::kTimerNoError || caps.periodMin > caps.periodMax) {
    return false;
  }
  const std::uint32_t period = std::clamp(periodMs, caps.periodMin, caps.periodMax);
  const std::uint32_t result =
      action == TimerPeriod::Begin ? os::TimeBeginPeriod(period) : os::TimeEndPeriod(period);
  return result == os::kTimerNoError;
}

namespace {

struct PeriodRef {
  bool& active;
  std::uint32_t resolution;
};

bool EndIfActive(PeriodRef period) {
  if (period.active && SetTimerResolution(TimerPeriod::End, period.resolution)) {
    period.active = false;
  }
  return !period.active;
}

void BeginIfInactive(PeriodRef period) {
  if (!period.active && SetTimerResolution(TimerPeriod::Begin, period.resolution)) {
    period.active = true;
  }
}

}  // namespace

void EndTimerPeriods(KernelSettings& settings, const KernelSettings& saved) {
  EndIfActive({settings.normalPeriodActive, settings.normalTimerResolution});
  EndIfActive({settings.pathPeriodActive, settings.pathTimerResolution});
  settings.normalTimerResolution = saved.normalTimerResolution;
  settings.pathTimerResolution = saved.pathTimerResolution;
}

void SelectTimerPeriod(KernelSettings& settings, bool pathMode) {
  PeriodRef normal{settings.normalPeriodActive, settings.normalTimerResolution};
  PeriodRef path{settings.pathPeriodActive, settings.pathTimerResolution};
  PeriodRef& leaving = pathMode ? normal : path;
  PeriodRef& entering = pathMode ? path : normal;
  if (!EndIfActive(leaving)) return;
  BeginIfInactive(entering);
}

namespace {

bool IsUsableResolution(std::uint32_t periodMs) {
  return periodMs >= kSmallestTimerResolution && periodMs <= kLargestTimerResolution;
}

// The active period ends and begins again with `next`; on failure the
// old resolution is begun again.
bool ReplaceActivePeriod(PeriodRef period, std::uint32_t next) {
  static_cast<void>(SetTimerResolution(TimerPeriod::End, period.resolution));
  if (SetTimerResolution(TimerPeriod::Begin, next)) return true;
  if (!SetTimerResolution(TimerPeriod::Begin, period.resolution)) period.active = false;
  return false;
}

}  // namespace

common::StatusCode ChangeTimerResolutions(KernelSettings& settings, std::uint32_t normalMs,
                                          std::uint32_t pathMs, bool pathMode) {
  if (!IsUsableResolution(normalMs) || !IsUsableResolution(pathMs)) {
    return common::kKernelTimeLimitationOutOfRange;
  }
  bool begun = false;
  if (settings.normalPeriodActive) {
    begun = ReplaceActivePeriod({settings.normalPeriodActive, settings.normalTimerResolution},
                                normalMs);
  } else if (settings.pathPeriodActive) {
    begun = ReplaceActivePeriod({settings.pathPeriodActive, settings.pathTimerResolution}, pathMs);
  } else {
    bool& active = pathMode ? settings.pathPeriodActive : settings.normalPeriodActive;
    begun = SetTimerResolution(TimerPeriod::Begin, pathMode ? pathMs : normalMs);
    active = begun;
  }
  if (!begun) return common::kKernelOutOfResources;
  settings.normalTimerResolution = normalMs;
  settings.pathTimerResolution = pathMs;
  return common::kKernelSuccess;
}

}  // namespace vantor::kernel
