#include "kernel/core/canopen/axis_chain.h"

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/masked_axis_sdo.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

constexpr NodeMask Bit(std::uint32_t k) noexcept { return NodeMask{1} << k; }

SdoRecords SameChainRecord(std::uint8_t subindex, std::uint32_t value) noexcept {
  SdoRecords records{};
  records[0] = MakeSdoRecord(object::kAxisChain, subindex, 1, value);
  return records;
}

// Folds one transfer's outcome into the service's: a stopped cycle wins,
// any other failure makes it fail.
bool Fold(StatusCode step, StatusCode& result) noexcept {
  if (step == kernel::kCycleNotRunning) {
    result = step;
    return false;
  }
  if (Failed(step)) result = common::kKernelOperationFailed;
  return true;
}

// The masked nodes that have axes and the chain object (`allNodes`: every
// such node).
NodeMask ChainLeaders(ServiceContext& context, NodeMask mask) noexcept {
  HostLock lock(context.host);
  NodeMask leaders = 0;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node != nullptr && (mask & Bit(k)) != 0 && node->axisCount > 0 &&
        node->axisChainFound != 0) {
      leaders |= Bit(k);
    }
  }
  return leaders;
}

// Of `mask`, the nodes whose axis `axis` has the chain object.
NodeMask FollowersAt(ServiceContext& context, NodeMask mask, std::int32_t axis) noexcept {
  HostLock lock(context.host);
  NodeMask followers = 0;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    const NodeObject* node = context.nodes.nodes[k];
    if (node != nullptr && (mask & Bit(k)) != 0 && HasAxis(*node, axis) &&
        node->axes[static_cast<std::size_t>(axis)].axisChainFound != 0) {
      followers |= Bit(k);
    }
  }
  return followers;
}

// Reads the chain state of axis `axis` (-1: the nodes) of every node that
// has it and notes where the object exists; a missing one is no failure of
// the read. Returns the nodes that lack it, through `missing`.
StatusCode ReadChainState(ServiceContext& context, std::int32_t axis, NodeMask& missing) noexcept {
  NodeMask mask = context.nodes.AllNodes();
  SdoRecords records = SameChainRecord(axis_chain::kState, 0);
  const StatusCode read = SdoUploadFromMaskedAxis(context, true, axis, mask, records);
  if (read == kernel::kCycleNotRunning) return read;
  HostLock lock(context.host);
  StatusCode result = common::kKernelSuccess;
  missing = 0;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || !HasAxis(*node, axis)) continue;
    const bool found = (mask & Bit(k)) != 0;
    const bool absent =
        !found && node->request.requestRecord->Get(sdo_request::kObjectMissing) == 1;
    if (!found && !absent) result = common::kKernelOperationFailed;
    if (absent) missing |= Bit(k);
    if (axis < 0) {
      node->axisChainFound = found ? 1 : 0;
    } else {
      node->axes[static_cast<std::size_t>(axis)].axisChainFound = found ? 1 : 0;
    }
  }
  return result;
}

}  // namespace

StatusCode ProbeAxisChain(ServiceContext& context, bool probeAxes) noexcept {
  AddressingKeeper keeper(context);
  NodeMask missing = 0;
  StatusCode result = common::kKernelSuccess;
  if (!Fold(ReadChainState(context, -1, missing), result)) return result;
  NodeMask uncouple = 0;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr) continue;
      if (node->axisCount > 0 && (missing & Bit(k)) != 0) {
        node->request.lastResult = common::kKernelDriveFirmwareWrong;
        result = common::kKernelOperationFailed;
      }
      if (node->axisCount == 0 && node->axisChainFound != 0) uncouple |= Bit(k);
      // Unless the axes are read themselves, they follow their node.
      for (std::uint32_t a = 0; a < node->axisCount && !probeAxes; ++a) {
        node->axes[a].axisChainFound = node->axisChainFound;
      }
    }
  }
  if (!Fold(SdoDownloadToMaskedAxis(context, false, true, -1, uncouple,
                                    SameChainRecord(axis_chain::kState, axis_chain::kUncoupled)),
            result)) {
    return result;
  }
  if (!probeAxes) return result;
  for (std::int32_t axis = 0; axis < static_cast<std::int32_t>(context.nodes.largestAxisCount);
       ++axis) {
    if (!Fold(ReadChainState(context, axis, missing), result)) return result;
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      if ((missing & Bit(k)) == 0) continue;
      context.nodes.nodes[k]->axes[static_cast<std::size_t>(axis)].axisResult =
          common::kKernelDriveFirmwareWrong;
      result = common::kKernelOperationFailed;
    }
  }
  return result;
}

