#include "kernel/tests/scripted_can_driver.h"

#include <algorithm>
#include <stdexcept>

#include "common/driver_requests.h"

namespace vantor::kernel::testing {

namespace {

namespace eb = common::exchange_buffer;
namespace mr = common::message_record;
using common::MessageCode;

std::vector<devhost::RequestSpec> ClientRequestTable() {
  std::vector<devhost::RequestSpec> table;
  for (const auto& request : common::kDriverRequests) {
    if (request.internalOnly) continue;
    table.push_back({request.controlCode, request.inputLength, request.outputLength});
  }
  return table;
}

void StoreStatus(devhost::IoRequest& request, common::StatusCode status) {
  const auto* row = common::FindDriverRequest(request.Code());
  if (row == nullptr || !row->HasStatusWord()) return;
  common::StoreLittleEndian<std::uint32_t>(request.SystemBuffer().data() + row->statusOffset,
                                           status);
}

void CompleteWithStatus(devhost::IoRequest& request, common::StatusCode status) {
  StoreStatus(request, status);
  request.Complete(os::kStatusSuccess, request.OutputLength());
}

BusFrame FrameOf(common::MessageRecordView record, std::uint8_t number) {
  BusFrame frame;
  frame.record = number;
  frame.cobId = record.Get(mr::kCobId);
  frame.length = std::min<std::uint8_t>(record.Get(mr::kLength), 8);
  const auto data = record.GetBytes(mr::kData);
  std::copy_n(data.begin(), frame.length, frame.data.begin());
  return frame;
}

void WriteAnswer(common::MessageRecordView record, std::uint16_t cobId,
                 const std::vector<std::uint8_t>& data) {
  record.Set(mr::kCobId, cobId);
  record.Set(mr::kLength, static_cast<std::uint8_t>(data.size()));
  auto bytes = record.MutableBytes(mr::kData);
  std::fill(bytes.begin(), bytes.end(), std::uint8_t{0});
  std::copy_n(data.begin(), std::min<std::size_t>(data.size(), bytes.size()), bytes.begin());
}

}  // namespace

ScriptedCanDriver::ScriptedCanDriver(devhost::DriverHost& host, std::string linkName,
                                     common::DriverVersion version)
    : host_(host),
      deviceName_("\\Device\\" + linkName),
      linkName_("\\DosDevices\\" + linkName),
      version_(version) {
  if (host_.CreateDevice({deviceName_, this, ClientRequestTable()}, device_) !=
          os::kStatusSuccess ||
      host_.CreateSymbolicLink(linkName_, deviceName_) != os::kStatusSuccess) {
    throw std::runtime_error("scripted CAN device not created");
  }
}

ScriptedCanDriver::~ScriptedCanDriver() {
  StopPacing();
  host_.DeleteSymbolicLink(linkName_);
  host_.DeleteDevice(*device_);
}

void ScriptedCanDriver::AnswerFrame(std::uint16_t requestCobId, std::uint16_t answerCobId,
                                    std::vector<std::uint8_t> answerData) {
  std::lock_guard lock(mutex_);
  answers_[requestCobId] = Answer{answerCobId, std::move(answerData)};
}

void ScriptedCanDriver::SetRunAnswer(common::StatusCode status) {
  std::lock_guard lock(mutex_);
  runAnswer_ = status;
}

void ScriptedCanDriver::SetExchangeStatus(common::StatusCode status) {
  std::lock_guard lock(mutex_);
  exchangeStatus_ = status;
}

void ScriptedCanDriver::SetCycleMicroseconds(std::uint32_t microseconds) {
  std::lock_guard lock(mutex_);
  cycleMicroseconds_ = microseconds;
}

void ScriptedCanDriver::Stall(bool stalled) {
  std::lock_guard lock(mutex_);
  stalled_ = stalled;
}

void ScriptedCanDriver::StartPacing(std::chrono::microseconds period) {
  StopPacing();
  {
    std::lock_guard lock(mutex_);
    pacing_ = true;
  }
  pacer_ = std::thread([this, period] { PaceLoop(period); });
}

void ScriptedCanDriver::StopPacing() {
  {
    std::lock_guard lock(mutex_);
    pacing_ = false;
  }
  changed_.notify_all();
  if (pacer_.joinable()) pacer_.join();
}

void ScriptedCanDriver::PaceLoop(std::chrono::microseconds period) {
  auto next = Clock::now() + period;
  std::unique_lock lock(mutex_);
  while (pacing_) {
    changed_.wait_until(lock, next, [this] { return !pacing_; });
    if (!pacing_) break;
    if (Clock::now() < next) continue;
    next += period;
    if (!stalled_) CompleteHeldLocked();
  }
}

bool ScriptedCanDriver::Tick(std::chrono::milliseconds deadline) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, deadline, [this] { return heldExchange_ != nullptr; })) {
    return false;
  }
  if (stalled_) return false;
  CompleteHeldLocked();
  return true;
}

