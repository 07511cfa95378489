#include "kernel/core/can_cycle.h"

#include <pthread.h>

#include <array>
#include <atomic>

#include "common/communication_block.h"
#include "common/driver_requests.h"
#include "kernel/core/application_can_steps.h"
#include "kernel/core/kernel_locks.h"
#include "platform/os/timing.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

namespace eb = common::exchange_buffer;
namespace cb = common::communication_block;

class Cycle {
 public:
  explicit Cycle(CycleLink& link) noexcept
      : link_(link), state_(link.data.state), exchangeRequest_(link.exchangeEvent) {}

  std::uint32_t Run() noexcept {
    ClearExchange();
    for (;;) {
      held_ = Held{};
      held_.cycleMutex = TakeCycleMutex();
      if (StopSeen()) return Stop();
      const bool cnc = state_.cncInitialised.load(std::memory_order_acquire) == 1;
      ToggleHeartbeat();
      link_.filter.TakeInto(link_.exchange);
      if (!ServeApplicationRequest(cnc)) return Stop();
      if (cnc && !RunGlobalStep()) return Stop();
      held_.cycleSet = cnc && LockStatusDataUnlessStopped(link_.data, link_.stopEvent);
      if (cnc && !held_.cycleSet && StopSeen()) return Stop();
      if (held_.cycleSet) link_.steps.RunNodeSteps(link_.exchange);
      if (!cnc) {
        link_.exchange.Set(eb::kSetpointCount, 0);
        link_.exchange.Set(eb::kRingControl, eb::kRingNotInUse);
      }

      const ExchangeOutcome outcome = Exchange();
      switch (outcome) {
        case ExchangeOutcome::NotSent:
          break;
        case ExchangeOutcome::TimedOut:
          TimeoutPath();
          return kCycleEndedByTimeout;
        case ExchangeOutcome::Stopped:
          // The driver still holds the exchange: it gives it back before the
          // thread leaves, as at a time-out.
          LeaveHoldingExchange();
          return kCycleEndedByStop;
        case ExchangeOutcome::Completed:
          if (link_.exchange.Get(eb::kStatus) != common::kDriverSuccess) {
            ErrorPath();
          } else if (held_.cycleSet) {
            if (state_.busOk == 0) {
              ErrorPath();
            } else {
              link_.data.motionRuntime.applicationRequestPending = link_.canRequest.busy;
              link_.steps.ProcessMotion(link_.exchange);
            }
          }
          break;
      }
      ReleaseHeld();
      PaceNextCycle(outcome);
    }
  }

 private:
  struct Held {
    bool cycleMutex = false;
    // Kernel data, global slot and object list, taken together in step 7.
    bool cycleSet = false;
  };

  enum class ExchangeOutcome { NotSent, Completed, TimedOut, Stopped };

  // The record starts empty: no message codes, no mask requests, the ring
  // off, and a good status, so the first raw request sees no stale failure.
  void ClearExchange() noexcept {
    link_.exchange = common::ExchangeBuffer{};
    link_.exchange.Set(eb::kStatus, common::kDriverSuccess);
  }

  void ToggleHeartbeat() noexcept {
    if (link_.heartbeat == nullptr) return;
    std::atomic_ref<std::uint8_t> beat(*link_.heartbeat);
    const std::uint8_t now = beat.load(std::memory_order_relaxed);
    beat.store(now != cb::kHeartbeatLow ? cb::kHeartbeatLow : cb::kHeartbeatHigh,
               std::memory_order_relaxed);
  }

  RawRequestCycle RawRequest(FreeRecordTable* freeRecords) noexcept {
    return RawRequestCycle{link_.canRequest, link_.exchange, link_.data.nodeConfiguration,
                           freeRecords, link_.steps.NodesStopping()};
  }

  // Every lock of the cycle is waited for together with the stop event: a
  // handler that holds one never keeps the kernel from ending.
  bool TakeCycleMutex() noexcept {
    const os::WaitResult taken =
        os::WaitForAny({&link_.stopEvent, &link_.cycleMutex}, os::kInfinite);
    return taken.acquired() && taken.index == 1;
  }

  bool StopSeen() const noexcept { return os::WaitForOne(link_.stopEvent, 0).acquired(); }

  std::uint32_t Stop() noexcept {
    StopPath();
    return kCycleEndedByStop;
  }

  // False when the stop came while the cycle waited for the object list.
  bool ServeApplicationRequest(bool cnc) noexcept {
    if (cnc && LockCanObjectListUnlessStopped(link_.data, link_.stopEvent)) {
      RawRequestCycle raw = RawRequest(link_.steps.CanObjectFreeRecords());
      CompleteApplicationCanRequest(raw);
      link_.steps.ServeCanObjectList(link_.exchange);
      StartApplicationCanRequest(raw);
      link_.steps.ScheduleCanObjects(link_.exchange);
      UnlockCanObjectList(link_.data);
      return true;
    }
    if (cnc && StopSeen()) return false;
    RawRequestCycle raw = RawRequest(nullptr);
    CompleteApplicationCanRequest(raw);
    StartApplicationCanRequest(raw);
    return true;
  }

