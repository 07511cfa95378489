// A driver link in this test process, opened against the scripted driver
// that the process serves in a namespace of its own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "kernel/core/driver_link.h"
#include "kernel/tests/scripted_can_driver.h"
#include "kernel/tests/start_record_builder.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/wait.h"

namespace vantor::kernel::testing {

inline constexpr auto kTestDeadline = std::chrono::seconds(10);

template <typename Condition>
bool Eventually(Condition&& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kTestDeadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Counts what the cycle asked of the later layers.
class RecordingSteps final : public CycleSteps {
 public:
  std::atomic<int> nodeSteps{0};
  std::atomic<int> motion{0};
  std::atomic<int> droppedEvents{0};
  std::atomic<int> completedPending{0};

  void RunNodeSteps(common::ExchangeBuffer&) noexcept override { ++nodeSteps; }
  void ProcessMotion(common::ExchangeBuffer&) noexcept override { ++motion; }
  void DropPendingEvents() noexcept override { ++droppedEvents; }
  void CompletePendingRequests() noexcept override { ++completedPending; }
};

// Gives the test process a namespace of its own, once: the named objects
// of a process stay in the namespace it first used, so every test of the
// process shares it (they run one after the other and leave nothing behind).
inline void UseNamespaceOfThisProcess(const char* prefix) {
  static const bool chosen = [prefix] {
    const std::string name = std::string(prefix) + "-" + std::to_string(::getpid());
    return ::setenv("VANTOR_NAMESPACE", name.c_str(), 1) == 0;
  }();
  static_cast<void>(chosen);
}

class DriverLinkFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    UseNamespaceOfThisProcess("cycle");
    host_ = std::make_unique<ScriptedDriverHost>();
    ASSERT_TRUE(host_->started());
    block_ = os::Mapping::CreateUnnamed(common::kCommunicationBlockSize).take();
    request_.completion = os::Event::CreateUnnamed(os::EventReset::Manual, true).take();
    DriverLinkTimings timings;
    timings.startCheckMs = 50;
    link_ =
        std::make_unique<DriverLink>(CycleEnvironment{data_, request_, block_, steps_}, timings);
    driver().StartPacing(std::chrono::milliseconds(2));
  }

  void TearDown() override {
    link_.reset();
    host_.reset();
    os::RemoveRuntimeDirectoryIfUnused();
  }

  ScriptedCanDriver& driver() { return host_->driver(); }

  common::StatusCode Open(const StartSettings& settings = {},
                          common::Channel channel = common::Channel::CanOne) {
    const auto start = StartRecord(settings);
    return link_->OpenCanDevice(channel, start.View());
  }

  // Opens the channel as the CNC initialisation leaves it (the kernel data
  // lock's mutexes made, bus and cycle in order) and waits until the cycle
  // has run the motion step a few times.
  void OpenInCncMode() {
    data_.motionMutex = os::Mutex::CreateUnnamed(false).take();
    data_.nodeConfiguration.mutex = os::Mutex::CreateUnnamed(false).take();
    data_.globalRequestMutex = os::Mutex::CreateUnnamed(false).take();
    data_.canObjectListMutex = os::Mutex::CreateUnnamed(false).take();
    data_.state.busOk = 1;
    data_.state.cycleRunning = 1;
    ASSERT_EQ(Open(), common::kKernelSuccess);
    data_.state.SetCncInitialised(true);
    ASSERT_TRUE(Eventually([&] { return steps_.motion.load() >= 3; }));
  }

  bool CycleRuns() const {
    const os::Waitable* cycle = link_->CycleThread();
    return cycle != nullptr && os::WaitForOne(*cycle, 0).kind == os::WaitKind::Timeout;
  }

  bool CycleEnds() const {
    const os::Waitable* cycle = link_->CycleThread();
    return cycle != nullptr && os::WaitForOne(*cycle, 10000).acquired();
  }

  std::uint8_t Heartbeat() const {
    return std::atomic_ref<std::uint8_t>(*reinterpret_cast<std::uint8_t*>(block_.data())).load();
  }

  std::unique_ptr<ScriptedDriverHost> host_;
  KernelData data_;
  ApplicationCanRequest request_;
  os::Mapping block_;
  RecordingSteps steps_;
  std::unique_ptr<DriverLink> link_;
};

}  // namespace vantor::kernel::testing
