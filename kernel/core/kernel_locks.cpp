#include "kernel/core/kernel_locks.h"

#include <array>
#include <initializer_list>

namespace vantor::kernel {

namespace {

bool TakeAll(std::initializer_list<const os::Waitable*> set) {
  return os::WaitForAll(set, os::kInfinite).acquired();
}

bool TakeOne(const os::Mutex& mutex) { return os::WaitForOne(mutex, os::kInfinite).acquired(); }

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
                               std::uint32_t timeoutMs) {
  std::array<const os::Waitable*, kMaxNodes> set{};
  std::size_t count = 0;
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node == nullptr) continue;
    set[count++] = which == NodeMutex::Request ? &node->requestMutex : &node->accessMutex;
  }
  return os::WaitForAll(std::span<const os::Waitable* const>(set.data(), count), timeoutMs);
}

void UnlockNodeMutexes(const NodeConfiguration& nodes, NodeMutex which) {
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node == nullptr) continue;
    Release(which == NodeMutex::Request ? node->requestMutex : node->accessMutex);
  }
}

}  // namespace

bool LockKernelData(KernelData& data) {
  return TakeAll({&data.motionMutex, &data.nodeConfiguration.mutex});
}

void UnlockKernelData(KernelData& data) {
  Release(data.motionMutex);
  Release(data.nodeConfiguration.mutex);
}

bool LockKernelDataAndObjectList(KernelData& data) {
  return TakeAll({&data.motionMutex, &data.nodeConfiguration.mutex, &data.canObjectListMutex});
}

void UnlockKernelDataAndObjectList(KernelData& data) {
  Release(data.motionMutex);
  Release(data.nodeConfiguration.mutex);
  Release(data.canObjectListMutex);
}

bool LockStatusData(KernelData& data) {
  return TakeAll({&data.motionMutex, &data.nodeConfiguration.mutex, &data.globalRequestMutex,
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

bool LockGlobalRequestSlot(KernelData& data) { return TakeOne(data.globalRequestMutex); }
void UnlockGlobalRequestSlot(KernelData& data) { Release(data.globalRequestMutex); }
bool LockCanObjectList(KernelData& data) { return TakeOne(data.canObjectListMutex); }
void UnlockCanObjectList(KernelData& data) { Release(data.canObjectListMutex); }
bool LockResetMutex(KernelData& data) { return TakeOne(data.resetMutex); }
void UnlockResetMutex(KernelData& data) { Release(data.resetMutex); }

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

}  // namespace vantor::kernel
