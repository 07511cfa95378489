// The stress role run by helper processes: threads contending on shared
// mutexes, a semaphore and an auto-reset event, checking exclusion
// themselves through a shared mapping.
#pragma once

namespace vantor::os::testing {

// Exit codes of a stress process.
inline constexpr int kStressPassed = 0;
inline constexpr int kStressSetupFailed = 10;
inline constexpr int kStressLostWakeUp = 11;   // a wait ran into its time-out
inline constexpr int kStressDoubleOwner = 12;  // two holders inside at once
inline constexpr int kStressNoProgress = 13;

int RunStressProcess(int seconds, int processIndex);

}  // namespace vantor::os::testing
