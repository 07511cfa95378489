#include "kernel/core/canopen/event_completion_signal.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <span>
#include <thread>

namespace vantor::canopen {
namespace {

using Clock = std::chrono::steady_clock;

class ForeignSignal final : public CompletionSignal {
 public:
  void Set() noexcept override {}
  void Reset() noexcept override {}
};

TEST(WaitForCompletion, ReturnsWhenEverySlotIsComplete) {
  auto first = EventCompletionSignal::Create();
  auto second = EventCompletionSignal::Create();
  ASSERT_TRUE(first && second);
  std::array<CompletionSignal*, 2> signals = {first.get(), second.get()};
  std::thread cycle([&] {
    first->Set();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    second->Set();
  });
  EXPECT_TRUE(WaitForCompletion(
      signals, [] { return true; }, 5));
  cycle.join();
  // A manual-reset event stays set for the next look.
  EXPECT_TRUE(WaitForCompletion(
      signals, [] { return true; }, 5));
  first->Reset();
  std::atomic<bool> running{false};
  EXPECT_TRUE(WaitForCompletion(
      signals, [&] { return running.load(); }, 5));
}

TEST(WaitForCompletion, WaiterOfAnEndedCycleDoesNotHang) {
  auto signal = EventCompletionSignal::Create();
  ASSERT_TRUE(signal);
  std::array<CompletionSignal*, 1> signals = {signal.get()};
  std::atomic<bool> running{true};
  std::thread cycle([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    running = false;  // ended without completing the slot
  });
  const auto start = Clock::now();
  EXPECT_TRUE(WaitForCompletion(
      signals, [&] { return running.load(); }, 5));
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  cycle.join();
}

// Counts how often it was called for; each call takes the request back.
class RequestCompanion final : public WaitCompanion {
 public:
  RequestCompanion() : request_(os::Event::CreateUnnamed(os::EventReset::Manual, false).take()) {}
  std::size_t WakeObjects(std::span<const os::Waitable*> into) const noexcept override {
    into[0] = &request_;
    return 1;
  }
  void Serve() noexcept override {
    static_cast<void>(request_.Reset());
    ++served;
  }
  os::Event& request() { return request_; }
  std::atomic<int> served{0};

 private:
  os::Event request_;
};

// A request that comes while the slot runs is served at once, not after
// the slot; the wait still ends with the slot, and with an ended cycle.
TEST(WaitForCompletion, ServesItsCompanionWhileTheSlotRuns) {
  auto signal = EventCompletionSignal::Create();
  ASSERT_TRUE(signal);
  std::array<CompletionSignal*, 1> signals = {signal.get()};
  RequestCompanion companion;
  std::thread cycle([&] {
    static_cast<void>(companion.request().Set());
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (companion.served.load() == 0 && Clock::now() < deadline) std::this_thread::yield();
    signal->Set();
  });
  EXPECT_TRUE(WaitForCompletion(
      signals, [] { return true; }, 10000, &companion));
  cycle.join();
  EXPECT_EQ(companion.served.load(), 1);

  signal->Reset();
  std::atomic<bool> running{false};
  EXPECT_TRUE(WaitForCompletion(
      signals, [&] { return running.load(); }, 5, &companion));
  EXPECT_EQ(companion.served.load(), 1);
}

TEST(WaitForCompletion, RefusesSignalsItCannotWaitFor) {
  ForeignSignal foreign;
  std::array<CompletionSignal*, 1> signals = {&foreign};
  EXPECT_FALSE(WaitForCompletion(
      signals, [] { return true; }, 5));
  EXPECT_TRUE(WaitForCompletion(
      {}, [] { return true; }, 5));
}

}  // namespace
}  // namespace vantor::canopen
