#include "kernel/services/cnc_exit.h"

#include <array>

#include "kernel/core/canopen/drive_services.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/services/free_node_objects.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/node_results.h"
#include "kernel/services/path_segments.h"
#include "platform/os/wait.h"

namespace vantor::kernel {

namespace {

// The drives take the cleared option before they are disabled.
constexpr std::uint32_t kOptionSettleMs = 10;

// Disabling overwrites the request records; what their first word said
// (the drive was enabled) is kept as 1 or 0.
common::StatusCode DisableDrivesKeepingEnabledMarks(KernelData& data,
                                                    canopen::ServiceContext& context) {
  NodeConfiguration& nodes = data.nodeConfiguration;
  namespace sr = canopen::sdo_request;
  std::array<bool, canopen::kMaxNodes> marked{};
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    if (NodeObject* node = nodes.Node(i)) marked[i] = node->can->requestRecord.Get(sr::kValue) != 0;
  }
  const common::StatusCode result = canopen::DisableAllDrives(context);
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    if (NodeObject* node = nodes.Node(i)) {
      node->can->requestRecord.Set(sr::kValue, marked[i] ? 1u : 0u);
    }
  }
  return result;
}

common::StatusCode TakeDrivesOutOfOperation(Kernel& kernel) {
  KernelData& data = kernel.data;
  NodeConfiguration& nodes = data.nodeConfiguration;
  // Without nodes (not in CNC mode) there is no drive to take out.
  if (nodes.BoundedNodeCount() == 0) return common::kKernelSuccess;
  KernelServiceHost host(data, kernel.canObjects);
  canopen::ServiceContext context = host.Context();
  ResetNodeResults(data, context);
  static_cast<void>(LockNodeRequestMutexes(nodes));
  static_cast<void>(LockNodeAccessMutexes(nodes));
  const canopen::NodeMask all = nodes.table.AllNodes();
  // All three run whatever the one before answered; the first failure is
  // the answer, so that a drive left enabled is never reported as success.
  common::StatusCode result = canopen::ClearDriveOption(context, all);
  host.Sleep(kOptionSettleMs);
  const common::StatusCode disabled = DisableDrivesKeepingEnabledMarks(data, context);
  if (result == common::kKernelSuccess) result = disabled;
  const common::StatusCode restored = canopen::SetDriveOption(context, all);
  if (result == common::kKernelSuccess) result = restored;
  UnlockNodeAccessMutexes(nodes);
  UnlockNodeRequestMutexes(nodes);
  return result;
}

// Between two cycles: the cycle holds pointers into the node records and
// the path's segments for the whole of a cycle.
void FreeBetweenCycles(Kernel& kernel) {
  os::Mutex* cycle = kernel.driverLink != nullptr ? kernel.driverLink->CycleMutex() : nullptr;
  // An owner that died leaves the mutex abandoned, which counts as taken.
  const bool held = cycle != nullptr && os::WaitForOne(*cycle, os::kInfinite).acquired();
  FreeAllPathSegments(kernel.data);
  FreeNodeObjects(kernel);
  if (held) static_cast<void>(cycle->Release());
}

}  // namespace

AfterCommand HandleCncExit(Kernel& kernel) {
  const common::StatusCode result = TakeDrivesOutOfOperation(kernel);
  {
    KernelDataLock lock(kernel.data);
    kernel.data.state.SetCncInitialised(false);
  }
  // Not initialised, the data lock's mutexes may not exist: the flag goes
  // in any case.
  kernel.data.state.SetCncInitialised(false);
  FreeBetweenCycles(kernel);
  kernel.Block().Set(common::communication_block::kResult, result);
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
