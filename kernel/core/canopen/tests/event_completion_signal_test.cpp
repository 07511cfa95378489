#include "kernel/core/canopen/event_completion_signal.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
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
