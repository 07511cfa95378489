// The real-time policy of the threads that pace the cycle, in one table.
//
// The kernel's cycle is paced by the driver: the clock that raises the
// card's interrupt, the driver's deferred call that completes the exchange,
// the connection threads that carry the exchange request to the driver host
// and the answer back, the kernel's cycle thread and, below them, the
// kernel's server thread. Each takes its role's real-time level (interrupt
// above deferred call above transport above cycle above server thread), so
// that nothing of normal priority delays the cycle. Where the machine
// refuses real-time scheduling the thread keeps running at normal priority,
// silently; the process reports once, through the debug output, what it was
// granted.
//
// Every thread that takes a role blocks between its pieces of work; none
// runs a loop that could hold its processor without end.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantor::os {

enum class RealTimeRole : std::uint8_t {
  kProcessClass,      // every thread of a process started in the real-time class
  kServerThread,      // the kernel's server thread
  kKernelCycle,       // the kernel's real-time cycle
  kRequestTransport,  // connection threads carrying requests and answers
  kDeferredCall,      // the driver host's deferred-call workers
  kInterrupt,         // the driver host's clock, which runs the interrupt handlers
};

// The role's scheduling class (SCHED_FIFO or SCHED_RR) and level.
int RealTimeClassOf(RealTimeRole role) noexcept;
int RealTimeLevelOf(RealTimeRole role) noexcept;
std::string_view RealTimeRoleName(RealTimeRole role) noexcept;

// Gives the calling thread its role's class and level; true when granted.
// A refusal leaves the thread as it was. The first call of a process writes
// the process's report line.
bool ApplyRealTimeRole(RealTimeRole role) noexcept;
// The same for the thread with kernel thread id `threadId` of this process.
bool ApplyRealTimeRoleTo(std::uint32_t threadId, RealTimeRole role) noexcept;

// Locks the process's memory, present and future, where permitted, so that
// no page of the cycle's path is paged out. Pages are locked as they are
// first touched, so a large reservation costs nothing up front. Call once,
// early, in a program whose threads take roles.
bool LockProcessMemory() noexcept;

// The report line of this process ("" until a role was first applied):
// what was granted, what was refused and why, and whether memory is locked.
std::string RealTimeReport();

}  // namespace vantor::os
