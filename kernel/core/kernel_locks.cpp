#include "kernel/core/kernel_locks.h"

#include <array>
#include <initializer_list>

#include "platform/os/address_wait.h"
#include "platform/os/timing.h"

namespace vantor::kernel {

namespace {

// A handler counted as waiting for the kernel's locks for the time of its
// wait; the last one to stop waiting wakes the cycle if it sleeps on them.
class CountedWaiter {
 public:
  explicit CountedWaiter(KernelData& data) : waiters_(data.lockWaiters) {
    waiters_.count.fetch_add(1);
  }
  ~CountedWaiter() {
    if (waiters_.count.fetch_sub(1) == 1 && waiters_.cycleWaiting.load() != 0) {
      os::WakeByAddressAll(waiters_.count);
    }
  }
  CountedWaiter(const CountedWaiter&) = delete;
  CountedWaiter& operator=(const CountedWaiter&) = delete;

 private:
  LockWaiters& waiters_;
};

bool TakeAll(KernelData& data, std::initializer_list<const os::Waitable*> set) {
  const CountedWaiter waiting(data);
  return os::WaitForAll(set, os::kInfinite).acquired();
}

bool TakeOne(KernelData& data, const os::Mutex& mutex) {
  const CountedWaiter waiting(data);
  return os::WaitForOne(mutex, os::kInfinite).acquired();
}

// The stop event comes first in the set: once it is set it wins, and the
// mutex stays free.
bool TakeOneUnlessStopped(const os::Mutex& mutex, const os::Waitable& stop) {
  const os::WaitResult taken = os::WaitForAny({&stop, &mutex}, os::kInfinite);
  return taken.acquired() && taken.index == 1;
}

// A wait-all cannot end on an object outside its set, so the set is tried
// in short waits with a look at the stop between them; each try takes all
// or nothing.
bool TakeAllUnlessStopped(std::initializer_list<const os::Waitable*> set,
                          const os::Waitable& stop) {
  for (;;) {
    const os::WaitResult taken = os::WaitForAll(set, kLockStopLookMs);
    if (taken.kind != os::WaitKind::Timeout) return taken.acquired();
    if (os::WaitForOne(stop, 0).kind != os::WaitKind::Timeout) return false;
  }
}

// Releases that fail (a mutex not held by this thread) change nothing; the
// cycle's release path relies on that.
void Release(os::Mutex& mutex) { static_cast<void>(mutex.Release()); }

enum class NodeMutex { Request, Access };

os::WaitResult LockNodeMutexes(const NodeConfiguration& nodes, NodeMutex which,
                               std::uint32_t timeoutMs,
                               canopen::NodeMask mask = ~canopen::NodeMask{0}) {
  std::array<const os::Waitable*, kMaxNodes> set{};
  std::size_t count = 0;
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node == nullptr || (mask & (canopen::NodeMask{1} << i)) == 0) continue;
    set[count++] = which == NodeMutex::Request ? &node->requestMutex : &node->accessMutex;
  }
  return os::WaitForAll(std::span<const os::Waitable* const>(set.data(), count), timeoutMs);
}

void UnlockNodeMutexes(const NodeConfiguration& nodes, NodeMutex which,
                       canopen::NodeMask mask = ~canopen::NodeMask{0}) {
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node == nullptr || (mask & (canopen::NodeMask{1} << i)) == 0) continue;
    Release(which == NodeMutex::Request ? node->requestMutex : node->accessMutex);
  }
}

}  // namespace

bool LockKernelData(KernelData& data) {
  return TakeAll(data, {&data.motionMutex, &data.nodeConfiguration.mutex});
}

void UnlockKernelData(KernelData& data) {
  Release(data.motionMutex);
  Release(data.nodeConfiguration.mutex);
}

bool LockKernelDataAndObjectList(KernelData& data) {
  return TakeAll(data,
                 {&data.motionMutex, &data.nodeConfiguration.mutex, &data.canObjectListMutex});
}

