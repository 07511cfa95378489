// A driver host with the test driver, served in a namespace of its own so
// that test processes running side by side never meet.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "platform/devhost/device_server.h"
#include "platform/devhost/driver_host.h"
#include "platform/devhost/tests/test_driver.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/named_objects.h"
#include "platform/os/runtime_dir.h"

namespace vantor::devhost::testing {

inline constexpr auto kTestDeadline = std::chrono::seconds(10);

// Polls `condition` until it holds or the deadline passes.
template <typename Condition>
bool Eventually(Condition&& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kTestDeadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline std::string UniqueNamespace(const char* purpose) {
  static int counter = 0;
  return std::string("devhost-") + purpose + "-" + std::to_string(::getpid()) + "-" +
         std::to_string(++counter);
}

inline os::DeviceHandle OpenTestDevice(std::string_view path = "\\\\.\\TestDev") {
  auto opened = os::DeviceHandle::Open(path);
  EXPECT_EQ(opened.error, os::DeviceOpenError::kNone) << std::hex << opened.status;
  return std::move(opened.handle);
}

inline os::Event MakeManualEvent() {
  auto event = os::Event::CreateUnnamed(os::EventReset::Manual, false);
  EXPECT_TRUE(event.ok());
  return event.take();
}

// A hold request, which the test driver keeps pending until released: its
// event, its overlapped record and its output, filled beforehand so that a
// test sees which bytes the completion wrote.
struct HeldRequest {
  using Output = std::array<std::uint8_t, 16>;
  static constexpr std::uint8_t kUntouched = 0xAA;

  static constexpr Output UntouchedOutput() {
    Output bytes{};
    bytes.fill(kUntouched);
    return bytes;
  }

  os::Event event = MakeManualEvent();
  os::DeviceOverlapped overlapped{event};
  Output output = UntouchedOutput();
};

class HostFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("VANTOR_NAMESPACE", UniqueNamespace("test").c_str(), 1);
    host_ = std::make_unique<DriverHost>(clock_);
    driver_ = std::make_unique<TestDriver>(*host_);
    server_ = std::make_unique<DeviceServer>(*host_);
    std::string error;
    ASSERT_TRUE(server_->StartInRuntimeDirectory(error)) << error;
  }

  void TearDown() override {
    server_->Stop();
    driver_.reset();
    host_.reset();
    // The namespace's folder is empty again once the sockets are gone.
    os::RemoveRuntimeDirectoryIfUnused();
  }

  // Sends `held` on `handle` and waits until the driver holds it.
  void Hold(os::DeviceHandle& handle, HeldRequest& held) {
    const std::array<std::uint8_t, 16> input{};
    ASSERT_EQ(handle.ControlOverlapped(kHold, input, held.output, held.overlapped),
              os::kStatusPending);
    ASSERT_TRUE(Eventually([&] { return driver_->HeldCount() == 1; }));
  }

  VirtualClock clock_;
  std::unique_ptr<DriverHost> host_;
  std::unique_ptr<TestDriver> driver_;
  std::unique_ptr<DeviceServer> server_;
};

}  // namespace vantor::devhost::testing
