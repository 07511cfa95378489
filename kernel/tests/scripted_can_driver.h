// A CAN driver for the kernel's tests, served by the driver runtime under a
// channel's device name: it answers the run, version, claim and port
// requests, records what the kernel sent, holds each cyclic exchange until
// the test (or its own pacing thread) completes it, carries the frames of
// the exchange's message records to a scripted bus, and can stall or report
// a bad driver status on demand.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/driver_records.h"
#include "common/exchange_buffer.h"
#include "common/status_code.h"
#include "platform/devhost/device_server.h"
#include "platform/devhost/driver_host.h"

namespace vantor::kernel::testing {

struct BusFrame {
  std::uint8_t record = 0;  // message record that carried it
  std::uint16_t cobId = 0;
  std::uint8_t length = 0;
  std::array<std::uint8_t, 8> data{};
  bool remote = false;

  friend bool operator==(const BusFrame&, const BusFrame&) = default;
};

class ScriptedCanDriver final : public devhost::DeviceDispatch {
 public:
  using Clock = std::chrono::steady_clock;

  ScriptedCanDriver(devhost::DriverHost& host, std::string linkName,
                    common::DriverVersion version = common::kPciDriverVersion);
  ~ScriptedCanDriver() override;

  // ---- The script -------------------------------------------------------
  // A node that answers a frame sent on `requestCobId` with `answer`.
  void AnswerFrame(std::uint16_t requestCobId, std::uint16_t answerCobId,
                   std::vector<std::uint8_t> answerData);
  void SetRunAnswer(common::StatusCode status);
  // The status word of every exchange from now on.
  void SetExchangeStatus(common::StatusCode status);
  // Microseconds reported for each completed exchange.
  void SetCycleMicroseconds(std::uint32_t microseconds);
  // A stalled driver holds the exchange and completes nothing.
  void Stall(bool stalled);

  // ---- Pacing -------------------------------------------------------------
  // Completes the held exchange every `period` on a thread of its own.
  void StartPacing(std::chrono::microseconds period);
  void StopPacing();
  // Waits until an exchange is held and completes it; false at the deadline.
  bool Tick(std::chrono::milliseconds deadline = std::chrono::seconds(10));
  // Waits until the driver has received `count` exchanges in all.
  bool AwaitExchanges(std::uint64_t count, std::chrono::milliseconds deadline);

  // ---- What the kernel did -----------------------------------------------
  int Opens();
  int Cleanups();
  int RunStarts();
  int RunEnds();
  int Aborts();
  int PortReports();
  int VersionRequests();
  std::uint64_t ExchangesReceived();
  bool RunActive();
  std::optional<common::RunRecord> LastRunRecord();
  std::vector<BusFrame> SentFrames();
  std::optional<std::uint16_t> GlobalMask();
  std::optional<std::uint16_t> ReceiveObjectMask();
  bool ExchangeHeld();
  // When each exchange arrived, and when the driver completed each.
  std::vector<Clock::time_point> ExchangeArrivals();
  std::vector<Clock::time_point> ExchangeCompletions();

  // devhost::DeviceDispatch
  devhost::IoStatus Create(devhost::FileObject& file) override;
  void Cleanup(devhost::FileObject& file) override;
  void DeviceControl(devhost::IoRequest& request) override;

 private:
  struct Answer {
    std::uint16_t cobId = 0;
    std::vector<std::uint8_t> data;
  };

  void CompleteHeldLocked();
  void CarryFramesLocked(common::ExchangeBufferView exchange);
  void PaceLoop(std::chrono::microseconds period);

  devhost::DriverHost& host_;
  const std::string deviceName_;
  const std::string linkName_;
  const common::DriverVersion version_;
  std::shared_ptr<devhost::DeviceObject> device_;

  std::mutex mutex_;
  std::condition_variable changed_;
  devhost::PendingRequest heldExchange_;
  const devhost::FileObject* runOwner_ = nullptr;
  std::map<std::uint16_t, Answer> answers_;
  common::StatusCode runAnswer_ = common::kDriverSuccess;
  common::StatusCode exchangeStatus_ = common::kDriverSuccess;
  std::uint32_t cycleMicroseconds_ = 2560;
  bool stalled_ = false;
  int opens_ = 0;
  int cleanups_ = 0;
  int runStarts_ = 0;
  int runEnds_ = 0;
  int aborts_ = 0;
  int portReports_ = 0;
  int versionRequests_ = 0;
  std::optional<common::RunRecord> lastRun_;
  std::vector<BusFrame> sent_;
  std::optional<std::uint16_t> globalMask_;
  std::optional<std::uint16_t> receiveObjectMask_;
  std::vector<Clock::time_point> arrivals_;
  std::vector<Clock::time_point> completions_;

  bool pacing_ = false;
  std::thread pacer_;
};

// A driver host that serves the scripted driver in the calling process's
// namespace, so that a kernel (in this process or started by it) opens it.
class ScriptedDriverHost {
 public:
  explicit ScriptedDriverHost(std::string linkName = "tarnis1");
  ~ScriptedDriverHost();

  ScriptedCanDriver& driver() { return *driver_; }
  bool started() const { return started_; }

 private:
  devhost::VirtualClock clock_;
  std::unique_ptr<devhost::DriverHost> host_;
  std::unique_ptr<ScriptedCanDriver> driver_;
  std::unique_ptr<devhost::DeviceServer> server_;
  bool started_ = false;
};

}  // namespace vantor::kernel::testing
