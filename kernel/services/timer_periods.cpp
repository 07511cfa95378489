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

}  // namespace vantor::kernel
