#include "kernel/core/driver_link.h"

#include <array>

#include "common/driver_requests.h"
#include "kernel/core/kernel_status.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace sr = common::can_start_record;

namespace {

// What a request reports when it failed without reaching the driver.
constexpr common::StatusCode kRequestNotDelivered = common::kKernelDriverMissing;

bool CreateEvent(os::Event& event) {
  auto created = os::Event::CreateUnnamed(os::EventReset::Manual, false);
  if (!created) return false;
  event = created.take();
  return true;
}

}  // namespace

DriverLink::DriverLink(CycleEnvironment environment, DriverLinkTimings timings)
    : environment_(environment), timings_(timings) {}

DriverLink::~DriverLink() {
  CloseCanDevice();
  publishedCycle_.store(nullptr, std::memory_order_release);
  cycleThread_.Close();
}

common::StatusCode DriverLink::OpenCanDevice(common::Channel channel, CanStartRecordView start) {
  std::lock_guard link(linkMutex_);
  CloseLink();
  // The thread of an earlier opening has ended and is waited for; only this
  // (the server) thread looks at it.
  publishedCycle_.store(nullptr, std::memory_order_release);
  cycleThread_.Close();

  const std::string path = DevicePathFromStartRecord(start);
  {
    auto opened = os::DeviceHandle::Open(path);
    if (opened.error != os::DeviceOpenError::kNone) {
      CloseLink();
      return common::kKernelDriverMissing;
    }
    std::lock_guard lock(deviceMutex_);
    device_ = std::move(opened.handle);
    open_.store(true, std::memory_order_release);
  }
  if (channel == common::Channel::NoCan) return common::kKernelSuccess;

  auto overlapped = os::DeviceHandle::Open(path);
  if (overlapped.error != os::DeviceOpenError::kNone) {
    CloseLink();
    return common::kKernelOutOfResources;
  }
  overlappedDevice_ = std::move(overlapped.handle);

  const common::StatusCode cycle = OpenCycle(start);
  if (cycle != common::kKernelSuccess) {
    CloseLink();
    return cycle;
  }
  ReadDriverVersion();
  return common::kKernelSuccess;
}

common::StatusCode DriverLink::OpenCycle(CanStartRecordView start) {
  const std::uint8_t interfaceType = start.Get(sr::kCanInterface);
  // No driver of ours serves another kind; a run would be refused, and a
  // cycle without a run would only ever see driver errors.
  if (!IsKnownInterfaceType(interfaceType)) return common::kKernelInitParameterInvalid;
  if (InterfaceTakesRunRequest(interfaceType)) {
    const common::RunRecord run = BuildRunRecord(start);
    common::ByteRecord<4> answer;
    answer.Set(common::run_record::kStatus, kRequestNotDelivered);
    const common::StatusCode sent =
        DeviceRequest(common::IOCTL_CAN_START_RUN, run.Bytes(), answer.MutableBytes());
    if (sent != common::kKernelSuccess) return sent;
    const common::StatusCode status = answer.Get(common::run_record::kStatus);
    if (status != common::kDriverSuccess) return status;
  }

  if (!CreateEvent(stopEvent_) || !CreateEvent(exchangeEvent_) || !CreateEvent(abortEvent_)) {
    return common::kKernelOutOfResources;
  }
  auto mutex = os::Mutex::CreateUnnamed(false);
  if (!mutex) return common::kKernelOutOfResources;
  cycleMutex_ = mutex.take();
  if (!filter_.Create()) return common::kKernelOutOfResources;
  exchangeTimeoutMs_ = ExchangeTimeoutFromStartRecord(start);
  if (!StartCycleThread()) return common::kKernelOutOfResources;

  // The thread must still run after the start-up period; one that ended
  // meanwhile is waited for and closed by the caller's clean-up.
  if (os::WaitForOne(cycleThread_, timings_.startCheckMs).kind != os::WaitKind::Timeout) {
    return kCycleNotRunning;
  }
  publishedCycle_.store(&cycleThread_, std::memory_order_release);

  if (!filter_.Queue(kAllIdentifierBitsMatch, cycleThread_)) return kCycleNotRunning;
  return common::kKernelSuccess;
}

