#include "kernel/core/filter_hand_off.h"

#include "platform/os/wait.h"

namespace vantor::kernel {

namespace eb = common::exchange_buffer;

bool FilterHandOff::Create() {
  auto event = os::Event::CreateUnnamed(os::EventReset::Manual, true);
  if (!event) return false;
  handedOver_ = event.take();
  return true;
}

void FilterHandOff::Close() {
  handedOver_.Close();
  pending_ = FilterSetting{};
}

bool FilterHandOff::Queue(const FilterSetting& setting, const os::Waitable& cycleThread) {
  handedOver_.Set();
  pending_ = setting;
  handedOver_.Reset();
  const auto woken = os::WaitForAny({&handedOver_, &cycleThread}, os::kInfinite);
  if (woken.acquired() && woken.index == 0) return true;
  // The thread ended (or the wait failed): nothing is pending any more.
  handedOver_.Set();
  return false;
}

void FilterHandOff::TakeInto(common::ExchangeBuffer& exchange) {
  // Set (or a failed test): nothing pending.
  if (os::WaitForOne(handedOver_, 0).kind != os::WaitKind::Timeout) return;
  exchange.Set(eb::kGlobalMaskRequest, pending_.globalMaskRequest);
  exchange.Set(eb::kGlobalStandardMask, pending_.globalStandardMask);
  exchange.Set(eb::kReceiveObjectMaskRequest, pending_.receiveObjectMaskRequest);
  exchange.Set(eb::kReceiveObjectMask, pending_.receiveObjectMask);
  handedOver_.Set();
}

}  // namespace vantor::kernel
