#include "kernel/services/node_results.h"

#include "kernel/core/canopen/node_services.h"
#include "kernel/core/kernel_locks.h"

namespace vantor::kernel {

void ResetNodeResults(KernelData& data, canopen::ServiceContext& context) {
  KernelDataLock lock(data);
  NodeConfiguration& nodes = data.nodeConfiguration;
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    if (NodeObject* node = nodes.Node(i)) node->can->request.lastResult = common::kKernelSuccess;
  }
  canopen::ClearAxisResults(context, false);
}

}  // namespace vantor::kernel
