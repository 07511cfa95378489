// Periods of raised system timer resolution that the kernel holds while it
// runs: one for normal operation and one for path mode, with the
// resolutions that the start record asks for (0 = none).
#pragma once

#include <cstdint>

#include "common/status_code.h"

namespace vantor::kernel {

struct KernelSettings;

enum class TimerPeriod { Begin, End };

// Begins or ends a period of `periodMs`, clamped into the timer's
// capabilities. False for a period of 0, when the capabilities cannot be
// read, or when the timer refuses.
bool SetTimerResolution(TimerPeriod action, std::uint32_t periodMs);

// Ends the active periods, each marked inactive when ending it succeeds,
// and takes both resolutions back from `saved` (the settings that opening
// the hardware saved).
void EndTimerPeriods(KernelSettings& settings, const KernelSettings& saved);

// Path mode on: the normal period ends (when that fails, it stays and
// nothing else happens) and the path-mode period begins. Off: the mirror.
void SelectTimerPeriod(KernelSettings& settings, bool pathMode);

// The smallest and largest resolution an application may ask for, ms.
inline constexpr std::uint32_t kSmallestTimerResolution = 1;
inline constexpr std::uint32_t kLargestTimerResolution = 50;

// New resolutions for both periods: the active period (normal first, else
// path) is ended and begun again with its new resolution, and when that
// fails begun again with the old one (marked inactive when even that
// fails: kKernelOutOfResources). With no period active the one for
// `pathMode` begins. Both resolutions are kept only on success.
// kKernelTimeLimitationOutOfRange for a resolution outside 1 .. 50, and
// nothing changes.
common::StatusCode ChangeTimerResolutions(KernelSettings& settings, std::uint32_t normalMs,
                                          std::uint32_t pathMs, bool pathMode);

}  // namespace vantor::kernel
