// The results of one node's drives (the node's last result, then its axes'
// results) kept across later services, which write every drive's result
// anew: a drive that failed keeps its cause.
#pragma once

#include <array>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

class KeptDriveResults {
 public:
  // Under the kernel data lock.
  void Keep(ServiceContext& context, const NodeObject& node) noexcept {
    HostLock lock(context.host);
    results_[0] = node.request.lastResult;
    for (std::size_t a = 0; a < kMaxNodeAxes; ++a) results_[a + 1] = node.axes[a].axisResult;
    kept_ = true;
  }
  // The failures kept go back over whatever came since.
  void PutBackFailures(ServiceContext& context, NodeObject& node) const noexcept {
    if (!kept_) return;
    HostLock lock(context.host);
    if (results_[0] != common::kKernelSuccess) node.request.lastResult = results_[0];
    for (std::size_t a = 0; a < kMaxNodeAxes; ++a) {
      if (results_[a + 1] != common::kKernelSuccess) node.axes[a].axisResult = results_[a + 1];
    }
  }
  bool kept() const noexcept { return kept_; }

 private:
  std::array<common::StatusCode, kMaxNodeAxes + 1> results_{};
  bool kept_ = false;
};

}  // namespace vantor::canopen
