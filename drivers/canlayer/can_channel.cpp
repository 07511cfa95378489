#include "drivers/canlayer/can_channel.h"

#include "common/byte_order.h"
#include "common/driver_requests.h"
#include "drivers/canlayer/controller_registers.h"

namespace vantor::canlayer {
namespace {

using common::DriverStatus;

// Answers a request of the table: its status word where the table puts
// one, and the table's output length.
void Answer(devhost::IoRequest& request, DriverStatus status) {
  const common::DriverRequest* row = common::FindDriverRequest(request.Code());
  if (row == nullptr) {
    request.Complete(os::kStatusInvalidParameter);
    return;
  }
  if (row->HasStatusWord()) {
    common::StoreLittleEndian<std::uint32_t>(request.SystemBuffer().data() + row->statusOffset,
                                             status);
  }
  request.Complete(os::kStatusSuccess, row->outputLength);
}

std::uint64_t FileId(const devhost::IoRequest& request) {
  return request.File() != nullptr ? request.File()->Id() : 0;
}

}  // namespace

void UpdateIntervalMinMax(IntervalStatistics& statistics, devhost::Ticks now) noexcept {
  if (statistics.lastStamp != 0) {
    const auto interval = static_cast<std::uint32_t>(now - statistics.lastStamp);
    if (statistics.minimum == 0 && statistics.maximum == 0) {
      statistics.minimum = statistics.maximum = interval;
    } else if (interval < statistics.minimum) {
      statistics.minimum = interval;
    } else if (interval > statistics.maximum) {
      statistics.maximum = interval;
    }
  }
  statistics.lastStamp = now;
}

CanChannel::CanChannel(devhost::DriverHost& host, devhost::DeviceObject& device, ControllerBus& bus,
                       devhost::CardLock& card, CanFrontEnd& frontEnd, CanChannelSettings settings)
    : host_(host),
      frontEnd_(frontEnd),
      settings_(settings),
      controller_(bus, card),
      machines_(controller_, settings.reportOverwrittenFrames),
      exchangeDpc_(std::make_unique<devhost::DeferredCall>(
          device.DeferredCalls(), [this](void*, void*) { ExchangeDpc(); })),
      deviceStartStamp_(host.QueryPerformanceCounter()) {}

CanChannel::~CanChannel() {
  {
    Lock requests(requestMutex_);
    if (RunActive()) EndRun();
    if (interrupt_ != nullptr) interrupt_->Disconnect();
  }
  // The deferred call is taken off its queue and a running one waited for;
  // whatever it did not complete is cancelled here.
  exchangeDpc_.reset();
  CancelHeldRequests(0);
}

void CanChannel::SetResources(const common::ChannelResources& resources) {
  Lock requests(requestMutex_);
  resources_ = resources;
}

bool CanChannel::RunActive() const {
  Lock interrupt(interruptMutex_);
  return runActive_;
}

int CanChannel::UseCount() const {
  Lock requests(requestMutex_);
  return useCount_;
}

devhost::IoStatus CanChannel::Create(devhost::FileObject&) {
  Lock requests(requestMutex_);
  // While a claim is held only handles opened before it reach the device.
  return claimOwner_ != 0 ? os::kStatusAccessViolation : os::kStatusSuccess;
}

void CanChannel::Cleanup(devhost::FileObject& file) {
  Lock requests(requestMutex_);
  if (claimOwner_ == file.Id()) claimOwner_ = 0;
  if (runOwner_ == file.Id() && RunActive()) EndRun();
  CancelHeldRequests(file.Id());
}

bool CanChannel::DeviceControl(devhost::IoRequest& request) {
  namespace c = common;
  const std::uint32_t code = request.Code();
  const common::DriverRequest* row = common::FindDriverRequest(code);
  if (row == nullptr) {
    request.Complete(os::kStatusInvalidParameter);
    return true;
  }
  // The host checks lengths against the device's table; every record view
  // below relies on them, so a table that strayed is refused here too.
  if (!row->LengthsMatch(request.InputLength(), request.OutputLength())) {
    request.Complete(os::kStatusInvalidBufferSize);
    return true;
  }
  switch (code) {
    case c::IOCTL_CAN_CLAIM:
      Claim(request);
      return true;
    case c::IOCTL_CAN_RELEASE:
      Release(request);
      return true;
    case c::IOCTL_CAN_START_RUN:
      StartRun(request);
      return true;
    case c::IOCTL_CAN_STOP_RUN:
      StopRun(request);
      return true;
    case c::IOCTL_CAN_CYCLIC_EXCHANGE:
      SubmitExchange(request);
      return true;
    case c::IOCTL_CAN_ABORT_EXCHANGE:
      AbortExchange(request);
      return true;
    case c::IOCTL_CAN_WATCHDOG_ENABLE:
      WatchdogEnable(request);
      return true;
    case c::IOCTL_CAN_WATCHDOG_DISABLE:
      WatchdogDisable(request);
      return true;
    case c::IOCTL_CAN_LED_PER_EXCHANGE:
      SetLedMode(request, false);
      return true;
    case c::IOCTL_CAN_LED_PER_CYCLE:
      SetLedMode(request, true);
      return true;
    case c::IOCTL_CAN_GET_RUN_TIME:
      GetRunTime(request);
      return true;
    case c::IOCTL_CAN_TESTPORT_CLEAR:
      TestPortRequest(request, false);
      return true;
    case c::IOCTL_CAN_GET_LATENCY_TIME:
      GetLatencyTime(request);
      return true;
    case c::IOCTL_CAN_TESTPORT_TOGGLE:
      TestPortRequest(request, true);
      return true;
    case c::IOCTL_CAN_GET_VERSION:
      GetVersion(request);
      return true;
    default:
      break;
  }
  switch (row->servedBy) {
    case common::RequestServedBy::ParallelPortDriver:
      if (settings_.role == CanDriverRole::kParallelPort) return false;
      request.Complete(os::kStatusNotImplemented);
      return true;
    case common::RequestServedBy::ChannelOneDriver:
      // Channel 2's share of the card is only for the channel-2 driver.
      if (settings_.role != CanDriverRole::kChannelOne ||
          request.From() != devhost::IoRequest::Origin::kKernel) {
        request.Complete(os::kStatusInvalidParameter);
        return true;
      }
      ChannelTwoRequest(request);
      return true;
    case common::RequestServedBy::AllDrivers:
      break;
  }
  request.Complete(os::kStatusInvalidParameter);
  return true;
}

void CanChannel::Claim(devhost::IoRequest& request) {
  Lock requests(requestMutex_);
  const std::uint64_t caller = FileId(request);
  if (claimOwner_ != 0 && claimOwner_ != caller) {
    Answer(request, common::kDriverClaimedByOther);
    return;
  }
  claimOwner_ = caller;
  Answer(request, common::kDriverSuccess);
}

void CanChannel::Release(devhost::IoRequest& request) {
  Lock requests(requestMutex_);
  if (claimOwner_ != 0 && claimOwner_ != FileId(request)) {
    Answer(request, common::kDriverNotOwner);
    return;
  }
  claimOwner_ = 0;
  Answer(request, common::kDriverSuccess);
}

void CanChannel::WatchdogEnable(devhost::IoRequest& request) {
  Lock requests(requestMutex_);
  if (!RunActive()) return Answer(request, common::kDriverNoRun);
  if (runOwner_ != FileId(request)) return Answer(request, common::kDriverNotOwner);
  {
    Lock interrupt(interruptMutex_);
    controller_.ClearPort2Bits(reg::kPort2WatchdogOff);
  }
  Answer(request, common::kDriverSuccess);
}

void CanChannel::WatchdogDisable(devhost::IoRequest& request) {
  Lock requests(requestMutex_);
  if (RunActive() && runOwner_ != FileId(request)) return Answer(request, common::kDriverNotOwner);
  {
    Lock interrupt(interruptMutex_);
    controller_.SetPort2Bits(reg::kPort2WatchdogOff);
  }
  Answer(request, common::kDriverSuccess);
}

void CanChannel::SetLedMode(devhost::IoRequest& request, bool perCycle) {
  Lock requests(requestMutex_);
  if (!RunActive()) return Answer(request, common::kDriverNoRun);
  if (runOwner_ != FileId(request)) return Answer(request, common::kDriverNotOwner);
  {
    Lock interrupt(interruptMutex_);
    ledPerCycle_ = perCycle;
  }
  Answer(request, common::kDriverSuccess);
}

void CanChannel::GetRunTime(devhost::IoRequest& request) {
  namespace rt = common::run_time_record;
  auto record = *common::ByteView<common::kRunTimeRecordSize>::Over(request.SystemBuffer());
  record.Set(rt::kTicksSinceStart,
             static_cast<std::uint64_t>(host_.QueryPerformanceCounter() - deviceStartStamp_));
  record.Set(rt::kCounterFrequency,
             static_cast<std::uint64_t>(devhost::DriverHost::PerformanceFrequency()));
  Answer(request, common::kDriverSuccess);
}

void CanChannel::GetLatencyTime(devhost::IoRequest& request) {
  namespace lr = common::latency_record;
  DriverStatus status = common::kDriverSuccess;
  std::uint32_t cycleMicroseconds = 0;
  IntervalStatistics interrupts;
  IntervalStatistics completions;
  {
    Lock interrupt(interruptMutex_);
    if (!runActive_) {
      status = common::kDriverNoRun;
    } else if (!run_.latencyMeasurement) {
      status = common::kDriverLatencyNotMeasured;
    }
    cycleMicroseconds = cycleMicroseconds_;
    interrupts = interruptIntervals_;
    completions = completionIntervals_;
  }
  if (status == common::kDriverSuccess) {
    auto record = *common::ByteView<common::kLatencyRecordSize>::Over(request.SystemBuffer());
    record.Set(lr::kCycleMicroseconds, cycleMicroseconds);
    record.Set(lr::kInterruptIntervalMin, interrupts.minimum);
    record.Set(lr::kInterruptIntervalMax, interrupts.maximum);
    record.Set(lr::kCompletionIntervalMin, completions.minimum);
    record.Set(lr::kCompletionIntervalMax, completions.maximum);
    record.Set(lr::kCounterFrequency,
               static_cast<std::uint64_t>(devhost::DriverHost::PerformanceFrequency()));
  }
  Answer(request, status);
}

void CanChannel::TestPortRequest(devhost::IoRequest& request, bool toggle) {
  // Bit 3 marks each completion until a client clears it; bit 4 is the
  // client's own mark.
  constexpr std::uint8_t kCompletionMarkBit = 3;
  constexpr std::uint8_t kClientMarkBit = 4;
  DriverStatus status = common::kDriverSuccess;
  {
    Lock interrupt(interruptMutex_);
    if (!runActive_) {
      status = common::kDriverNoRun;
    } else if (toggle) {
      ToggleTestPortBit(kClientMarkBit);
    } else {
      SetTestPortBit(kCompletionMarkBit, false);
    }
  }
  Answer(request, status);
}

void CanChannel::GetVersion(devhost::IoRequest& request) {
  namespace vr = common::driver_version_record;
  auto record = *common::ByteView<common::kDriverVersionRecordSize>::Over(request.SystemBuffer());
  record.Set(vr::kInterfaceKind, settings_.version.interfaceKind);
  record.Set(vr::kMajor, settings_.version.major);
  record.Set(vr::kMinor, settings_.version.minor);
  record.Set(vr::kZero, settings_.version.zero);
  record.Set(vr::kBuild, settings_.version.build);
  Answer(request, common::kDriverSuccess);
}

void CanChannel::SetTestPortBit(std::uint8_t bit, bool on) {
  if (!settings_.testPort) return;
  const auto mask = static_cast<std::uint8_t>(1u << bit);
  testPortShadow_ = on ? static_cast<std::uint8_t>(testPortShadow_ | mask)
                       : static_cast<std::uint8_t>(testPortShadow_ & ~mask);
  const auto raised = controller_.Card().Raise();
  host_.Hardware().PortOut8(*settings_.testPort, testPortShadow_);
}

void CanChannel::ToggleTestPortBit(std::uint8_t bit) {
  SetTestPortBit(bit, (testPortShadow_ & (1u << bit)) == 0);
}

}  // namespace vantor::canlayer
