#include "kernel/services/slave_axis_reads.h"

#include <array>

#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/kernel_locks.h"

namespace vantor::kernel {

namespace {

// Runs `step` on every node whose slave `k` `takesPart`, with the node's
// slot pointed at the slave; `after` then sees each such node under the
// kernel data lock. The addressing is restored whatever the outcome.
template <typename TakesPart, typename After>
common::StatusCode OnSlaves(KernelData& data, KernelServiceHost& host, canopen::NodeStepFunction step,
                            TakesPart takesPart, After after) noexcept {
  canopen::ServiceContext context = host.Context();
  canopen::NodeAddressing saved{};
  canopen::SaveNodeAddressing(context, saved);
  NodeConfiguration& nodes = data.nodeConfiguration;
  common::StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < nodes.table.largestAxisCount && result == common::kKernelSuccess;
       ++k) {
    canopen::NodeMask mask = 0;
    for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
      const NodeObject* node = nodes.Node(i);
      if (node != nullptr && node->can->axisCount > k && takesPart(*node)) {
        mask |= canopen::NodeMask{1} << i;
      }
    }
    if (mask == 0) continue;
    result = canopen::RunOnNodes(context, mask, step, [k](canopen::NodeObject& node, auto) {
      static_cast<void>(canopen::SwitchToAxis(node, static_cast<std::int32_t>(k)));
      node.requestRecord = {};
    });
    if (result != common::kKernelSuccess) break;
    canopen::HostLock lock(host);
    for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
      if ((mask & (canopen::NodeMask{1} << i)) != 0) after(*nodes.Node(i), k);
    }
  }
  canopen::RestoreNodeAddressing(context, saved);
  return result;
}

}  // namespace

common::StatusCode ReadSlaveDriveErrors(KernelData& data, KernelServiceHost& host) noexcept {
  NodeConfiguration& nodes = data.nodeConfiguration;
  // The step writes into the node's rows; the node's own number is put
  // back afterwards.
  std::array<std::int16_t, canopen::kMaxNodes> ownNumbers{};
  {
    canopen::HostLock lock(host);
    for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
      if (const NodeObject* node = nodes.Node(i)) ownNumbers[i] = node->can->current.driveErrorNumber;
    }
  }
  const common::StatusCode result = OnSlaves(
      data, host, canopen::DriveErrorStep, [](const NodeObject&) { return true; },
      [](NodeObject& node, std::uint32_t) {
        SlaveAxisState& slave = node.slave;
        slave.driveErrorCurrent = node.can->current.driveErrorNumber;
        slave.driveErrorLatched = node.can->latched.driveErrorNumber;
        if (slave.driveErrorCurrent == canopen::kNegativeLimitSwitchError) {
          slave.negativeLimitOkCurrent = 0;
          slave.negativeLimitOkLatched = 0;
        }
        if (slave.driveErrorCurrent == canopen::kPositiveLimitSwitchError) {
          slave.positiveLimitOkCurrent = 0;
          slave.positiveLimitOkLatched = 0;
        }
      });
  canopen::HostLock lock(host);
  for (std::uint32_t i = 0; i < nodes.BoundedNodeCount(); ++i) {
    if (NodeObject* node = nodes.Node(i)) {
      node->can->current.driveErrorNumber = ownNumbers[i];
      node->can->latched.driveErrorNumber = ownNumbers[i];
    }
  }
  if (result == common::kKernelSuccess) nodes.slaveDriveErrorsRead = 1;
  return result;
}

common::StatusCode ReadSlaveLimitInputs(KernelData& data, KernelServiceHost& host) noexcept {
  namespace di = canopen::digital_inputs_request;
  const common::StatusCode result = OnSlaves(
      data, host, canopen::ReadDigitalInputsStep,
      [](const NodeObject& node) { return node.slave.failedInputReads < kMaxFailedInputReads; },
      [](NodeObject& node, std::uint32_t k) {
        SlaveAxisState& slave = node.slave;
        const canopen::RequestRecord& record = node.can->requestRecord;
        if (record.Get(di::kValid) == 0) {
          // Every failed read counts, not only a time-out: a slave that
          // answers with an abort is as unreadable.
          ++slave.failedInputReads;
          if (slave.failedInputReads >= kMaxFailedInputReads) {
            node.can->axes[k].axisResult = node.can->request.requestResult;
          }
          return;
        }
        slave.failedInputReads = 0;
        const std::uint8_t inputs = record.Get(di::kInputs);
        if ((inputs & di::kNegativeLimitSwitch) != 0) {
          slave.negativeLimitOkCurrent = 0;
          slave.negativeLimitOkLatched = 0;
        } else {
          slave.negativeLimitOkCurrent = 1;
        }
        if ((inputs & di::kPositiveLimitSwitch) != 0) {
          slave.positiveLimitOkCurrent = 0;
          slave.positiveLimitOkLatched = 0;
        } else {
          slave.positiveLimitOkCurrent = 1;
        }
      });
  if (result == common::kKernelSuccess) {
    canopen::HostLock lock(host);
    data.nodeConfiguration.slaveInputsRead = 1;
  }
  return result;
}

}  // namespace vantor::kernel
