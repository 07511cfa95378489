// Periods of raised system timer resolution that the kernel holds while it
// runs: one for normal operation and one for path mode, with the
// resolutions that the start record asks for (0 = none).
#pragma once

#include <cstdint>

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

}  // namespace vantor::kernel