bool DriverLink::StartCycleThread() {
  const os::Mapping& block = environment_.communicationBlock;
  std::uint8_t* heartbeat =
      block.data() != nullptr && block.size() >= common::kCommunicationBlockSize
          ? reinterpret_cast<std::uint8_t*>(block.data())
          : nullptr;
  cycleLink_.emplace(CycleLink{environment_.data, environment_.canRequest, environment_.steps,
                               filter_, exchange_, overlappedDevice_, stopEvent_, exchangeEvent_,
                               abortEvent_, cycleMutex_, heartbeat, exchangeTimeoutMs_,
                               timings_.cycle});
  auto thread = os::Thread::Start([this] { return CanCycleThread(*cycleLink_); },
                                  os::ThreadPriority::AboveNormal);
  if (!thread) return false;
  cycleThread_ = thread.take();
  return true;
}

void DriverLink::ReadDriverVersion() {
  // The answer carries no status word; a request that fails leaves the
  // record zero, which reads "00.00.00.00".
  common::DriverVersionRecord version;
  static_cast<void>(DeviceRequest(common::IOCTL_CAN_GET_VERSION, {}, version.MutableBytes()));
  versionText_ = FormatDriverVersion(version.View());
}

bool DriverLink::IsOpen() const { return open_.load(std::memory_order_acquire); }

std::string_view DriverLink::DriverVersionText() const { return versionText_.data(); }

common::StatusCode DriverLink::DeviceRequest(std::uint32_t requestCode,
                                             std::span<const std::uint8_t> input,
                                             std::span<std::uint8_t> output) {
  std::lock_guard lock(deviceMutex_);
  if (!device_.valid()) return kRequestNotDelivered;
  const auto answer = device_.Control(requestCode, input, output);
  return os::IoSucceeded(answer.status) ? common::kKernelSuccess : kRequestNotDelivered;
}

const os::Waitable* DriverLink::CycleThread() const {
  return publishedCycle_.load(std::memory_order_acquire);
}

os::Mutex* DriverLink::CycleMutex() {
  return CycleThread() != nullptr && cycleMutex_.valid() ? &cycleMutex_ : nullptr;
}

std::optional<std::uint32_t> DriverLink::CycleExitCode() const { return cycleThread_.exitCode(); }

common::StatusCode DriverLink::AdmitApplicationCanRequest(ApplicationCanRequest& request) {
  return environment_.steps.CheckApplicationCanRequest(request);
}

void DriverLink::CloseCanDevice() {
  std::lock_guard link(linkMutex_);
  CloseLink();
}

void DriverLink::CloseLink() {
  if (cycleThread_.valid()) {
    stopEvent_.Set();
    static_cast<void>(os::WaitForOne(cycleThread_, os::kInfinite));
    // A thread that never counted as running was never shown to the server
    // thread, so its handle goes now.
    if (publishedCycle_.load(std::memory_order_acquire) == nullptr) cycleThread_.Close();
  }
  stopEvent_.Close();
  exchangeEvent_.Close();
  abortEvent_.Close();
  cycleMutex_.Close();
  filter_.Close();
  overlappedDevice_.Close();

  std::lock_guard lock(deviceMutex_);
  if (device_.valid()) {
    // The parallel-port driver forgets the ports it served for us; the
    // other drivers refuse the request, which changes nothing.
    common::StaticPortTable emptyTable;
    common::StaticPortTable answer;
    static_cast<void>(device_.Control(common::IOCTL_CAN_STA_PORT_REPORT, emptyTable.Bytes(),
                                      answer.MutableBytes()));
    device_.Close();
  }
  ClearDriverLink();
}

void DriverLink::ClearDriverLink() {
  open_.store(false, std::memory_order_release);
  exchangeTimeoutMs_ = 0;
  versionText_ = DriverVersionTextBuffer{};
}

}  // namespace vantor::kernel