StatusCode SetAxisChainState(ServiceContext& context, bool on, bool allNodes,
                             NodeMask mask) noexcept {
  const NodeMask leaders = ChainLeaders(context, allNodes ? context.nodes.AllNodes() : mask);
  if (leaders == 0) return common::kKernelSuccess;
  StatusCode result = common::kKernelSuccess;
  {
    NodeMask written = leaders;
    const std::uint8_t state = on ? axis_chain::kLeader : axis_chain::kUncoupled;
    if (!Fold(SdoDownloadToMaskedAxis(context, false, true, -1, written,
                                      SameChainRecord(axis_chain::kState, state)),
              result)) {
      return result;
    }
  }
  for (std::int32_t axis = 0; axis < static_cast<std::int32_t>(context.nodes.largestAxisCount);
       ++axis) {
    NodeMask followers = FollowersAt(context, leaders, axis);
    const std::uint8_t state = on ? axis_chain::kFollower : axis_chain::kUncoupled;
    if (!Fold(SdoDownloadToMaskedAxis(context, false, true, axis, followers,
                                      SameChainRecord(axis_chain::kState, state)),
              result)) {
      return result;
    }
  }
  if (!on) return result;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    if ((leaders & Bit(k)) == 0) continue;
    if (!Fold(ReportAxisErrors(context, k), result)) return result;
  }
  return result;
}

StatusCode ConfigureAxisChain(ServiceContext& context) noexcept {
  if (context.nodes.largestAxisCount == 0) return common::kKernelSuccess;
  NodeMask leaders = ChainLeaders(context, context.nodes.AllNodes());
  SdoRecords firstAxes{};
  SdoRecords lastAxes{};
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr || (leaders & Bit(k)) == 0) continue;
      firstAxes[k] = MakeSdoRecord(object::kAxisChain, axis_chain::kFirstAxis, 1,
                                   node->axes[0].nodeId & 0xFFu);
      lastAxes[k] = MakeSdoRecord(object::kAxisChain, axis_chain::kLastAxis, 1,
                                  node->axes[node->axisCount - 1].nodeId & 0xFFu);
    }
  }
  StatusCode result = common::kKernelSuccess;
  const auto write = [&](std::int32_t axis, NodeMask& mask, const SdoRecords& records,
                         bool sameRecord) {
    return Fold(SdoDownloadToMaskedAxis(context, false, sameRecord, axis, mask, records), result);
  };
  // Each step goes on with the nodes that took the one before.
  if (!write(-1, leaders, SameChainRecord(axis_chain::kState, axis_chain::kUncoupled), true) ||
      !write(-1, leaders, firstAxes, false) || !write(-1, leaders, lastAxes, false) ||
      !write(-1, leaders, SameChainRecord(axis_chain::kError, 0), true) ||
      !write(-1, leaders, SameChainRecord(axis_chain::kState, axis_chain::kLeader), true)) {
    return result;
  }
  for (std::int32_t axis = 0; axis < static_cast<std::int32_t>(context.nodes.largestAxisCount);
       ++axis) {
    NodeMask followers = FollowersAt(context, leaders, axis);
    if (!write(axis, followers, SameChainRecord(axis_chain::kError, 0), true) ||
        !write(axis, followers, SameChainRecord(axis_chain::kState, axis_chain::kFollower), true)) {
      return result;
    }
  }
  return result;
}

StatusCode ReportAxisErrors(ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  if (nodeIndex >= context.nodes.Count() || context.nodes.nodes[nodeIndex] == nullptr) {
    return common::kKernelOperationFailed;
  }
  NodeObject& node = *context.nodes.nodes[nodeIndex];
  if (node.axisCount == 0) return common::kKernelSuccess;
  StatusCode lastResult = common::kKernelSuccess;
  {
    HostLock lock(context.host);
    lastResult = node.request.lastResult;
  }
  bool errorFound = false;
  bool readFailed = false;
  {
    AddressingKeeper keeper(context);
    for (std::int32_t axis = 0; axis < static_cast<std::int32_t>(node.axisCount); ++axis) {
      SwitchNodesToAxis(context, Bit(nodeIndex), axis);
      std::uint32_t newestError = 0;
      const StatusCode read =
          SdoUploadFromNode(context, nodeIndex, object::kErrorHistory, 1, 4, newestError);
      if (read == kernel::kCycleNotRunning) return read;
      HostLock lock(context.host);
      node.axes[static_cast<std::size_t>(axis)].axisResult = node.request.requestResult;
      readFailed = Failed(read);
      if (readFailed || newestError != 0) {
        errorFound = true;
        break;
      }
    }
    HostLock lock(context.host);
    node.request.lastResult = lastResult;
  }
  StatusCode result = readFailed ? common::kKernelOperationFailed : common::kKernelSuccess;
  if (errorFound && node.axisChainFound != 0) {
    const StatusCode flagged =
        SdoDownloadToNode(context, nodeIndex, object::kAxisChain, axis_chain::kError, 1, 1);
    if (flagged == kernel::kCycleNotRunning) return flagged;
    if (Failed(flagged)) result = common::kKernelOperationFailed;
  }
  return result;
}

}  // namespace vantor::canopen
