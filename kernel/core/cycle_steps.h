// The work that the CAN object list, the request slots and the motion
// processing add to the real-time cycle.
//
// The cycle calls these in its fixed order (see can_cycle.h) with the locks
// it names held; each does nothing here, so a kernel whose layers are not
// plugged in still exchanges with its driver every cycle, carries the
// applications' raw requests and keeps its heartbeat. A layer plugs in by
// deriving and overriding what it serves. Every step runs on the cycle
// thread and must not allocate, throw or wait without a bound, except
// `CheckApplicationCanRequest`, which runs on the server thread.
#pragma once

#include <array>
#include <cstdint>

#include "common/exchange_buffer.h"
#include "common/status_code.h"
#include "kernel/core/application_can_request.h"

namespace vantor::kernel {

// Entry k (1 to 15) non-zero: message record k may be handed out. Entry 0
// is not used.
using FreeRecordTable = std::array<std::uint32_t, common::kMessageRecordCount + 1>;

class CycleSteps {
 public:
  virtual ~CycleSteps() = default;

  // ---- Before the exchange, CNC mode only -------------------------------
  // With the CAN object list's mutex held, around the raw request's start.
  virtual void ServeCanObjectList(common::ExchangeBuffer& exchange) noexcept {
    static_cast<void>(exchange);
  }
  virtual void ScheduleCanObjects(common::ExchangeBuffer& exchange) noexcept {
    static_cast<void>(exchange);
  }
  // With the global slot's mutex held: the installed global step, if any.
  virtual void RunGlobalStep(common::ExchangeBuffer& exchange) noexcept {
    static_cast<void>(exchange);
  }
  // With the kernel data lock, the global slot's and the object list's
  // mutexes held: every installed node step in table order (and the module
  // identification in slot 1 when there are no nodes).
  virtual void RunNodeSteps(common::ExchangeBuffer& exchange) noexcept {
    static_cast<void>(exchange);
  }

  // ---- After a good exchange, with the same four mutexes held -----------
  // The motion processing in its order, the velocity-output bookkeeping
  // included.
  virtual void ProcessMotion(common::ExchangeBuffer& exchange) noexcept {
    static_cast<void>(exchange);
  }

  // ---- The ways out and the error path ----------------------------------
  // Closes every pending path event without setting it.
  virtual void DropPendingEvents() noexcept {}
  // Called while `velocityOutputActive` is set.
  virtual void ResetVelocityOutputIndexes() noexcept {}
  // Ends every installed node request and the global request with success
  // and sets their completion events; the waiters then find the cycle gone.
  virtual void CompletePendingRequests() noexcept {}

  // ---- The raw requests of the SDO area ---------------------------------
  // The object list's free-record table, consulted with its mutex held in
  // CNC mode; without a list the raw request uses records 14 and 15.
  virtual FreeRecordTable* CanObjectFreeRecords() noexcept { return nullptr; }
  // The node configuration's stopping word: a drive stop or resumption owns
  // the nodes, and a raw request to a node waits.
  virtual bool NodesStopping() noexcept { return false; }
  // Server thread: whether an application may send the frame in `request`.
  // A frame to a node of the configuration sets `kernelNodeRequest` and may
  // lower `timeoutMicroseconds` to the node's answer time-out. Any code but
  // success refuses the request with that code.
  virtual common::StatusCode CheckApplicationCanRequest(ApplicationCanRequest& request) noexcept {
    static_cast<void>(request);
    return common::kKernelSuccess;
  }
};

}  // namespace vantor::kernel
