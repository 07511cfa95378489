// One CAN channel of a driver: the shared request set, the run with its
// tick, the parked exchange request and its completion once per cycle.
//
// The front-end owns the device and forwards Create, Cleanup and
// DeviceControl here. Three contexts meet: request handlers (any client
// thread), the tick (the interrupt line's handler) and the exchange
// deferred call (the device's worker). What the tick touches is changed
// elsewhere only under the device's interrupt lock; passive-level state
// (claim, run owner, use count) is guarded by the request lock; single
// register accesses raise the card (Controller82527).
//
// Lock order: request lock, then interrupt lock, then the card lock. The
// handler is never disconnected with the interrupt lock held.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "common/driver_records.h"
#include "common/driver_status.h"
#include "common/exchange_buffer.h"
#include "drivers/canlayer/can_front_end.h"
#include "drivers/canlayer/controller_82527.h"
#include "drivers/canlayer/message_objects.h"
#include "drivers/canlayer/run_settings.h"
#include "platform/devhost/deferred_call.h"
#include "platform/devhost/driver_host.h"

namespace vantor::canlayer {

// Interval statistics in performance-counter ticks.
struct IntervalStatistics {
  std::uint32_t minimum = 0;
  std::uint32_t maximum = 0;
  devhost::Ticks lastStamp = 0;
};

// Nothing until a previous stamp exists; the first interval sets both
// bounds, later ones widen them.
void UpdateIntervalMinMax(IntervalStatistics& statistics, devhost::Ticks now) noexcept;

class CanChannel {
 public:
  CanChannel(devhost::DriverHost& host, devhost::DeviceObject& device, ControllerBus& bus,
             devhost::CardLock& card, CanFrontEnd& frontEnd, CanChannelSettings settings);
  // Ends a run still active and cancels what is still held.
  ~CanChannel();
  CanChannel(const CanChannel&) = delete;
  CanChannel& operator=(const CanChannel&) = delete;

  // Interrupt and window resources of the card (before any run).
  void SetResources(const common::ChannelResources& resources);

  // ---- forwarded by the front-end's dispatch ------------------------------
  devhost::IoStatus Create(devhost::FileObject& file);
  void Cleanup(devhost::FileObject& file);
  // Serves a request of the shared set (and, for the channel-1 driver,
  // channel 2's requests); false for the parallel-port driver's own
  // requests, which the front-end serves.
  bool DeviceControl(devhost::IoRequest& request);

  Controller82527& Controller() noexcept { return controller_; }

  // ---- observation (diagnostics and tests) ---------------------------------
  bool RunActive() const;
  int UseCount() const;

 private:
  using Lock = std::lock_guard<std::mutex>;

  // Requests.
  void Claim(devhost::IoRequest& request);
  void Release(devhost::IoRequest& request);
  void StartRun(devhost::IoRequest& request);
  void StopRun(devhost::IoRequest& request);
  void SubmitExchange(devhost::IoRequest& request);
  void AbortExchange(devhost::IoRequest& request);
  void WatchdogEnable(devhost::IoRequest& request);
  void WatchdogDisable(devhost::IoRequest& request);
  void SetLedMode(devhost::IoRequest& request, bool perCycle);
  void GetRunTime(devhost::IoRequest& request);
  void GetLatencyTime(devhost::IoRequest& request);
  void TestPortRequest(devhost::IoRequest& request, bool toggle);
  void GetVersion(devhost::IoRequest& request);
  void ChannelTwoRequest(devhost::IoRequest& request);

  // Run start and end (request lock held).
  common::DriverStatus StartRunLocked(const RunSettings& run, std::uint64_t owner);
  common::DriverStatus EndRun();
  common::DriverStatus ConnectCanInterrupt();
  bool DisconnectCanInterrupt();
  void MeasureControllerRead();
  void CancelHeldRequests(std::uint64_t onlyFile);

  // Channel 2's share of the card (channel-1 driver, request lock held).
  common::DriverStatus AttachChannelTwo(std::uint8_t tickDivider);
  void DetachChannelTwo();

  // The tick and the exchange (interrupt lock held unless said otherwise).
  bool ControllerIsr();
  void CycleTickFixed();
  void CycleTickTimed();
  void BufferedExchangePoint(common::ExchangeBufferView exchange);
  void HandToDeferredCall();
  void ExchangeDpc();
  common::DriverStatus ParkExchange(const devhost::PendingRequest& request,
                                    devhost::PendingRequest& displaced);
  void CopyExchangeReply(devhost::IoRequest& request);
  void SetTestPortBit(std::uint8_t bit, bool on);
  void ToggleTestPortBit(std::uint8_t bit);

  devhost::DriverHost& host_;
  CanFrontEnd& frontEnd_;
  const CanChannelSettings settings_;
  Controller82527 controller_;
  MessageObjectMachines machines_;
  std::unique_ptr<devhost::DeferredCall> exchangeDpc_;
  const devhost::Ticks deviceStartStamp_;

  // ---- request lock ---------------------------------------------------------
  mutable std::mutex requestMutex_;
  common::ChannelResources resources_{};
  std::uint64_t claimOwner_ = 0;  // file id; 0 when unclaimed
  std::uint64_t runOwner_ = 0;
  std::shared_ptr<devhost::InterruptObject> interrupt_;
  int useCount_ = 0;
  std::uint8_t cardTickDivider_ = 0;  // the divider the card's clock runs with

  // ---- interrupt lock --------------------------------------------------------
  mutable std::mutex interruptMutex_;
  std::atomic<std::int64_t> isrBusy_{0};
  bool runActive_ = false;
  bool tickEnabled_ = false;
  RunSettings run_{};
  std::uint32_t cycleMicroseconds_ = 0;
  std::int64_t cycleLengthTicks_ = 0;
  std::int32_t measuredReadMicroseconds_ = 1;
  std::int16_t tickCounter_ = 0;
  devhost::Ticks lastCycleStamp_ = 0;
  std::uint32_t pendingMicroseconds_ = 0;
  std::uint32_t elapsedMicroseconds_ = 0;
  std::int32_t pollCountdown_ = 0;
  IntervalStatistics interruptIntervals_{};
  IntervalStatistics completionIntervals_{};
  bool ledPerCycle_ = false;
  std::uint8_t testPortShadow_ = 0xFF;
  devhost::PendingRequest parkedRequest_;      // waits for the exchange point
  devhost::PendingRequest completingRequest_;  // handed to the deferred call
  bool dpcQueued_ = false;
};

}  // namespace vantor::canlayer
