#include "drivers/canlayer/message_objects.h"

namespace vantor::canlayer {
namespace {

namespace eb = common::exchange_buffer;
constexpr int kRingCapacity = static_cast<int>(eb::kRingCapacity);
constexpr std::uint8_t kMaskRequested = 1;

}  // namespace

void MessageObjectMachines::ResetForRun(const RunSettings&) noexcept {
  synchronisationArmed_ = false;
  synchronisationObject_ = 0;
  EmptyRing();
}

void MessageObjectMachines::RequestSynchronisationTransmission() noexcept {
  if (synchronisationArmed_ && synchronisationObject_ != 0)
    controller_.RequestTransmission(synchronisationObject_);
}

int MessageObjectMachines::QueuedSetpointCount() const noexcept {
  return ((ringWriteIndex_ - ringReadIndex_) % kRingCapacity + kRingCapacity) % kRingCapacity;
}

void MessageObjectMachines::EmptyRing() noexcept {
  ringReadIndex_ = 0;
  ringWriteIndex_ = 0;
}

void MessageObjectMachines::TakeExchangeRequest(common::ExchangeBufferView exchange) noexcept {
  if (exchange.Get(eb::kGlobalMaskRequest) == kMaskRequested) {
    controller_.SetGlobalStandardMask(exchange.Get(eb::kGlobalStandardMask));
    exchange.Set(eb::kGlobalMaskRequest, 0);
  }
  if (exchange.Get(eb::kReceiveObjectMaskRequest) == kMaskRequested) {
    controller_.SetMessage15Mask(exchange.Get(eb::kReceiveObjectMask));
    exchange.Set(eb::kReceiveObjectMaskRequest, 0);
  }
  // Each take-over disarms the synchronisation; only codes 22 and 23 arm it.
  synchronisationArmed_ = false;
}

void MessageObjectMachines::CollectAtExchangePoint(common::ExchangeBufferView) noexcept {}

void MessageObjectMachines::CopyReplyResults(common::ExchangeBufferView) noexcept {}

BufferedCycleOutcome MessageObjectMachines::BufferedCycleStep(BufferedCycle) noexcept { return {}; }

void MessageObjectMachines::CopyAtBufferedExchangePoint(common::ExchangeBufferView) noexcept {}

}  // namespace vantor::canlayer