bool ScriptedCanDriver::AwaitExchanges(std::uint64_t count, std::chrono::milliseconds deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, deadline, [&] { return arrivals_.size() >= count; });
}

void ScriptedCanDriver::CompleteHeldLocked() {
  if (heldExchange_ == nullptr) return;
  auto held = std::move(heldExchange_);
  heldExchange_.reset();
  common::ExchangeBufferView exchange(held->SystemBuffer().data());
  if (exchange.Get(eb::kGlobalMaskRequest) == 1) {
    globalMask_ = exchange.Get(eb::kGlobalStandardMask);
    exchange.Set(eb::kGlobalMaskRequest, 0);
  }
  if (exchange.Get(eb::kReceiveObjectMaskRequest) == 1) {
    receiveObjectMask_ = exchange.Get(eb::kReceiveObjectMask);
    exchange.Set(eb::kReceiveObjectMaskRequest, 0);
  }
  CarryFramesLocked(exchange);
  exchange.Set(eb::kCycleMicroseconds, cycleMicroseconds_);
  exchange.Set(eb::kStatus, exchangeStatus_);
  completions_.push_back(Clock::now());
  held->Complete(os::kStatusSuccess, common::kExchangeBufferSize);
  changed_.notify_all();
}

// Sends go out first; the scripted nodes answer within the same exchange,
// into whichever record waits for the answer's identifier.
void ScriptedCanDriver::CarryFramesLocked(common::ExchangeBufferView exchange) {
  std::vector<Answer> onTheBus;
  for (std::uint8_t number = 1; number <= common::kMessageRecordCount; ++number) {
    auto record = *common::MessageRecordIn(exchange, number);
    const auto code = static_cast<MessageCode>(record.Get(mr::kCode));
    if (code == MessageCode::SendOnceAndRelease || code == MessageCode::SendOnce) {
      const BusFrame frame = FrameOf(record, number);
      sent_.push_back(frame);
      record.Set(mr::kResult, common::message_result::kDone);
      record.Set(mr::kCode,
                 static_cast<std::uint8_t>(code == MessageCode::SendOnce ? MessageCode::SentOnce
                                                                         : MessageCode::Release));
      if (auto answer = answers_.find(frame.cobId); answer != answers_.end()) {
        onTheBus.push_back(answer->second);
      }
    } else if (code == MessageCode::RemoteRequest) {
      BusFrame frame = FrameOf(record, number);
      frame.remote = true;
      sent_.push_back(frame);
      record.Set(mr::kCode, static_cast<std::uint8_t>(MessageCode::RemoteAnswer));
      if (auto answer = answers_.find(frame.cobId); answer != answers_.end()) {
        WriteAnswer(record, answer->second.cobId, answer->second.data);
        record.Set(mr::kResult, common::message_result::kDone);
      }
    }
  }
  for (std::uint8_t number = 1; number <= common::kMessageRecordCount; ++number) {
    auto record = *common::MessageRecordIn(exchange, number);
    const auto code = static_cast<MessageCode>(record.Get(mr::kCode));
    if (code != MessageCode::StartSingleReceive && code != MessageCode::SingleReceive) continue;
    record.Set(mr::kCode, static_cast<std::uint8_t>(MessageCode::SingleReceive));
    const std::uint16_t awaited = record.Get(mr::kCobId);
    auto match = std::find_if(onTheBus.begin(), onTheBus.end(),
                              [&](const Answer& answer) { return answer.cobId == awaited; });
    if (match == onTheBus.end()) continue;
    WriteAnswer(record, match->cobId, match->data);
    record.Set(mr::kResult, number == common::kReceiveObjectNumber
                                ? common::receive_object_result::kOneFrame
                                : common::message_result::kDone);
    onTheBus.erase(match);
  }
}

devhost::IoStatus ScriptedCanDriver::Create(devhost::FileObject&) {
  std::lock_guard lock(mutex_);
  ++opens_;
  return os::kStatusSuccess;
}

void ScriptedCanDriver::Cleanup(devhost::FileObject& file) {
  std::lock_guard lock(mutex_);
  ++cleanups_;
  if (runOwner_ == &file) {
    runOwner_ = nullptr;
    ++runEnds_;
  }
  // The host cancels what the handle left pending.
  if (heldExchange_ != nullptr && heldExchange_->File() == &file) heldExchange_.reset();
  changed_.notify_all();
}

