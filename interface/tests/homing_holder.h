// A homing run of another caller, as the channel shows it: the standard
// area held and the homing-active event set.
#pragma once

#include <cstdint>
#include <future>
#include <string_view>
#include <thread>

#include "common/kernel_object_names.h"
#include "platform/os/named_objects.h"
#include "platform/os/wait.h"

namespace linkora_test {

namespace os = vantor::os;
namespace common = vantor::common;

// The name of one of the test channel's objects.
inline std::string_view CanOneObjectName(common::ChannelObject object) {
  return common::ChannelObjectName(common::Channel::CanOne, object);
}

// A homing caller in another thread: it holds the standard area and marks
// the channel as homing, as a homing run does, until the break is set or
// the holder goes.
class HomingHolder {
 public:
  HomingHolder() {
    std::promise<void> holding;
    thread_ = std::thread([this, &holding] {
      auto mutex = os::Mutex::Open(CanOneObjectName(common::ChannelObject::StandardMutex)).take();
      auto homing =
          os::Event::Open(CanOneObjectName(common::ChannelObject::HomingActiveEvent)).take();
      auto homingBreak =
          os::Event::Open(CanOneObjectName(common::ChannelObject::HomingBreakEvent)).take();
      const bool held = os::WaitForOne(mutex, kGenerousMs).acquired();
      static_cast<void>(homing.Set());
      holding.set_value();
      static_cast<void>(os::WaitForAny({&homingBreak, &stop_}, kGenerousMs));
      static_cast<void>(homing.Reset());
      if (held) static_cast<void>(mutex.Release());
    });
    holding.get_future().wait();
  }
  HomingHolder(const HomingHolder&) = delete;
  HomingHolder& operator=(const HomingHolder&) = delete;
  ~HomingHolder() {
    static_cast<void>(stop_.Set());
    thread_.join();
  }

 private:
  static constexpr std::uint32_t kGenerousMs = 30000;
  os::Event stop_ = os::Event::CreateUnnamed(os::EventReset::Manual, false).take();
  std::thread thread_;
};

}  // namespace linkora_test
