// The kernel's real-time cycle: `CanCycleThread`.
//
// The driver paces it, not a timer: each cycle hands the one exchange record
// to the driver with the overlapped cyclic-exchange request and waits until
// the driver completes it at its next exchange point. One cycle, in order:
//
//   1  take the cycle mutex (code 13 frees the nodes between cycles); this
//      and every later lock of the cycle is waited for together with the
//      stop event, so that a thread holding a lock never holds the kernel's
//      end
//   2  stop event set: the stop path
//   3  toggle the heartbeat byte of the communication block
//   4  hand a pending acceptance-mask setting to the exchange
//   5  the raw request of the SDO area (end, then start), in CNC mode with
//      the CAN object list served and scheduled around it
//   6  CNC mode: the global request slot's step
//   7  CNC mode: kernel data, global slot and object list locked together;
//      the node slots' steps
//   8  outside CNC mode no set-point entries go out and the ring stays off
//   9-11 the exchange, waited for at most the exchange time-out or until
//      the stop event is set
//  12  a bad driver status: the error path
//  13-14 without the locks of step 7 nothing more; bus not in order: the
//      error path
//  14a the motion processing
//  15  everything released; handlers that wait for a lock of the cycle
//      get it before the next cycle (for at most the pause), otherwise the
//      cycle goes straight on to its next exchange and waits for the
//      driver there
//
// Error path (bad driver status or bus fault): `busOk` cleared, pending path
// events dropped, 20 ms pause; every following cycle takes it until a reset
// sets `busOk` again, but keeps exchanging so raw requests still end.
// Time-out path (the driver did not complete in time): `cycleRunning`
// cleared, every pending request completed, the held exchange aborted at the
// driver, and the thread ends for the rest of the process's life.
// Stop path (teardown): the same clean-up as the time-out path. The stop
// is seen at the start of a cycle, while the cycle waits for one of its
// locks (it then leaves the lock to its holder), or while the driver holds
// the exchange;
// then the exchange is aborted first, so that a driver slow to answer does
// not hold the kernel's end.
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "kernel/core/application_can_request.h"
#include "kernel/core/cycle_steps.h"
#include "kernel/core/filter_hand_off.h"
#include "kernel/core/kernel_data.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/named_objects.h"

namespace vantor::kernel {

struct CycleTimings {
  // Longest time a cycle leaves its locks to waiting handlers, and the pause
  // after a cycle that the driver did not pace (the exchange was not sent,
  // or its answer came at once).
  std::uint32_t pauseMs = 1;
  // After a driver or bus error, on top of the pause.
  std::uint32_t errorPauseMs = 20;
};

// Everything the cycle thread works on; the driver link owns the objects
// and keeps them until the thread has ended.
struct CycleLink {
  KernelData& data;
  ApplicationCanRequest& canRequest;
  CycleSteps& steps;
  FilterHandOff& filter;
  common::ExchangeBuffer& exchange;
  os::DeviceHandle& overlappedDevice;
  os::Event& stopEvent;
  os::Event& exchangeEvent;
  os::Event& abortEvent;
  os::Mutex& cycleMutex;
  // Byte 0 of the communication block; null when no block is mapped.
  std::uint8_t* heartbeat = nullptr;
  std::uint32_t exchangeTimeoutMs = 0;
  CycleTimings timings;
};

// Status word the cycle puts into the exchange when the request itself
// failed (the driver or its host is gone), so that the cycle takes its error
// path instead of reading the last cycle's answer as a new one.
inline constexpr common::StatusCode kExchangeRequestFailed = common::kDriverNoController;

// An answer that came sooner than this after the request was not held for
// an exchange point: it did not pace the cycle.
inline constexpr std::uint64_t kShortestPacedWaitMicroseconds = 50;

// The name the system shows for the cycle thread.
inline constexpr const char* kCycleThreadName = "can-cycle";

// The thread's body; returns when the thread ends (0 stop, 1 time-out).
inline constexpr std::uint32_t kCycleEndedByStop = 0;
inline constexpr std::uint32_t kCycleEndedByTimeout = 1;
std::uint32_t CanCycleThread(CycleLink& link) noexcept;

}  // namespace vantor::kernel
