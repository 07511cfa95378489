// Run start and end, the interrupt connection, handle clean-up and
// channel 2's share of the card.
#include <algorithm>

#include "common/byte_order.h"
#include "common/driver_requests.h"
#include "drivers/canlayer/can_channel.h"
#include "drivers/canlayer/controller_registers.h"

namespace vantor::canlayer {
namespace {

using common::DriverStatus;

// Reads timed at a run's start; the quickest one counts.
constexpr int kControllerReadSamples = 8;

void AnswerStatus(devhost::IoRequest& request, DriverStatus status) {
  common::StoreLittleEndian<std::uint32_t>(request.SystemBuffer().data(), status);
  request.Complete(os::kStatusSuccess, sizeof(std::uint32_t));
}

std::uint64_t FileId(const devhost::IoRequest& request) {
  return request.File() != nullptr ? request.File()->Id() : 0;
}

}  // namespace

void CanChannel::StartRun(devhost::IoRequest& request) {
  const auto record = *common::ConstByteView<common::kRunRecordSize>::Over(request.SystemBuffer());
  const RunRecordCheck check = CheckRunRecord(record, settings_.interfaceKind, settings_.channel);
  Lock requests(requestMutex_);
  DriverStatus status = check.status;
  if (status == common::kDriverSuccess && RunActive()) status = common::kDriverRunActive;
  // Channel 2 runs on the same clock: a different divider would re-clock
  // its run under it.
  if (status == common::kDriverSuccess && useCount_ > 0 &&
      check.settings.tickClockDivider != cardTickDivider_) {
    status = common::kDriverInvalidRunRecord;
  }
  if (status == common::kDriverSuccess) status = StartRunLocked(check.settings, FileId(request));
  AnswerStatus(request, status);
}

DriverStatus CanChannel::StartRunLocked(const RunSettings& run, std::uint64_t owner) {
  {
    Lock interrupt(interruptMutex_);
    machines_.DisarmSynchronisation();
    run_ = run;
    machines_.ResetForRun(run_);
    elapsedMicroseconds_ = 0;
    pendingMicroseconds_ = 0;
    pollCountdown_ = 0;
    interruptIntervals_ = {};
    completionIntervals_ = {};
    tickCounter_ = 0;
    lastCycleStamp_ = 0;
    cycleMicroseconds_ = CycleTimeMicroseconds(run.tickClockDivider, run.cycleDivider);
    cycleLengthTicks_ = CycleLengthTicks(run.tickClockDivider, run.cycleDivider,
                                         devhost::DriverHost::PerformanceFrequency());
    ledPerCycle_ = false;
  }
  CancelHeldRequests(0);

  if (!controller_.DetectController()) {
    return common::kDriverNoController;
  }
  // The channel-2 controller takes its clock from channel 1's.
  if (settings_.role != CanDriverRole::kChannelTwo) {
    controller_.InitControllerClock(run.tickClockDivider);
    cardTickDivider_ = run.tickClockDivider;
  }
  controller_.InitControllerBus(run.bitRateCode);
  const DriverStatus connected = ConnectCanInterrupt();
  if (connected != common::kDriverSuccess) {
    return connected;
  }
  if (settings_.role != CanDriverRole::kChannelTwo) ++useCount_;
  {
    Lock interrupt(interruptMutex_);
    tickEnabled_ = true;
  }
  if (run.mode == RunMode::kBuffered) MeasureControllerRead();
  runOwner_ = owner;
  {
    Lock interrupt(interruptMutex_);
    runActive_ = true;
  }
  return common::kDriverSuccess;
}

void CanChannel::MeasureControllerRead() {
  // One read may have been held up (another thread or interrupt took the
  // processor, the card was busy): counted in that time, the poll would
  // give up after a read or two in every cycle, long before its
  // synchronisation frame has left. The quickest of a few reads is the
  // read itself.
  devhost::Ticks quickest = 0;
  for (int sample = 0; sample < kControllerReadSamples; ++sample) {
    const devhost::Ticks before = host_.QueryPerformanceCounter();
    (void)controller_.GetTransmitState(1);
    const devhost::Ticks taken = host_.QueryPerformanceCounter() - before;
    if (sample == 0 || taken < quickest) quickest = taken;
  }
  const std::int64_t microseconds =
      quickest * 1'000'000 / devhost::DriverHost::PerformanceFrequency();
  Lock interrupt(interruptMutex_);
  measuredReadMicroseconds_ = static_cast<std::int32_t>(std::max<std::int64_t>(microseconds, 1));
}

DriverStatus CanChannel::ConnectCanInterrupt() {
  namespace cr = common::channel_resources;
  const std::uint32_t vector = resources_.Get(cr::kInterruptVector);
  const auto level = static_cast<std::uint8_t>(resources_.Get(cr::kInterruptLevel) & 0xFF);
  if (vector == 0 || level == 0) return common::kDriverInterruptConnectFailed;
  const DriverStatus prepared = frontEnd_.PrepareTickSource(run_.tickClockDivider);
  if (prepared != common::kDriverSuccess) return prepared;

  devhost::InterruptSettings interruptSettings;
  interruptSettings.vector = vector;
  interruptSettings.level = level;
  interruptSettings.mode = resources_.Get(cr::kInterruptMode) == 1
                               ? devhost::InterruptMode::kLatched
                               : devhost::InterruptMode::kLevelSensitive;
  interruptSettings.affinity = resources_.Get(cr::kProcessorAffinity);
  interruptSettings.shared = true;
  std::shared_ptr<devhost::InterruptObject> connection;
  if (host_.Interrupt(vector).Connect(
          interruptSettings, [this] { return ControllerIsr(); }, connection) !=
      os::kStatusSuccess) {
    frontEnd_.AbandonTickSource();
    return common::kDriverInterruptConnectFailed;
  }
  bool enabled;
  {
    Lock interrupt(interruptMutex_);
    enabled = frontEnd_.EnableTickSource();
  }
  if (!enabled) {
    connection->Disconnect();
    frontEnd_.AbandonTickSource();
    return common::kDriverInterruptConnectFailed;
  }
  interrupt_ = std::move(connection);
  return common::kDriverSuccess;
}

bool CanChannel::DisconnectCanInterrupt() {
  if (interrupt_ == nullptr) return true;
  {
    Lock interrupt(interruptMutex_);
    if (!frontEnd_.DisableTickSource()) return false;
  }
  interrupt_->Disconnect();
  interrupt_.reset();
  if (settings_.role != CanDriverRole::kChannelTwo) {
    // Channel 2 may still need the card's interrupt.
    if (useCount_ > 1) {
      --useCount_;
      frontEnd_.ResumeInterruptOutput();
    } else {
      useCount_ = 0;
    }
  }
  frontEnd_.ReleaseTickSource();
  return true;
}

void CanChannel::StopRun(devhost::IoRequest& request) {
  Lock requests(requestMutex_);
  if (!RunActive()) return AnswerStatus(request, common::kDriverSuccess);
  if (runOwner_ != FileId(request)) return AnswerStatus(request, common::kDriverNotOwner);
  AnswerStatus(request, EndRun());
}

DriverStatus CanChannel::EndRun() {
  {
    Lock interrupt(interruptMutex_);
    machines_.DisarmSynchronisation();
    ledPerCycle_ = false;
    if ((controller_.Port2Shadow() & reg::kPort2WatchdogOff) == 0)
      controller_.SetPort2Bits(reg::kPort2WatchdogOff);
  }
  // The held request ends before the handler goes, also when the exchange
  // point has passed and only the deferred call is still to come.
  CancelHeldRequests(0);
  if (!DisconnectCanInterrupt()) return common::kDriverRunNotStopped;
  {
    Lock interrupt(interruptMutex_);
    tickEnabled_ = false;
    runActive_ = false;
  }
  // A request handed in while the handler was going finds no run either.
  CancelHeldRequests(0);
  runOwner_ = 0;
  return common::kDriverSuccess;
}

void CanChannel::CancelHeldRequests(std::uint64_t onlyFile) {
  devhost::PendingRequest parked;
  devhost::PendingRequest completing;
  {
    Lock interrupt(interruptMutex_);
    const auto belongs = [onlyFile](const devhost::PendingRequest& request) {
      return request != nullptr &&
             (onlyFile == 0 || (request->File() != nullptr && request->File()->Id() == onlyFile));
    };
    if (belongs(parkedRequest_)) parked = std::move(parkedRequest_);
    if (belongs(completingRequest_)) completing = std::move(completingRequest_);
  }
  if (parked != nullptr) parked->Complete(os::kStatusCancelled);
  if (completing != nullptr) completing->Complete(os::kStatusCancelled);
}

void CanChannel::ChannelTwoRequest(devhost::IoRequest& request) {
  Lock requests(requestMutex_);
  switch (request.Code()) {
    case common::IOCTL_CAN_CH2_GET_RESOURCES: {
      const auto bytes = resources_.Bytes();
      std::copy(bytes.begin(), bytes.end(), request.SystemBuffer().begin());
      request.Complete(os::kStatusSuccess, common::kChannelResourcesSize);
      return;
    }
    case common::IOCTL_CAN_CH2_ATTACH:
      AnswerStatus(request, AttachChannelTwo(request.SystemBuffer()[0]));
      return;
    case common::IOCTL_CAN_CH2_ENABLE:
      controller_.ClearPort2Bits(reg::kPort2ChannelTwoLineOff);
      break;
    case common::IOCTL_CAN_CH2_DISABLE:
      controller_.SetPort2Bits(reg::kPort2ChannelTwoLineOff);
      break;
    case common::IOCTL_CAN_CH2_DETACH:
      DetachChannelTwo();
      break;
    default:
      request.Complete(os::kStatusInvalidParameter);
      return;
  }
  request.Complete(os::kStatusSuccess, 0);
}

DriverStatus CanChannel::AttachChannelTwo(std::uint8_t tickDivider) {
  namespace rr = common::run_record;
  if (tickDivider < rr::kMinTickClockDivider || tickDivider > rr::kMaxTickClockDivider)
    return common::kDriverInvalidRunRecord;
  if (useCount_ == 0) {
    if (!controller_.DetectController()) return common::kDriverNoController;
    controller_.InitControllerClock(tickDivider);
    cardTickDivider_ = tickDivider;
    (void)frontEnd_.EnableTickSource();
  } else if (tickDivider != cardTickDivider_) {
    // Re-clocking the card would change channel 1's running cycle.
    return common::kDriverInvalidRunRecord;
  }
  ++useCount_;
  controller_.SetPort2Bits(reg::kPort2ChannelTwoLineOff);
  return common::kDriverSuccess;
}

void CanChannel::DetachChannelTwo() {
  if (useCount_ == 0) return;
  if (useCount_ == 1) {
    useCount_ = 0;
    controller_.SetPort2Bits(reg::kPort2ChannelTwoLineOff);
    frontEnd_.DisableTickSource();
  } else {
    --useCount_;
    controller_.ClearPort2Bits(reg::kPort2ChannelTwoLineOff);
  }
}

}  // namespace vantor::canlayer
