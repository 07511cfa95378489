#include "kernel/core/canopen/home_axes.h"

#include <array>

#include "kernel/core/canopen/gantry_homing_objects.h"
#include "kernel/core/canopen/gantry_homing_runs.h"
#include "kernel/core/canopen/homing_steps.h"
#include "kernel/core/canopen/kept_drive_results.h"

namespace vantor::canopen {

using common::StatusCode;
using kernel::StatusFlag;

namespace {

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }
bool InMask(NodeMask mask, std::uint32_t k) noexcept { return (mask & (NodeMask{1} << k)) != 0; }

struct Split {
  NodeMask plain = 0;
  NodeMask gantry = 0;
};

Split SplitMask(ServiceContext& context, NodeMask mask) noexcept {
  HostLock lock(context.host);
  Split split;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || !InMask(mask, k)) continue;
    (node->axisCount != 0 ? split.gantry : split.plain) |= NodeMask{1} << k;
  }
  return split;
}

// The plain nodes' part: preparation, the run side by side, the transmit
// PDO given back to every node whatever happened.
class PlainHoming {
 public:
  PlainHoming(ServiceContext& context, NodeMask plain) noexcept : context_(context), plain_(plain) {
    results_.fill(common::kKernelSuccess);
    restoreResults_.fill(common::kKernelSuccess);
  }

  StatusCode Run() noexcept {
    if (plain_ == 0) return common::kKernelSuccess;
    if (const StatusCode prepared = Prepare(); prepared == kernel::kCycleNotRunning) {
      return prepared;
    }
    if (!preparationFailed_) {
      if (const StatusCode ran = RunSideBySide(); ran == kernel::kCycleNotRunning) return ran;
    }
    if (const StatusCode restored = Restore(); restored == kernel::kCycleNotRunning) {
      return restored;
    }
    return Summarise();
  }
  bool BreakSeen() const noexcept { return breakSeen_; }

 private:
  // `step` on each plain node in turn; `prepare` under the lock at arming,
  // `afterwards` under the lock after the wait.
  template <typename Prepare, typename Afterwards>
  StatusCode OneByOne(NodeStepFunction step, Prepare&& prepare, Afterwards&& afterwards) noexcept {
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      if (!InMask(plain_, k)) continue;
      const StatusCode run = RunOnNodes(context_, NodeMask{1} << k, step, prepare);
      if (run == kernel::kCycleNotRunning) return run;
      HostLock lock(context_.host);
      afterwards(*context_.nodes.nodes[k], k);
    }
    return common::kKernelSuccess;
  }

  StatusCode Prepare() noexcept {
    const auto notHomed = [](NodeObject& node, auto) {
      node.SetFlagInBothRows(StatusFlag::D, false);
    };
    return OneByOne(DisableCyclicTpdoStep, notHomed, [&](NodeObject& node, std::uint32_t k) {
      if (!Failed(node.request.requestResult)) return;
      results_[k] = node.request.requestResult;
      preparationFailed_ = true;
    });
  }

  StatusCode RunSideBySide() noexcept {
    const StatusCode run = RunOnNodes(context_, plain_, HomingStep, [](NodeObject&, auto) {});
    if (run == kernel::kCycleNotRunning) return run;
    HostLock lock(context_.host);
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      const NodeObject* node = context_.nodes.nodes[k];
      if (node == nullptr || !InMask(plain_, k) || !Failed(node->request.requestResult)) continue;
      results_[k] = node->request.requestResult;
      if (results_[k] == common::kKernelHomingBroken) breakSeen_ = true;
    }
    return common::kKernelSuccess;
  }

  StatusCode Restore() noexcept {
    return OneByOne(
        EnableCyclicTpdoStep, [](NodeObject&, auto) {},
        [&](NodeObject& node, std::uint32_t k) {
          restoreResults_[k] = node.request.requestResult;
          if (Failed(restoreResults_[k])) node.SetFlagInBothRows(StatusFlag::D, false);
        });
  }

  StatusCode Summarise() noexcept {
    HostLock lock(context_.host);
    StatusCode result = common::kKernelSuccess;
    for (std::uint32_t k = 0; k < context_.nodes.Count(); ++k) {
      NodeObject* node = context_.nodes.nodes[k];
      if (node == nullptr || !InMask(plain_, k)) continue;
      node->request.lastResult = Failed(restoreResults_[k]) ? restoreResults_[k] : results_[k];
      if (!Failed(node->request.lastResult)) continue;
      result = common::kKernelOperationFailed;
      if (!preparationFailed_ && node->requestRecord.Get(homing_request::kMethodChanged) != 0) {
        node->SetFlagInBothRows(StatusFlag::N, false);
      }
    }
    return result;
  }

  ServiceContext& context_;
  NodeMask plain_;
  bool preparationFailed_ = false;
  bool breakSeen_ = false;
  std::array<StatusCode, kMaxNodes> results_{};
  std::array<StatusCode, kMaxNodes> restoreResults_{};
};

void MarkGantryHomed(ServiceContext& context, NodeObject& node, const HomingRun& run) noexcept {
  HostLock lock(context.host);
  node.SetFlagInBothRows(StatusFlag::D, true);
  node.current.Set(StatusFlag::E, true);
  node.current.Set(StatusFlag::F, true);
  node.position = 0.0;
  node.homeShiftRemainder = 0;
  node.homedInTestMode = run.testMode;
  for (std::uint32_t a = 0; a < node.axisCount && a < kMaxNodeAxes; ++a) {
    node.axes[a].homedByGantry = 1;
    node.axes[a].homeShiftRemainder = 0;
  }
}

}  // namespace

StatusCode HomeAxes(ServiceContext& context, NodeMask mask, const HomingRun& run) noexcept {
  const Split split = SplitMask(context, mask);
  PlainHoming plain(context, split.plain);
  StatusCode result = plain.Run();
  if (result == kernel::kCycleNotRunning || plain.BreakSeen()) return result;

  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    if (!InMask(split.gantry, k)) continue;
    NodeObject& node = *context.nodes.nodes[k];
    const StatusCode homed = RunGantryHoming(context, k + 1, run);
    if (homed == kernel::kCycleNotRunning) return homed;
    if (!Failed(homed)) {
      MarkGantryHomed(context, node, run);
      continue;
    }
    result = homed;
    KeptDriveResults causes;
    causes.Keep(context, node);
    if (ResetGantryHomingObjects(context, k + 1) == kernel::kCycleNotRunning) {
      return kernel::kCycleNotRunning;
    }
    causes.PutBackFailures(context, node);
    {
      HostLock lock(context.host);
      node.SetFlagInBothRows(StatusFlag::D, false);
      node.SetFlagInBothRows(StatusFlag::N, false);
    }
    if (homed == common::kKernelHomingBroken) break;
  }
  return result;
}

}  // namespace vantor::canopen
