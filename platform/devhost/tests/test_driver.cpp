#include "platform/devhost/tests/test_driver.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "common/byte_order.h"

namespace vantor::devhost::testing {

using common::LoadLittleEndian;
using common::StoreLittleEndian;

TestDriver::TestDriver(DriverHost& host) : host_(host) {
  if (host_.CreateDevice({kDeviceName, this, RequestTable()}, device_) != os::kStatusSuccess ||
      host_.CreateSymbolicLink(kLinkName, kDeviceName) != os::kStatusSuccess) {
    throw std::runtime_error("test device not created");
  }
  releaseCall_ =
      std::make_unique<DeferredCall>(device_->DeferredCalls(), [this](void* fill, void*) {
        ReleaseHeld(static_cast<std::uint8_t>(reinterpret_cast<std::uintptr_t>(fill)));
      });
}

TestDriver::~TestDriver() {
  DisconnectTick();
  releaseCall_.reset();
  host_.DeleteSymbolicLink(kLinkName);
  host_.DeleteDevice(*device_);
}

const std::vector<RequestSpec>& TestDriver::RequestTable() {
  static const std::vector<RequestSpec> table = {
      {kEcho, 8, 16}, {kHold, 16, 16}, {kRelease, 4, 4},
      {kAbort, 0, 4}, {kClaim, 0, 4},  {kAdd, 8, 4, RequestCallers::kKernelOnly},
  };
  return table;
}

IoStatus TestDriver::Create(FileObject&) {
  return claimed_.load() ? os::kStatusAccessViolation : os::kStatusSuccess;
}

void TestDriver::Cleanup(FileObject&) {
  claimed_.store(false);
  cleanups_.fetch_add(1);
}

void TestDriver::DeviceControl(IoRequest& request) {
  auto buffer = request.SystemBuffer();
  switch (request.Code()) {
    case kEcho: {
      const std::uint64_t id = request.File() != nullptr ? request.File()->Id() : 0;
      StoreLittleEndian<std::uint64_t>(buffer.data() + 8, id);
      request.Complete(os::kStatusSuccess, 16);
      return;
    }
    case kHold: {
      if (request.File() != nullptr && request.File()->PendingRequests(kHold) > 0) {
        StoreLittleEndian<std::uint32_t>(buffer.data() + kHoldStatusOffset, kDriverHoldBusy);
        request.Complete(os::kStatusSuccess, 16);
        return;
      }
      std::lock_guard lock(mutex_);
      held_.push_back(request.MarkPending());
      return;
    }
    case kRelease: {
      const auto fill = static_cast<std::uintptr_t>(buffer[0]);
      releaseCall_->Queue(reinterpret_cast<void*>(fill), nullptr);
      StoreLittleEndian<std::uint32_t>(buffer.data(), kDriverOk);
      request.Complete(os::kStatusSuccess, 4);
      return;
    }
    case kAbort: {
      std::vector<PendingRequest> held;
      {
        std::lock_guard lock(mutex_);
        held.swap(held_);
      }
      for (const auto& pending : held) pending->Complete(os::kStatusCancelled);
      StoreLittleEndian<std::uint32_t>(buffer.data(), kDriverOk);
      request.Complete(os::kStatusSuccess, 4);
      return;
    }
    case kClaim:
      claimed_.store(true);
      StoreLittleEndian<std::uint32_t>(buffer.data(), kDriverOk);
      request.Complete(os::kStatusSuccess, 4);
      return;
    case kAdd: {
      const auto sum = LoadLittleEndian<std::uint32_t>(buffer.data()) +
                       LoadLittleEndian<std::uint32_t>(buffer.data() + 4);
      StoreLittleEndian<std::uint32_t>(buffer.data(), sum);
      request.Complete(os::kStatusSuccess, 4);
      return;
    }
    default:
      request.Complete(os::kStatusInvalidParameter);
  }
}

void TestDriver::ReleaseHeld(std::uint8_t fill) {
  std::vector<PendingRequest> held;
  {
    std::lock_guard lock(mutex_);
    held.swap(held_);
  }
  for (const auto& pending : held) {
    auto buffer = pending->SystemBuffer();
    std::memset(buffer.data(), fill, kHoldStatusOffset);
    StoreLittleEndian<std::uint32_t>(buffer.data() + kHoldStatusOffset, kDriverOk);
    pending->Complete(os::kStatusSuccess, 16);
  }
}

IoStatus TestDriver::ConnectTick(InterruptLine& line) {
  InterruptSettings settings;
  settings.vector = line.Vector();
  return line.Connect(
      settings,
      [this] {
        const std::uint32_t tick = ticks_.fetch_add(1) + 1;
        {
          std::lock_guard lock(mutex_);
          tickTimes_.push_back(host_.QueryPerformanceCounter());
        }
        releaseCall_->Queue(reinterpret_cast<void*>(std::uintptr_t{tick & 0xFF}), nullptr);
        return true;
      },
      tick_);
}

void TestDriver::DisconnectTick() {
  if (tick_ != nullptr) tick_->Disconnect();
  tick_.reset();
}

std::size_t TestDriver::HeldCount() {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(
      held_.begin(), held_.end(), [](const auto& pending) { return !pending->IsCompleted(); }));
}

std::vector<PendingRequest> TestDriver::HeldRequests() {
  std::lock_guard lock(mutex_);
  return held_;
}

std::vector<Ticks> TestDriver::TickTimes() {
  std::lock_guard lock(mutex_);
  return tickTimes_;
}

}  // namespace vantor::devhost::testing
