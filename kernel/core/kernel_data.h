// The kernel's process-wide records that the server thread and the real-time
// cycle share: the state words, the node table and the mutexes that guard
// them.
//
// The mutexes come into being with the CNC initialisation and go with the CNC
// exit; before that no handler that needs them gets past its
// `cncInitialised` test.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "common/status_code.h"
#include "kernel/core/canopen/node_object.h"
#include "kernel/core/configuration_check.h"
#include "kernel/core/kernel_state.h"
#include "kernel/core/node_status.h"
#include "platform/os/named_objects.h"

namespace vantor::kernel {

// One configured CAN node: the CANopen layer's record of it (request slot,
// addressing, axes, status rows and last result, each kept once) and the
// kernel's handles that guard it.
struct NodeObject {
  // Present while the node is configured.
  std::optional<canopen::NodeObject> can;
  // Keeps two services off the node's request slot. Taking and giving back
  // a lock leaves the node as it was, so the locks work on const nodes too.
  mutable os::Mutex requestMutex;
  // Taken by the handlers and by the cycle's drive stop and resumption.
  mutable os::Mutex accessMutex;
};

struct NodeConfiguration {
  // The layer's table: node count, largest axis count and the pointers to
  // the layer records inside `records`.
  canopen::NodeTable table;
  std::uint32_t interpolatedNodeCount = 0;
  // The nodes themselves are fixed records, never heap objects.
  std::array<NodeObject, canopen::kMaxNodes> records{};
  os::Mutex mutex;

  // The counted nodes; a count beyond the table is cut to it.
  std::uint32_t BoundedNodeCount() const noexcept { return table.Count(); }

  // The counted node at `index` that holds a layer record, or null.
  NodeObject* Node(std::uint32_t index) noexcept {
    return index < BoundedNodeCount() && records[index].can ? &records[index] : nullptr;
  }
  const NodeObject* Node(std::uint32_t index) const noexcept {
    return index < BoundedNodeCount() && records[index].can ? &records[index] : nullptr;
  }

  // Builds the layer record of node `index` and points the table at it; the
  // caller sets the count. Null for an index beyond the table.
  canopen::NodeObject* Place(std::uint32_t index, const canopen::NodeSetup& setup) noexcept {
    if (index >= records.size()) return nullptr;
    canopen::NodeObject& node = records[index].can.emplace(setup);
    table.nodes[index] = &node;
    return &node;
  }
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
};

}  // namespace vantor::kernel
