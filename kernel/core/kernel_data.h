// The kernel's process-wide records that the server thread and the real-time
// cycle share: the state words, the node table and the mutexes that guard
// them.
//
// The mutexes come into being with the CNC initialisation and go with the CNC
// exit; before that no handler that needs them gets past its
// `cncInitialised` test.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/configuration_check.h"
#include "kernel/core/kernel_state.h"
#include "kernel/core/node_status.h"
#include "platform/os/named_objects.h"

namespace vantor::kernel {

// One configured CAN node. The node services add their request slot and
// addressing to it; what every handler needs is here.
struct NodeObject {
  NodeStatusRow latched;
  NodeStatusRow current;
  // What the services report for this node.
  common::StatusCode lastResult = common::kKernelSuccess;
  // Keeps two services off the node's request slot.
  os::Mutex requestMutex;
  // Taken by the handlers and by the cycle's drive stop and resumption.
  os::Mutex accessMutex;
};

struct NodeConfiguration {
  std::uint32_t nodeCount = 0;
  std::uint32_t interpolatedNodeCount = 0;
  std::array<NodeObject*, kMaxNodes> nodes{};
  os::Mutex mutex;

  // The counted nodes; a count beyond the table is cut to it.
  std::uint32_t BoundedNodeCount() const noexcept {
    return nodeCount < nodes.size() ? nodeCount : static_cast<std::uint32_t>(nodes.size());
  }
};

// Handlers waiting for locks of the kernel's set. The cycle, which goes on
// to its next exchange as soon as it has released its locks, first leaves
// them to these waiters (kernel_locks.h).
struct LockWaiters {
  std::atomic<std::uint32_t> count{0};
  // Set while the cycle sleeps until `count` falls to 0.
  std::atomic<std::uint32_t> cycleWaiting{0};
};

struct KernelData {
  // The motion record's mutex; with the node configuration's mutex it forms
  // the kernel data lock.
  os::Mutex motionMutex;
  KernelStateFlags state;
  NodeConfiguration nodeConfiguration;
  // The global request slot's mutex and, further on in that record, the
  // reset mutex.
  os::Mutex globalRequestMutex;
  os::Mutex resetMutex;
  os::Mutex canObjectListMutex;
  LockWaiters lockWaiters;
};

}  // namespace vantor::kernel
