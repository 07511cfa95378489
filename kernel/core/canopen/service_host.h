// What the node services need of the kernel around them: the kernel data
// lock, the cycle's running flag, waiting for completion signals, sleeping,
// and the few kernel state words and motion records that the drive and NMT
// services touch. The kernel implements it over its locks and events; the
// unit tests implement it with a cycle they step themselves.
#pragma once

#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {
class CanObjectList;
}

namespace vantor::canopen {

// What the CNC initialisation chose for the drives' working values.
struct DriveWorkingValues {
  std::uint32_t cycleDivider = 1;  // driver ticks of 512 microseconds per cycle
  std::uint32_t pathBufferDepth = 0;
  std::uint32_t teachInBufferDepth = 0;
  // The interpolated drives leave their position option off in path mode.
  bool positionOption = false;
};

class NodeServiceHost {
 public:
  virtual void LockKernelData() noexcept = 0;
  virtual void UnlockKernelData() noexcept = 0;
  // `cycleRunning`; the caller holds the kernel data lock.
  virtual bool IsCycleRunning() noexcept = 0;
  // Returns when every signal is set, or when the cycle has ended. Called
  // without the kernel data lock. The cycle's way out completes every
  // pending slot; an implementation also looks at the cycle while it waits,
  // so that a waiter never outlives its cycle.
  virtual void WaitForAll(std::span<CompletionSignal* const> signals) noexcept = 0;
  virtual void Sleep(std::uint32_t milliseconds) noexcept = 0;
  // A clock that only runs forward, for the services that bound a wait on
  // the drives by time.
  virtual std::uint64_t MonotonicMilliseconds() noexcept = 0;

  // ---- Kernel state that lies outside the CANopen layer; called with the
  // ---- kernel data lock held.
  // The stop-on-input mode or the handwheel is initialised: every node then
  // takes an NMT command.
  virtual bool StopOnInputOrHandwheelInitialised() noexcept = 0;
  // After a successful start of the nodes: stop-on-input and handwheel
  // states cleared.
  virtual void ClearStopOnInputAndHandwheel() noexcept = 0;
  // The first `count` of the node configuration's three enable words := 0.
  virtual void ClearNodeEnableWords(std::uint32_t count) noexcept = 0;
  // Every configured axis record takes its node's position: coordinate k
  // that of node k, for k below both the coordinate and the node count.
  virtual void TakeNodePositionsIntoAxisRecords() noexcept = 0;
  // `resetPending`: no reset has succeeded since the CNC initialisation.
  virtual bool IsResetPending() noexcept = 0;
  // The nodes in front of the table that are interpolated axes.
  virtual std::uint32_t InterpolatedNodeCount() noexcept = 0;
  // The configured copy that the reset starts from takes node
  // `nodeIndex`'s controlword and set-point receive-PDO numbers.
  virtual void StoreConfiguredRpdoNumbers(std::uint32_t nodeIndex, std::uint16_t controlRpdo,
                                          std::uint16_t motionRpdo) noexcept = 0;
  // The homing position of node `nodeIndex` (flag D) goes into its axis
  // record too.
  virtual void TakeNodePositionIntoAxisRecord(std::uint32_t nodeIndex) noexcept = 0;

  // ---- The global request slot, under its own lock (taken after the
  // ---- kernel data lock when both are held). False: the lock is gone.
  virtual GlobalRequest& GlobalSlot() noexcept = 0;
  virtual bool LockGlobalRequest() noexcept = 0;
  virtual void UnlockGlobalRequest() noexcept = 0;

  // The values the reset writes to the drives, as the initialisation set them.
  virtual DriveWorkingValues WorkingValues() noexcept = 0;
  // A completion signal for a slot the services make for themselves (the
  // external axes' slot when no node is configured), kept as long as the
  // host; null when none can be had.
  virtual CompletionSignal* SpareCompletionSignal() noexcept = 0;
  virtual void SetLimitSwitchBridge(bool bridged) noexcept = 0;

  // The CAN object list that the cycle walks, and its own lock (taken
  // inside the kernel data lock).
  virtual CanObjectList& CanObjects() noexcept = 0;
  virtual void LockCanObjects() noexcept = 0;
  virtual void UnlockCanObjects() noexcept = 0;

  // ---- Services of the all-node layer, called without the lock.
  // A profile-position move of the masked nodes and their axes to the given
  // positions, then back to their working modes.
  virtual common::StatusCode SetupAxesProfileMode(
      bool includeNode, NodeMask mask, std::span<const std::int32_t> positions) noexcept = 0;

 protected:
  ~NodeServiceHost() = default;
};

// A node service works on the node table through the host.
struct ServiceContext {
  NodeServiceHost& host;
  NodeTable& nodes;
};

// Holds the CAN object list's lock for a scope.
class CanObjectsLock {
 public:
  explicit CanObjectsLock(NodeServiceHost& host) noexcept : host_(host) { host_.LockCanObjects(); }
  CanObjectsLock(const CanObjectsLock&) = delete;
  CanObjectsLock& operator=(const CanObjectsLock&) = delete;
  ~CanObjectsLock() { host_.UnlockCanObjects(); }

 private:
  NodeServiceHost& host_;
};

// Holds the kernel data lock for a scope.
class HostLock {
 public:
  explicit HostLock(NodeServiceHost& host) noexcept : host_(host) { host_.LockKernelData(); }
  HostLock(const HostLock&) = delete;
  HostLock& operator=(const HostLock&) = delete;
  ~HostLock() { host_.UnlockKernelData(); }

 private:
  NodeServiceHost& host_;
};

}  // namespace vantor::canopen
