#include "kernel/core/kernel_guards.h"

#include <initializer_list>

#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_status.h"

namespace vantor::kernel {

namespace {

// What a row must show beyond a drive ready for motion: homed, not homed,
// or (for the start of homing) neither homed nor limit switches free.
enum class Homing { Required, NotRequired, Starting };

bool RowIsReady(const NodeStatusRow& row, const KernelStateFlags& state, Homing homing) {
  using enum StatusFlag;
  if (!row.Has(A) || !row.Has(B) || !row.Has(C) || !row.Has(I)) return false;
  // With the power switched off the drives are expected switch-on-disabled.
  if (state.powerOff != 0 ? row.Has(H) : !row.Has(G)) return false;
  if (!row.Has(J) || !row.Has(K) || !row.Has(L)) return false;
  // Limit switches may be pressed while bridged or in test mode.
  const bool limitSwitchesMatter =
      homing != Homing::Starting && state.testMode == 0 && state.limitSwitchBridge == 0;
  if (limitSwitchesMatter && (!row.Has(E) || !row.Has(F))) return false;
  if (homing == Homing::Required && !row.Has(D)) return false;
  return row.Has(M) && row.Has(N);
}

common::StatusCode CheckRows(NodeConfiguration& nodes, const KernelStateFlags& state,
                             NodeResults results, Homing homing,
                             canopen::NodeMask mask = ~canopen::NodeMask{0}) {
  common::StatusCode result = common::kKernelSuccess;
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    NodeObject* record = nodes.Node(i);
    if (record == nullptr || (mask & (canopen::NodeMask{1} << i)) == 0) continue;
    canopen::NodeObject& node = *record->can;
    if (!RowIsReady(node.latched, state, homing)) {
      result = common::kKernelOperationFailed;
      if (results == NodeResults::Set) node.request.lastResult = common::kKernelNodeWasInErrorState;
    }
    if (!RowIsReady(node.current, state, homing)) {
      result = common::kKernelOperationFailed;
      if (results == NodeResults::Set) node.request.lastResult = common::kKernelNodeInErrorState;
    }
  }
  return result;
}

}  // namespace

common::StatusCode CheckCanState(KernelData& data) {
  if (!data.state.IsCncInitialised()) return common::kKernelCncNotInitialized;
  KernelDataLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  if (data.state.cycleRunning == 0) return kCycleNotRunning;
  if (data.state.busOk == 0) return common::kKernelCanBusDisturbed;
  return common::kKernelSuccess;
}

bool IsCanBusRunning(KernelData& data) {
  KernelDataLock lock(data);
  return lock.held() && data.state.cycleRunning != 0;
}

common::StatusCode CheckNodeStates(NodeConfiguration& nodes, const KernelStateFlags& state,
                                   NodeResults results) {
  return CheckRows(nodes, state, results, Homing::Required);
}

common::StatusCode CheckNodeStatesNoHoming(NodeConfiguration& nodes, const KernelStateFlags& state,
                                           NodeResults results) {
  return CheckRows(nodes, state, results, Homing::NotRequired);
}

common::StatusCode CheckSelectedNodeStates(NodeConfiguration& nodes, const KernelStateFlags& state,
                                           NodeResults results, canopen::NodeMask mask) {
  return CheckRows(nodes, state, results, Homing::Starting, mask);
}

namespace {

bool BothRowsHave(const NodeObject& record, std::initializer_list<StatusFlag> flags) {
  const canopen::NodeObject& node = *record.can;
  for (StatusFlag flag : flags) {
    if (!node.latched.Has(flag) || !node.current.Has(flag)) return false;
  }
  return true;
}

}  // namespace

bool AllNodesReady(const NodeConfiguration& nodes) {
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node != nullptr && !BothRowsHave(*node, {StatusFlag::M})) return false;
  }
  return true;
}

HomingState AllNodesHomed(const NodeConfiguration& nodes) {
  const std::uint32_t count = nodes.BoundedNodeCount();
  for (std::uint32_t i = 0; i < count; ++i) {
    const NodeObject* node = nodes.Node(i);
    if (node == nullptr || !BothRowsHave(*node, {StatusFlag::A, StatusFlag::C, StatusFlag::D})) {
      return {false, i};
    }
  }
  return {true, count};
}

}  // namespace vantor::kernel