  // False when the stop came while the cycle waited for the global slot.
  bool RunGlobalStep() noexcept {
    if (!LockGlobalRequestSlotUnlessStopped(link_.data, link_.stopEvent)) return !StopSeen();
    link_.steps.RunGlobalStep(link_.exchange);
    UnlockGlobalRequestSlot(link_.data);
    return true;
  }

  // The driver's answer paces the cycle: after it the cycle goes straight
  // on to its next exchange, which the driver holds until its next exchange
  // point. Only handlers that wait for the locks just released get them
  // first, for at most the pause. An exchange that was not sent, or an
  // answer that came at once, did not pace the cycle: then the cycle pauses,
  // so that it never runs without blocking.
  void PaceNextCycle(ExchangeOutcome outcome) noexcept {
    const bool paced = outcome == ExchangeOutcome::Completed &&
                       exchangeWaitMicroseconds_ >= kShortestPacedWaitMicroseconds;
    if (paced) {
      LeaveLocksToWaitingHandlers(link_.data, link_.timings.pauseMs);
    } else {
      os::Sleep(link_.timings.pauseMs);
    }
  }

  ExchangeOutcome Exchange() noexcept {
    if (!link_.exchangeEvent.Reset()) return ExchangeOutcome::NotSent;
    const std::uint64_t sentAt = os::MonotonicMicroseconds();
    auto bytes = link_.exchange.MutableBytes();
    static_cast<void>(link_.overlappedDevice.ControlOverlapped(common::IOCTL_CAN_CYCLIC_EXCHANGE,
                                                               bytes, bytes, exchangeRequest_));
    // A request that could not be sent has completed already; its status
    // tells. The teardown does not wait for a driver that is slow to answer.
    const auto woken =
        os::WaitForAny({&link_.exchangeEvent, &link_.stopEvent}, link_.exchangeTimeoutMs);
    if (!woken.acquired()) return ExchangeOutcome::TimedOut;
    if (woken.index != 0) return ExchangeOutcome::Stopped;
    exchangeWaitMicroseconds_ = os::MonotonicMicroseconds() - sentAt;
    if (!os::IoSucceeded(exchangeRequest_.Status())) {
      link_.exchange.Set(eb::kStatus, kExchangeRequestFailed);
    }
    return ExchangeOutcome::Completed;
  }

  void ErrorPath() noexcept {
    state_.busOk = 0;
    link_.steps.DropPendingEvents();
    if (state_.velocityOutputActive != 0) link_.steps.ResetVelocityOutputIndexes();
    os::Sleep(link_.timings.errorPauseMs);
  }

  // Every request that waits on the cycle ends now, so no handler and no
  // application waits for a cycle that is gone.
  void EndEveryRequest() noexcept {
    state_.cycleRunning = 0;
    link_.steps.DropPendingEvents();
    link_.steps.CompletePendingRequests();
    if (state_.velocityOutputActive != 0) link_.steps.ResetVelocityOutputIndexes();
    ReleaseApplicationCanRequestMutexes(link_.canRequest, link_.data.nodeConfiguration);
  }

  void TimeoutPath() noexcept { LeaveHoldingExchange(); }

  void LeaveHoldingExchange() noexcept {
    EndEveryRequest();
    ReleaseCycleSet();
    AbortDriverExchange();
    ReleaseCycleMutex();
  }

  void StopPath() noexcept {
    EndEveryRequest();
    ReleaseHeld();
  }

  // Has the driver give back the exchange it holds. Both waits are bounded:
  // a driver that answers neither must not keep the kernel from ending, and
  // the request records withdraw whatever is still outstanding when the
  // thread leaves.
  void AbortDriverExchange() noexcept {
    if (!link_.abortEvent.Reset()) return;
    os::DeviceOverlapped abortRequest(link_.abortEvent);
    std::array<std::uint8_t, 4> answer{};
    static_cast<void>(link_.overlappedDevice.ControlOverlapped(common::IOCTL_CAN_ABORT_EXCHANGE, {},
                                                               answer, abortRequest));
    static_cast<void>(os::WaitForOne(link_.abortEvent, link_.exchangeTimeoutMs));
    static_cast<void>(os::WaitForOne(link_.exchangeEvent, link_.exchangeTimeoutMs));
  }

  void ReleaseCycleSet() noexcept {
    if (!held_.cycleSet) return;
    UnlockStatusData(link_.data);
    held_.cycleSet = false;
  }

  void ReleaseCycleMutex() noexcept {
    if (!held_.cycleMutex) return;
    static_cast<void>(link_.cycleMutex.Release());
    held_.cycleMutex = false;
  }

  void ReleaseHeld() noexcept {
    ReleaseCycleSet();
    ReleaseCycleMutex();
  }

  CycleLink& link_;
  KernelStateFlags& state_;
  os::DeviceOverlapped exchangeRequest_;
  Held held_;
  std::uint64_t exchangeWaitMicroseconds_ = 0;
};

}  // namespace

std::uint32_t CanCycleThread(CycleLink& link) noexcept {
  pthread_setname_np(pthread_self(), kCycleThreadName);
  Cycle cycle(link);
  return cycle.Run();
}

}  // namespace vantor::kernel