void ScriptedCanDriver::DeviceControl(devhost::IoRequest& request) {
  std::lock_guard lock(mutex_);
  const std::uint32_t code = request.Code();
  if (code == common::IOCTL_CAN_START_RUN) {
    ++runStarts_;
    lastRun_.emplace();
    std::copy_n(request.SystemBuffer().data(), common::kRunRecordSize,
                lastRun_->MutableBytes().data());
    common::StatusCode status = runAnswer_;
    if (status == common::kDriverSuccess) {
      if (runOwner_ != nullptr) {
        status = common::kDriverRunActive;
      } else {
        runOwner_ = request.File();
      }
    }
    CompleteWithStatus(request, status);
  } else if (code == common::IOCTL_CAN_STOP_RUN) {
    if (runOwner_ == request.File()) {
      runOwner_ = nullptr;
      ++runEnds_;
    }
    CompleteWithStatus(request, common::kDriverSuccess);
  } else if (code == common::IOCTL_CAN_CYCLIC_EXCHANGE) {
    arrivals_.push_back(Clock::now());
    if (heldExchange_ != nullptr) {
      CompleteWithStatus(request, common::kDriverRunActive);
    } else {
      heldExchange_ = request.MarkPending();
    }
  } else if (code == common::IOCTL_CAN_ABORT_EXCHANGE) {
    ++aborts_;
    if (heldExchange_ != nullptr) {
      heldExchange_->Complete(os::kStatusCancelled);
      heldExchange_.reset();
    }
    CompleteWithStatus(request, common::kDriverSuccess);
  } else if (code == common::IOCTL_CAN_GET_VERSION) {
    ++versionRequests_;
    common::DriverVersionRecord record;
    namespace vr = common::driver_version_record;
    record.Set(vr::kInterfaceKind, version_.interfaceKind);
    record.Set(vr::kMajor, version_.major);
    record.Set(vr::kMinor, version_.minor);
    record.Set(vr::kZero, version_.zero);
    record.Set(vr::kBuild, version_.build);
    std::copy_n(record.Bytes().data(), record.kSize, request.SystemBuffer().data());
    request.Complete(os::kStatusSuccess, common::kDriverVersionRecordSize);
  } else if (code == common::IOCTL_CAN_STA_PORT_REPORT) {
    // A PCI driver has no ports to serve.
    ++portReports_;
    request.Complete(os::kStatusNotImplemented);
  } else {
    CompleteWithStatus(request, common::kDriverSuccess);
  }
  changed_.notify_all();
}

int ScriptedCanDriver::Opens() {
  std::lock_guard lock(mutex_);
  return opens_;
}

int ScriptedCanDriver::Cleanups() {
  std::lock_guard lock(mutex_);
  return cleanups_;
}

int ScriptedCanDriver::RunStarts() {
  std::lock_guard lock(mutex_);
  return runStarts_;
}

int ScriptedCanDriver::RunEnds() {
  std::lock_guard lock(mutex_);
  return runEnds_;
}

int ScriptedCanDriver::Aborts() {
  std::lock_guard lock(mutex_);
  return aborts_;
}

int ScriptedCanDriver::PortReports() {
  std::lock_guard lock(mutex_);
  return portReports_;
}

int ScriptedCanDriver::VersionRequests() {
  std::lock_guard lock(mutex_);
  return versionRequests_;
}

std::uint64_t ScriptedCanDriver::ExchangesReceived() {
  std::lock_guard lock(mutex_);
  return arrivals_.size();
}

bool ScriptedCanDriver::RunActive() {
  std::lock_guard lock(mutex_);
  return runOwner_ != nullptr;
}

std::optional<common::RunRecord> ScriptedCanDriver::LastRunRecord() {
  std::lock_guard lock(mutex_);
  return lastRun_;
}

std::vector<BusFrame> ScriptedCanDriver::SentFrames() {
  std::lock_guard lock(mutex_);
  return sent_;
}

std::optional<std::uint16_t> ScriptedCanDriver::GlobalMask() {
  std::lock_guard lock(mutex_);
  return globalMask_;
}

std::optional<std::uint16_t> ScriptedCanDriver::ReceiveObjectMask() {
  std::lock_guard lock(mutex_);
  return receiveObjectMask_;
}

bool ScriptedCanDriver::ExchangeHeld() {
  std::lock_guard lock(mutex_);
  return heldExchange_ != nullptr;
}

std::vector<ScriptedCanDriver::Clock::time_point> ScriptedCanDriver::ExchangeArrivals() {
  std::lock_guard lock(mutex_);
  return arrivals_;
}

std::vector<ScriptedCanDriver::Clock::time_point> ScriptedCanDriver::ExchangeCompletions() {
  std::lock_guard lock(mutex_);
  return completions_;
}

ScriptedDriverHost::ScriptedDriverHost(std::string linkName) {
  host_ = std::make_unique<devhost::DriverHost>(clock_);
  driver_ = std::make_unique<ScriptedCanDriver>(*host_, std::move(linkName));
  server_ = std::make_unique<devhost::DeviceServer>(*host_);
  std::string error;
  started_ = server_->StartInRuntimeDirectory(error);
}

ScriptedDriverHost::~ScriptedDriverHost() {
  server_->Stop();
  driver_.reset();
  host_.reset();
}

}  // namespace vantor::kernel::testing
