// The message objects' side of the exchange: what the driver does with the
// fifteen records when it takes a request over, what it collects at the
// exchange point and what it writes back at completion, the set-point ring
// and the buffered cycle of run mode 1.
//
// The scheduler calls these steps at fixed points of a run; all of them run
// under the device's interrupt lock or inside the tick. For now the steps
// serve the acceptance masks, the ring's bookkeeping and the
// synchronisation flag; the per-record code transitions, receive
// collection, set-point streaming and the buffered cycle's phases plug in
// behind the same calls.
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "drivers/canlayer/controller_82527.h"
#include "drivers/canlayer/run_settings.h"

namespace vantor::canlayer {

// What the buffered cycle's step tells the tick.
struct BufferedCycleOutcome {
  bool exchangePoint = false;  // ready to answer the parked request now
};

// What one buffered cycle works with; the counters belong to the run and
// the step advances them.
struct BufferedCycle {
  common::ExchangeBufferView* parkedRequest;  // null while no request waits
  bool completionQueued;                      // the last answer is not out yet
  const RunSettings& run;
  std::int32_t measuredReadMicroseconds;
  std::uint32_t& pendingMicroseconds;
  std::uint32_t& elapsedMicroseconds;
  std::int32_t& pollCountdown;
};

class MessageObjectMachines {
 public:
  explicit MessageObjectMachines(Controller82527& controller) : controller_(controller) {}
  MessageObjectMachines(const MessageObjectMachines&) = delete;
  MessageObjectMachines& operator=(const MessageObjectMachines&) = delete;

  // Everything of the previous run forgotten: node states, ring, slots.
  void ResetForRun(const RunSettings& run) noexcept;

  bool SynchronisationArmed() const noexcept { return synchronisationArmed_; }
  bool SynchronisationFailed() const noexcept { return false; }
  void DisarmSynchronisation() noexcept { synchronisationArmed_ = false; }
  // Fixed cycle: the synchronisation frame goes out at the send tick.
  void RequestSynchronisationTransmission() noexcept;

  // Set-point ring bookkeeping.
  int QueuedSetpointCount() const noexcept;
  void EmptyRing() noexcept;

  // The request's records applied (its buffer is changed in place).
  void TakeExchangeRequest(common::ExchangeBufferView exchange) noexcept;
  // Receive frames collected into the request at the exchange point.
  void CollectAtExchangePoint(common::ExchangeBufferView exchange) noexcept;
  // Results of the records written back when the request completes.
  void CopyReplyResults(common::ExchangeBufferView exchange) noexcept;
  // One cycle of the buffered run while the synchronisation is armed.
  BufferedCycleOutcome BufferedCycleStep(BufferedCycle cycle) noexcept;
  // Set-point axes' results and answer frames copied into the request at
  // the buffered cycle's exchange point.
  void CopyAtBufferedExchangePoint(common::ExchangeBufferView exchange) noexcept;

 private:
  Controller82527& controller_;
  bool synchronisationArmed_ = false;
  int synchronisationObject_ = 0;
  std::int16_t ringReadIndex_ = 0;
  std::int16_t ringWriteIndex_ = 0;
};

}  // namespace vantor::canlayer