void UnlockKernelDataAndObjectList(KernelData& data) {
  Release(data.motionMutex);
  Release(data.nodeConfiguration.mutex);
  Release(data.canObjectListMutex);
}

bool LockStatusData(KernelData& data) {
  return TakeAll(data, {&data.motionMutex, &data.nodeConfiguration.mutex, &data.globalRequestMutex,
                        &data.canObjectListMutex});
}

void UnlockStatusData(KernelData& data) {
  Release(data.motionMutex);
  Release(data.nodeConfiguration.mutex);
  Release(data.globalRequestMutex);
  Release(data.canObjectListMutex);
}

bool LockStatusDataUnlessStopped(KernelData& data, const os::Waitable& stop) {
  return TakeAllUnlessStopped({&data.motionMutex, &data.nodeConfiguration.mutex,
                               &data.globalRequestMutex, &data.canObjectListMutex},
                              stop);
}

bool LockGlobalRequestSlotUnlessStopped(KernelData& data, const os::Waitable& stop) {
  return TakeOneUnlessStopped(data.globalRequestMutex, stop);
}

bool LockCanObjectListUnlessStopped(KernelData& data, const os::Waitable& stop) {
  return TakeOneUnlessStopped(data.canObjectListMutex, stop);
}

bool LockGlobalRequestSlot(KernelData& data) { return TakeOne(data, data.globalRequestMutex); }
void UnlockGlobalRequestSlot(KernelData& data) { Release(data.globalRequestMutex); }
bool LockCanObjectList(KernelData& data) { return TakeOne(data, data.canObjectListMutex); }
void UnlockCanObjectList(KernelData& data) { Release(data.canObjectListMutex); }
bool LockResetMutex(KernelData& data) { return TakeOne(data, data.resetMutex); }
void UnlockResetMutex(KernelData& data) { Release(data.resetMutex); }

void LeaveLocksToWaitingHandlers(KernelData& data, std::uint32_t boundMs) {
  LockWaiters& waiters = data.lockWaiters;
  if (boundMs == 0 || waiters.count.load() == 0) return;
  // Announced before the count is read again: a handler that stops waiting
  // after this sees the flag and wakes us, one that stopped before leaves
  // the count at 0 for the look below.
  waiters.cycleWaiting.store(1);
  const std::uint64_t deadline = os::MonotonicMicroseconds() + std::uint64_t{boundMs} * 1000u;
  for (;;) {
    const std::uint32_t waiting = waiters.count.load();
    if (waiting == 0) break;
    const std::uint64_t now = os::MonotonicMicroseconds();
    if (now >= deadline) break;
    os::WaitOnAddress(waiters.count, waiting, static_cast<std::uint32_t>(deadline - now));
  }
  waiters.cycleWaiting.store(0);
}

os::WaitResult LockNodeRequestMutexes(const NodeConfiguration& nodes, std::uint32_t timeoutMs) {
  return LockNodeMutexes(nodes, NodeMutex::Request, timeoutMs);
}
void UnlockNodeRequestMutexes(const NodeConfiguration& nodes) {
  UnlockNodeMutexes(nodes, NodeMutex::Request);
}
os::WaitResult LockNodeAccessMutexes(const NodeConfiguration& nodes, std::uint32_t timeoutMs) {
  return LockNodeMutexes(nodes, NodeMutex::Access, timeoutMs);
}
void UnlockNodeAccessMutexes(const NodeConfiguration& nodes) {
  UnlockNodeMutexes(nodes, NodeMutex::Access);
}
os::WaitResult LockSelectedNodeAccessMutexes(const NodeConfiguration& nodes,
                                             canopen::NodeMask mask) {
  return LockNodeMutexes(nodes, NodeMutex::Access, os::kInfinite, mask);
}
void UnlockSelectedNodeAccessMutexes(const NodeConfiguration& nodes, canopen::NodeMask mask) {
  UnlockNodeMutexes(nodes, NodeMutex::Access, mask);
}

}  // namespace vantor::kernel
