// The kernel's lock set and its order.
//
// Handlers take the nodes' request mutexes, then the nodes' access mutexes,
// then the kernel data lock (alone or together with the object list or the
// global slot), and release in reverse. Every combined lock is one wait-all,
// never nested single waits, so that two threads never hold parts of a set.
// A mutex whose owner died is taken as acquired.
#pragma once

#include <cstdint>

#include "kernel/core/kernel_data.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

// Each Lock returns true when the whole set was taken; the matching Unlock
// releases it in the listed order.
bool LockKernelData(KernelData& data);
void UnlockKernelData(KernelData& data);
bool LockKernelDataAndObjectList(KernelData& data);
void UnlockKernelDataAndObjectList(KernelData& data);
// The cycle's set: kernel data, global slot and object list.
bool LockStatusData(KernelData& data);
void UnlockStatusData(KernelData& data);
bool LockGlobalRequestSlot(KernelData& data);
void UnlockGlobalRequestSlot(KernelData& data);
bool LockCanObjectList(KernelData& data);
void UnlockCanObjectList(KernelData& data);
bool LockResetMutex(KernelData& data);
void UnlockResetMutex(KernelData& data);

// The cycle's takes of its locks. Each also watches `stop` and gives up,
// holding nothing, once it is set, so that a thread that holds a lock never
// keeps the cycle, and with it the kernel, from ending. False when the lock
// was not taken: the stop came first or the wait failed.
bool LockStatusDataUnlessStopped(KernelData& data, const os::Waitable& stop);
bool LockGlobalRequestSlotUnlessStopped(KernelData& data, const os::Waitable& stop);
bool LockCanObjectListUnlessStopped(KernelData& data, const os::Waitable& stop);
// The stop, looked at between the tries of a set that is taken together.
inline constexpr std::uint32_t kLockStopLookMs = 5;

// The cycle, after releasing its locks: while handlers wait for a lock of
// the set (every Lock above counts its caller while it waits), sleeps until
// they have taken what they waited for, at most `boundMs`. Returns at once
// when nobody waits, so the cycle goes straight on to its next exchange.
void LeaveLocksToWaitingHandlers(KernelData& data, std::uint32_t boundMs);

// The request or access mutex of every node, waited for together. With no
// nodes the wait fails at once, which handlers (no time-out) may ignore.
os::WaitResult LockNodeRequestMutexes(const NodeConfiguration& nodes,
                                      std::uint32_t timeoutMs = os::kInfinite);
void UnlockNodeRequestMutexes(const NodeConfiguration& nodes);
os::WaitResult LockNodeAccessMutexes(const NodeConfiguration& nodes,
                                     std::uint32_t timeoutMs = os::kInfinite);
void UnlockNodeAccessMutexes(const NodeConfiguration& nodes);
// The access mutexes of the nodes of `mask` only, waited for together.
os::WaitResult LockSelectedNodeAccessMutexes(const NodeConfiguration& nodes,
                                             canopen::NodeMask mask);
void UnlockSelectedNodeAccessMutexes(const NodeConfiguration& nodes, canopen::NodeMask mask);

// Holds the kernel data lock for a scope.
class KernelDataLock {
 public:
  explicit KernelDataLock(KernelData& data) : data_(data), held_(LockKernelData(data)) {}
  KernelDataLock(const KernelDataLock&) = delete;
  KernelDataLock& operator=(const KernelDataLock&) = delete;
  ~KernelDataLock() {
    if (held_) UnlockKernelData(data_);
  }
  bool held() const { return held_; }

 private:
  KernelData& data_;
  bool held_;
};

// Holds the kernel data and object list locks for a scope.
class KernelDataAndObjectListLock {
 public:
  explicit KernelDataAndObjectListLock(KernelData& data)
      : data_(data), held_(LockKernelDataAndObjectList(data)) {}
  KernelDataAndObjectListLock(const KernelDataAndObjectListLock&) = delete;
  KernelDataAndObjectListLock& operator=(const KernelDataAndObjectListLock&) = delete;
  ~KernelDataAndObjectListLock() {
    if (held_) UnlockKernelDataAndObjectList(data_);
  }
  bool held() const { return held_; }

 private:
  KernelData& data_;
  bool held_;
};

}  // namespace vantor::kernel
