// Waiting on a word in this process's memory, as the system's wait-on-
// address calls do: a thread sleeps while the word holds a value it does
// not want, and whoever changes the word wakes the sleepers. Cheap where
// named objects are too heavy: no table, no handle, one system call to
// sleep and one to wake, and none while nobody sleeps.
#pragma once

#include <atomic>
#include <cstdint>

namespace vantor::os {

// Sleeps while `word` equals `undesired`, at most `timeoutMicroseconds`;
// may also return early without a change (the caller looks again).
void WaitOnAddress(const std::atomic<std::uint32_t>& word, std::uint32_t undesired,
                   std::uint32_t timeoutMicroseconds) noexcept;
// Wakes every thread sleeping on `word`.
void WakeByAddressAll(const std::atomic<std::uint32_t>& word) noexcept;

}  // namespace vantor::os
