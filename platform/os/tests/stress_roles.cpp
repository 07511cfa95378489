#include "platform/os/tests/stress_roles.h"

#include <atomic>
#include <cstdint>

#include "platform/os/named_objects.h"
#include "platform/os/thread.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::os::testing {
namespace {

constexpr int kThreadsPerProcess = 2;
constexpr std::int32_t kSemaphoreSlots = 2;
// No wait in the stress should come near this; reaching it means a wake-up
// was lost.
constexpr std::uint32_t kLostWakeUpMs = 10'000;

// Shared words of the stress mapping.
struct StressBlock {
  std::uint32_t mutexOwner[2];
  std::uint32_t batonOwner;
  std::int32_t semaphoreUsers;
  std::uint32_t rounds;
};

class Contender {
 public:
  Contender(StressBlock& block, std::uint32_t id) : block_(block), id_(id) {}

  // Marks `word` as ours and checks nobody else is inside with us.
  bool Enter(std::uint32_t& word) {
    return std::atomic_ref<std::uint32_t>(word).exchange(id_) == 0;
  }
  bool Leave(std::uint32_t& word) {
    return std::atomic_ref<std::uint32_t>(word).exchange(0) == id_;
  }

  int Round(std::uint32_t round, Mutex& first, Mutex& second, Semaphore& slots, Event& baton) {
    switch (round % 4) {
      case 0: {
        if (!WaitForOne(first, kLostWakeUpMs).acquired()) return kStressLostWakeUp;
        const bool exclusive = Enter(block_.mutexOwner[0]) && Leave(block_.mutexOwner[0]);
        first.Release();
        return exclusive ? kStressPassed : kStressDoubleOwner;
      }
      case 1: {
        if (!WaitForAll({&first, &second}, kLostWakeUpMs).acquired()) return kStressLostWakeUp;
        const bool exclusive = Enter(block_.mutexOwner[0]) && Enter(block_.mutexOwner[1]) &&
                               Leave(block_.mutexOwner[1]) && Leave(block_.mutexOwner[0]);
        second.Release();
        first.Release();
        return exclusive ? kStressPassed : kStressDoubleOwner;
      }
      case 2: {
        if (!WaitForOne(slots, kLostWakeUpMs).acquired()) return kStressLostWakeUp;
        auto users = std::atomic_ref<std::int32_t>(block_.semaphoreUsers);
        const bool withinSlots = users.fetch_add(1) < kSemaphoreSlots;
        users.fetch_sub(1);
        slots.Release();
        return withinSlots ? kStressPassed : kStressDoubleOwner;
      }
      default: {
        // The auto-reset event as a baton: one holder between wait and set.
        if (!WaitForOne(baton, kLostWakeUpMs).acquired()) return kStressLostWakeUp;
        const bool exclusive = Enter(block_.batonOwner) && Leave(block_.batonOwner);
        baton.Set();
        return exclusive ? kStressPassed : kStressDoubleOwner;
      }
    }
  }

 private:
  StressBlock& block_;
  std::uint32_t id_;
};

}  // namespace

int RunStressProcess(int seconds, int processIndex) {
  auto mapping = Mapping::CreateOrOpen("Stress Block", sizeof(StressBlock));
  auto first = Mutex::CreateOrOpen("Stress Mutex A", false);
  auto second = Mutex::CreateOrOpen("Stress Mutex B", false);
  auto slots = Semaphore::CreateOrOpen("Stress Slots", kSemaphoreSlots, kSemaphoreSlots);
  auto baton = Event::CreateOrOpen("Stress Baton", EventReset::Auto, true);
  if (!mapping || !first || !second || !slots || !baton) return kStressSetupFailed;
  auto& block = *reinterpret_cast<StressBlock*>(mapping->data());

  const std::uint64_t endUs = MonotonicMicroseconds() + static_cast<std::uint64_t>(seconds) * 1'000'000u;
  std::atomic<int> outcome{kStressPassed};
  Thread threads[kThreadsPerProcess];
  for (int t = 0; t < kThreadsPerProcess; ++t) {
    const auto id = static_cast<std::uint32_t>(processIndex * kThreadsPerProcess + t + 1);
    auto started = Thread::Start([&, id]() -> std::uint32_t {
      Contender contender(block, id);
      for (std::uint32_t round = id; MonotonicMicroseconds() < endUs; ++round) {
        const int result = contender.Round(round, *first, *second, *slots, *baton);
        if (result != kStressPassed) {
          outcome.store(result);
          return 1;
        }
        std::atomic_ref<std::uint32_t>(block.rounds).fetch_add(1);
      }
      return 0;
    });
    if (!started) return kStressSetupFailed;
    threads[t] = started.take();
  }
  const Waitable* all[kThreadsPerProcess];
  for (int t = 0; t < kThreadsPerProcess; ++t) all[t] = &threads[t];
  if (!WaitForAll(all, static_cast<std::uint32_t>(seconds) * 1000u + 2 * kLostWakeUpMs).acquired()) {
    return kStressLostWakeUp;
  }
  if (outcome.load() != kStressPassed) return outcome.load();
  return std::atomic_ref<std::uint32_t>(block.rounds).load() > 0 ? kStressPassed : kStressNoProgress;
}

}  // namespace vantor::os::testing
