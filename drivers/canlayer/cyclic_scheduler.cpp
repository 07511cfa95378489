// The tick, the parked exchange request and its completion once per cycle.
#include <optional>

#include "common/byte_order.h"
#include "common/driver_requests.h"
#include "drivers/canlayer/can_channel.h"
#include "drivers/canlayer/exchange_checks.h"

namespace vantor::canlayer {
namespace {

namespace eb = common::exchange_buffer;
using common::DriverStatus;

// Test-port marks.
constexpr std::uint8_t kCycleMarkBit = 0;
constexpr std::uint8_t kCompletionToggleBit = 1;
constexpr std::uint8_t kCompletionMarkBit = 3;

common::ExchangeBufferView ExchangeOf(devhost::IoRequest& request) {
  // The host admits this request only with exactly the record's length.
  return common::ExchangeBufferView(request.SystemBuffer().data());
}

}  // namespace

// ---- requests ---------------------------------------------------------------

void CanChannel::SubmitExchange(devhost::IoRequest& request) {
  // A caller keeps one exchange at a time: a second one on the same handle
  // is refused at once and the held one keeps waiting for its answer.
  if (request.File() != nullptr &&
      request.File()->PendingRequests(common::IOCTL_CAN_CYCLIC_EXCHANGE) > 0) {
    ExchangeOf(request).Set(eb::kStatus, common::kDriverBufferedRunRefused);
    request.Complete(os::kStatusSuccess, common::kExchangeBufferSize);
    return;
  }
  const devhost::PendingRequest pending = request.MarkPending();
  // A handle already being cleaned up gets its request cancelled at once.
  if (pending->IsCompleted()) return;
  devhost::PendingRequest displaced;
  DriverStatus status;
  {
    Lock interrupt(interruptMutex_);
    status = ParkExchange(pending, displaced);
  }
  // Only one request waits for the exchange point: one from another handle
  // replaces it, and the caller of the older one learns so instead of
  // waiting forever.
  if (displaced != nullptr) displaced->Complete(os::kStatusCancelled);
  if (status != common::kDriverSuccess) {
    ExchangeOf(*pending).Set(eb::kStatus, status);
    pending->Complete(os::kStatusSuccess, common::kExchangeBufferSize);
  }
}

DriverStatus CanChannel::ParkExchange(const devhost::PendingRequest& request,
                                      devhost::PendingRequest& displaced) {
  if (!runActive_) return common::kDriverNoRun;
  auto exchange = ExchangeOf(*request);
  const DriverStatus records = CheckExchangeRecords(exchange, run_.mode);
  if (records != common::kDriverSuccess) return records;
  if (run_.mode == RunMode::kBuffered) {
    if (exchange.Get(eb::kRingControl) == eb::kRingNotInUse) {
      machines_.EmptyRing();
    } else {
      // A start empties the ring first: what is queued now does not count.
      const int queued =
          exchange.Get(eb::kRingControl) == eb::kRingStart ? 0 : machines_.QueuedSetpointCount();
      const DriverStatus count = CheckSetpointCount(exchange, queued, run_.fillLimit);
      if (count != common::kDriverSuccess) return count;
    }
  }
  if (controller_.RecoverBusOff()) return common::kDriverBusOff;
  machines_.TakeExchangeRequest(exchange, pollCountdown_);
  displaced = std::move(parkedRequest_);
  parkedRequest_ = request;
  return common::kDriverSuccess;
}

void CanChannel::AbortExchange(devhost::IoRequest& request) {
  devhost::PendingRequest parked;
  {
    Lock interrupt(interruptMutex_);
    parked = std::move(parkedRequest_);
  }
  if (parked != nullptr) parked->Complete(os::kStatusCancelled);
  common::StoreLittleEndian<std::uint32_t>(request.SystemBuffer().data(), common::kDriverSuccess);
  request.Complete(os::kStatusSuccess, sizeof(std::uint32_t));
}

// ---- the tick -----------------------------------------------------------------

bool CanChannel::ControllerIsr() {
  std::int64_t idle = 0;
  // Already ticking on another processor: this interrupt is that tick's.
  if (!isrBusy_.compare_exchange_strong(idle, 1)) return true;
  frontEnd_.AcknowledgeTick();
  {
    Lock interrupt(interruptMutex_);
    if (tickEnabled_) {
      if (run_.mode == RunMode::kFixed) {
        CycleTickFixed();
      } else {
        CycleTickTimed();
      }
    }
  }
  isrBusy_.store(0);
  // Every interrupt on the shared line is a tick: let the other channel's
  // handler see it too.
  return false;
}

void CanChannel::CycleTickFixed() {
  ++tickCounter_;
  const bool cycleEnds = tickCounter_ >= run_.cycleDivider;
  if (cycleEnds) {
    ToggleTestPortBit(kCycleMarkBit);
    if (ledPerCycle_) controller_.ToggleLeds();
  }
  if (parkedRequest_ != nullptr && !dpcQueued_) {
    if (cycleEnds) {
      tickCounter_ = 0;
      auto exchange = ExchangeOf(*parkedRequest_);
      machines_.CollectAtExchangePoint(exchange);
      exchange.Set(eb::kCycleMicroseconds, cycleMicroseconds_);
      HandToDeferredCall();
    }
  } else if (cycleEnds) {
    tickCounter_ = 0;
  }
  if (tickCounter_ == run_.sendTick) {
    if (machines_.SynchronisationArmed()) machines_.RequestSynchronisationTransmission();
    if (run_.latencyMeasurement)
      UpdateIntervalMinMax(interruptIntervals_, host_.QueryPerformanceCounter());
  }
}

void CanChannel::CycleTickTimed() {
  const devhost::Ticks now = host_.QueryPerformanceCounter();
  ++tickCounter_;
  const auto sinceCycleStart =
      lastCycleStamp_ == 0 ? 0 : static_cast<std::uint32_t>(now - lastCycleStamp_);
  // A cycle begins after N ticks, or (unless cycles are exactly N ticks) as
  // soon as a full cycle length has passed, whichever comes first.
  const bool cycleLengthPassed =
      !settings_.exactTickBufferedCycle && sinceCycleStart > cycleLengthTicks_;
  if (tickCounter_ < run_.cycleDivider && !cycleLengthPassed) return;

  lastCycleStamp_ = now;
  tickCounter_ = 0;
  pendingMicroseconds_ += cycleMicroseconds_;
  pollCountdown_ += run_.cycleDivider;
  if (run_.latencyMeasurement)
    UpdateIntervalMinMax(interruptIntervals_, host_.QueryPerformanceCounter());
  ToggleTestPortBit(kCycleMarkBit);
  if (ledPerCycle_) controller_.ToggleLeds();

  if (machines_.SynchronisationArmed() && !machines_.SynchronisationFailed()) {
    std::optional<common::ExchangeBufferView> parked;
    if (parkedRequest_ != nullptr) parked = ExchangeOf(*parkedRequest_);
    const BufferedCycleOutcome outcome = machines_.BufferedCycleStep(
        {parked ? &*parked : nullptr, dpcQueued_, run_, measuredReadMicroseconds_,
         pendingMicroseconds_, elapsedMicroseconds_, pollCountdown_});
    if (outcome.exchangePoint && parked && !dpcQueued_) BufferedExchangePoint(*parked);
    return;
  }
  if (parkedRequest_ != nullptr && !dpcQueued_) {
    elapsedMicroseconds_ += pendingMicroseconds_;
    BufferedExchangePoint(ExchangeOf(*parkedRequest_));
    pendingMicroseconds_ = 0;
    pollCountdown_ = 0;
  }
}

void CanChannel::BufferedExchangePoint(common::ExchangeBufferView exchange) {
  exchange.Set(eb::kCycleMicroseconds, elapsedMicroseconds_);
  elapsedMicroseconds_ = 0;
  machines_.CopyAtBufferedExchangePoint(exchange);
  HandToDeferredCall();
}

void CanChannel::HandToDeferredCall() {
  completingRequest_ = std::move(parkedRequest_);
  dpcQueued_ = true;
  exchangeDpc_->Queue(nullptr, nullptr);
}

// ---- completion ---------------------------------------------------------------

void CanChannel::ExchangeDpc() {
  devhost::PendingRequest completed;
  {
    Lock interrupt(interruptMutex_);
    // A stop or clean-up since the exchange point has taken the request
    // away already and completed it as cancelled.
    if (completingRequest_ != nullptr) {
      CopyExchangeReply(*completingRequest_);
      completed = std::move(completingRequest_);
    }
    dpcQueued_ = false;
  }
  if (completed != nullptr) completed->Complete(os::kStatusSuccess, common::kExchangeBufferSize);
}

void CanChannel::CopyExchangeReply(devhost::IoRequest& request) {
  ToggleTestPortBit(kCompletionToggleBit);
  if (run_.latencyMeasurement)
    UpdateIntervalMinMax(completionIntervals_, host_.QueryPerformanceCounter());
  auto exchange = ExchangeOf(request);
  const auto raised = controller_.Card().Raise();
  exchange.Set(eb::kSetpointCount, static_cast<std::int16_t>(machines_.QueuedSetpointCount()));
  const ControllerReplyStatus status = controller_.ReplyStatus();
  exchange.Set(eb::kErrorWarning, status.errorWarning ? 1 : 0);
  exchange.Set(eb::kLastErrorCode, status.lastErrorCode);
  if (!ledPerCycle_) controller_.ToggleLeds();
  machines_.CopyReplyResults(exchange);
  SetTestPortBit(kCompletionMarkBit, true);
  exchange.Set(eb::kStatus, common::kDriverSuccess);
}

}  // namespace vantor::canlayer
