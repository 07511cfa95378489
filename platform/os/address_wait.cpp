#include "platform/os/address_wait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace vantor::os {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the futex word is the atomic itself");

namespace {

const std::uint32_t* Address(const std::atomic<std::uint32_t>& word) noexcept {
  return reinterpret_cast<const std::uint32_t*>(&word);
}

}  // namespace

void WaitOnAddress(const std::atomic<std::uint32_t>& word, std::uint32_t undesired,
                   std::uint32_t timeoutMicroseconds) noexcept {
  timespec timeout{};
  timeout.tv_sec = static_cast<time_t>(timeoutMicroseconds / 1'000'000u);
  timeout.tv_nsec = static_cast<long>(timeoutMicroseconds % 1'000'000u) * 1000;
  ::syscall(SYS_futex, Address(word), FUTEX_WAIT_PRIVATE, undesired, &timeout, nullptr, 0);
}

void WakeByAddressAll(const std::atomic<std::uint32_t>& word) noexcept {
  ::syscall(SYS_futex, Address(word), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

}  // namespace vantor::os
