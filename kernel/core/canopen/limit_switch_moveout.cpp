#include "kernel/core/canopen/limit_switch_moveout.h"

#include <array>

#include "kernel/core/canopen/drive_services.h"
#include "kernel/core/canopen/leave_mode.h"
#include "kernel/core/canopen/multi_axis_moveout.h"
#include "kernel/core/canopen/node_steps.h"
#include "kernel/core/canopen/pdo_layout.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

// The enable words the leave move clears, and those the multi-axis
// move-out clears.
constexpr std::uint32_t kLeaveEnableWords = 1;
constexpr std::uint32_t kAllEnableWords = 3;

struct NodeKinds {
  NodeMask withAxes = 0;
  NodeMask plain = 0;
  std::uint16_t controlRpdo = 0;
  std::uint16_t setpointRpdo = 0;
};

// Read under the lock; false when the cycle has stopped.
bool Classify(ServiceContext& context, NodeKinds& kinds) noexcept {
  HostLock lock(context.host);
  if (!context.host.IsCycleRunning()) return false;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    if (node->axisCount != 0) {
      kinds.withAxes |= NodeMask{1} << k;
    } else {
      kinds.plain |= NodeMask{1} << k;
    }
  }
  // The layout's PDO numbers are kept in the first node.
  if (const NodeObject* first = context.nodes.ByNumber(1)) {
    kinds.controlRpdo = first->controlRpdo;
    kinds.setpointRpdo = first->motionRpdo;
  }
  return true;
}

// The moved nodes' positions read again.
StatusCode ReadPositions(ServiceContext& context, NodeMask mask) noexcept {
  const StatusCode run = RunOnNodes(
      context, mask, ReadPositionDemandStep,
      [](NodeObject& node, auto) { node.request.requestRecord->Set(position_request::kValue, 0); });
  if (run != common::kKernelSuccess) return run;
  HostLock lock(context.host);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || (mask & (NodeMask{1} << k)) == 0) continue;
    node->request.lastResult = node->request.requestResult;
    if (node->request.requestResult != common::kKernelSuccess) {
      result = common::kKernelOperationFailed;
      continue;
    }
    node->position = static_cast<double>(
        static_cast<std::int32_t>(node->request.requestRecord->Get(position_request::kValue)));
  }
  if (result == common::kKernelSuccess && AllNodesHomedNow(context.nodes)) {
    context.host.TakeNodePositionsIntoAxisRecords();
  }
  return result;
}

// The node and axis results of the move-out itself, kept across the layout
// rebuild: the rebuild's services write every drive's result, and a drive
// that failed to move out must keep its cause.
class MoveOutResults {
 public:
  void Keep(ServiceContext& context) noexcept {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr) continue;
      nodes_[k] = node->request.lastResult;
      for (std::uint32_t a = 0; a < kMaxNodeAxes; ++a) axes_[k][a] = node->axes[a].axisResult;
    }
  }
  void PutBackFailures(ServiceContext& context) const noexcept {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr) continue;
      if (nodes_[k] != common::kKernelSuccess) node->request.lastResult = nodes_[k];
      for (std::uint32_t a = 0; a < kMaxNodeAxes; ++a) {
        if (axes_[k][a] != common::kKernelSuccess) node->axes[a].axisResult = axes_[k][a];
      }
    }
  }

 private:
  std::array<StatusCode, kMaxNodes> nodes_{};
  std::array<std::array<StatusCode, kMaxNodeAxes>, kMaxNodes> axes_{};
};

}  // namespace

StatusCode MoveOutOfLimitSwitches(ServiceContext& context, NodeMask mask) noexcept {
  NodeKinds kinds;
  if (!Classify(context, kinds)) return kernel::kCycleNotRunning;
  mask &= kinds.withAxes | kinds.plain;
  bool failed = false;

  if ((mask & kinds.plain) != 0) {
    const StatusCode left = LeaveLimitSwitches(context, mask & kinds.plain);
    if (left == kernel::kCycleNotRunning) return left;
    failed = left != common::kKernelSuccess;
  }
  {
    HostLock lock(context.host);
    context.host.ClearNodeEnableWords(kLeaveEnableWords);
  }

  if (kinds.withAxes != 0) {
    using Service = StatusCode (*)(ServiceContext&, NodeMask, const NodeKinds&) noexcept;
    constexpr Service kServices[] = {
        [](ServiceContext& c, NodeMask m, const NodeKinds& n) noexcept {
          return MoveMultiAxisNodesOut(c, m & n.withAxes);
        },
        [](ServiceContext& c, NodeMask, const NodeKinds& n) noexcept {
          return MapControlwordRpdo(c, n.controlRpdo);
        },
        [](ServiceContext& c, NodeMask, const NodeKinds& n) noexcept {
          return MapSetpointRpdo(c, n.setpointRpdo);
        },
    };
    MoveOutResults moveOut;
    for (Service service : kServices) {
      const StatusCode step = service(context, mask, kinds);
      if (step == kernel::kCycleNotRunning) return step;
      failed = failed || step != common::kKernelSuccess;
      if (service == kServices[0]) moveOut.Keep(context);
    }
    moveOut.PutBackFailures(context);
    HostLock lock(context.host);
    context.host.ClearNodeEnableWords(kAllEnableWords);
  }
  if (failed) return common::kKernelOperationFailed;
  return ReadPositions(context, mask);
}

}  // namespace vantor::canopen
