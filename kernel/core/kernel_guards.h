// The state tests that command handlers run before they act, each with the
// result code it answers.
#pragma once

#include "common/status_code.h"
#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

// kKernelCncNotInitialized without the CNC configuration (tested without
// lock); then under the kernel data lock kCycleNotRunning when the cycle
// does not run and kKernelCanBusDisturbed when the bus is not undisturbed.
common::StatusCode CheckCanState(KernelData& data);

// `cycleRunning`, read under the kernel data lock.
bool IsCanBusRunning(KernelData& data);

enum class NodeResults { Keep, Set };

// Every node's latched row, then its current row, must show a drive ready
// for motion; the caller holds the kernel data lock. A failing latched row
// gives the node kKernelNodeWasInErrorState, a failing current row
// kKernelNodeInErrorState (written after, so it wins) when results are to be
// set. kKernelSuccess, or kKernelOperationFailed when any row fails.
common::StatusCode CheckNodeStates(NodeConfiguration& nodes, const KernelStateFlags& state,
                                   NodeResults results);
// The same without the homed flag D: for services that may run before
// homing.
common::StatusCode CheckNodeStatesNoHoming(NodeConfiguration& nodes, const KernelStateFlags& state,
                                           NodeResults results);

// Before homing, on the nodes of `mask` only: neither the homed flag nor
// the limit-switch flags count.
common::StatusCode CheckSelectedNodeStates(NodeConfiguration& nodes, const KernelStateFlags& state,
                                           NodeResults results, canopen::NodeMask mask);

// 1 when every node shows no following error (flag M) in both rows.
bool AllNodesReady(const NodeConfiguration& nodes);

struct HomingState {
  bool allHomed = false;
  // All homed: the node count; else the index of the first node that is not.
  std::uint32_t nodeCountOrFirstUnhomed = 0;
};
// Every node started, answering and homed (flags A, C and D in both rows).
HomingState AllNodesHomed(const NodeConfiguration& nodes);

}  // namespace vantor::kernel
