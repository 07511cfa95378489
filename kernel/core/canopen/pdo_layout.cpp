#include "kernel/core/canopen/pdo_layout.h"

#include <array>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/pdo_config_step.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

namespace pdo = pdo_mapping_request;

constexpr std::uint16_t kFirstPdo = 1;
constexpr std::uint16_t kLastPdo = 4;
constexpr std::uint8_t kSwitchedOffType = 0xF1;
constexpr std::uint16_t kResetInhibitTime = 65000;
constexpr std::uint8_t kOnSyncType = 0;
constexpr std::uint8_t kOnReceiptType = 0xFF;
constexpr std::uint8_t kEverySyncType = 1;
constexpr std::uint16_t kFeedbackInhibitTime = 10;
constexpr std::uint8_t kRemoteOnlyType = 0xFD;
constexpr std::uint16_t kTimeStampRpdo = 3;
constexpr std::uint16_t kAlternativeTimeStampRpdo = 4;
constexpr std::uint16_t kTimeStampTpdo = 2;

constexpr std::uint16_t kInterpolationData = 0x60C1;
constexpr std::uint16_t kHighResolutionTimeStamp = 0x1013;
constexpr std::uint8_t kAxisChainStateLow = 6;
constexpr std::uint8_t kAxisChainStateHigh = 5;

// What one PDO is to look like; the identifier comes per drive.
struct PdoLayout {
  bool transmit = false;
  std::uint8_t transmissionType = 0;
  std::uint16_t inhibitTime = 0;
  std::uint8_t entryCount = 0;
  std::array<std::uint32_t, 3> entries{};
};

// Where a drive's PDO identifier comes from.
enum class Identifier {
  NodeReceive,  // receive PDO n on the node's id (its axes too)
  OwnTransmit,  // transmit PDO n on the drive's own id
  TimeStamp,    // the kernel's time-stamp identifier
};

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }
bool InMask(NodeMask mask, std::uint32_t k) noexcept { return (mask & (NodeMask{1} << k)) != 0; }

PdoLayout ResetLayout(bool transmit) noexcept {
  return {transmit, kSwitchedOffType, transmit ? kResetInhibitTime : std::uint16_t{0}, 0, {}};
}

PdoLayout ControlwordLayout() noexcept {
  return {false, kOnSyncType, 0, 1, {pdo::MappingEntry(object::kControlword, 0, 16)}};
}

PdoLayout SetpointLayout() noexcept {
  return {
      false,
      kOnReceiptType,
      0,
      3,
      {pdo::MappingEntry(kInterpolationData, 1, 32), pdo::MappingEntry(kInterpolationData, 2, 16),
       pdo::MappingEntry(kInterpolationData, 3, 16)}};
}

PdoLayout TimeStampReceiveLayout() noexcept {
  return {false, kOnReceiptType, 0, 1, {pdo::MappingEntry(kHighResolutionTimeStamp, 0, 32)}};
}

PdoLayout FeedbackLayout() noexcept {
  return {true,
          kEverySyncType,
          kFeedbackInhibitTime,
          3,
          {pdo::MappingEntry(object::kPositionActual, 0, 32),
           pdo::MappingEntry(object::kStatusword, 0, 16),
           pdo::MappingEntry(object::kDigitalInputs, 0, 8)}};
}

PdoLayout TimeStampTransmitLayout(const TimeStampLayout& timeStamp) noexcept {
  return {true,
          kRemoteOnlyType,
          0,
          1,
          {pdo::MappingEntry(timeStamp.objectIndex, timeStamp.objectSubindex, 32)}};
}

// The chained drives' state: 0x2043 sub 6 and sub 5. Nothing else named,
// so type and inhibit time stay 0.
PdoLayout AxisStateLayout() noexcept {
  return {true,
          0,
          0,
          2,
          {pdo::MappingEntry(object::kAxisChain, kAxisChainStateLow, 32),
           pdo::MappingEntry(object::kAxisChain, kAxisChainStateHigh, 16)}};
}

std::uint16_t IdentifierFor(Identifier kind, std::uint16_t pdoNumber, const NodeObject& node,
                            std::int32_t axis, std::uint16_t timeStampCobId) noexcept {
  switch (kind) {
    case Identifier::NodeReceive:
      return MakeRpdoCobId(pdoNumber, node.nodeId);
    case Identifier::OwnTransmit:
      return MakeTpdoCobId(
          pdoNumber, axis < 0 ? node.nodeId : node.axes[static_cast<std::size_t>(axis)].nodeId);
    case Identifier::TimeStamp:
      return timeStampCobId;
  }
  return 0;
}

// The request record, zeroed first so that every field not named is 0.
void FillRecord(RequestRecord& record, const PdoLayout& layout, std::uint16_t pdoNumber,
                std::uint16_t cobId) noexcept {
  record = RequestRecord{};
  record.Set(pdo::kDirection, layout.transmit ? 1u : 0u);
  record.Set(pdo::kPdoNumber, pdoNumber);
  record.Set(pdo::kObjectCount, layout.entryCount);
  record.Set(pdo::kMapped, 0);
  record.Set(pdo::kCobId, cobId);
  record.Set(pdo::kTransmissionType, layout.transmissionType);
  record.Set(pdo::kInhibitTime, layout.inhibitTime);
  for (std::size_t i = 0; i < layout.entryCount; ++i) {
    record.Store<std::uint32_t>(pdo::kEntriesOffset + 4 * i, layout.entries[i]);
  }
}

struct PdoRequest {
  PdoLayout layout;
  std::uint16_t pdoNumber = 0;
  Identifier identifier = Identifier::NodeReceive;
  std::uint16_t timeStampCobId = 0;
};

// The node-level pass over `mask`. Every node's last result takes its
// request result; with `markFailures` a failing node loses its run
// enable; only nodes of `counted` make the result fail. `store` sees every
// node that took part, under the lock, with its identifier.
template <typename Store>
StatusCode ConfigureNodes(ServiceContext& context, NodeMask mask, NodeMask counted,
                          const PdoRequest& request, bool markFailures, Store&& store) noexcept {
  if (request.pdoNumber < kFirstPdo || request.pdoNumber > kLastPdo) {
    return common::kKernelOperationFailed;
  }
  const StatusCode run = RunOnNodes(
      context, mask, PdoConfigStep,
      [&](NodeObject& node, std::uint32_t) {
        FillRecord(
            *node.request.requestRecord, request.layout, request.pdoNumber,
            IdentifierFor(request.identifier, request.pdoNumber, node, -1, request.timeStampCobId));
      },
      pdo_config_entry::kIdentifierFirst);
  if (run != common::kKernelSuccess) return run;
  HostLock lock(context.host);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr || !InMask(mask, k)) continue;
    store(*node,
          IdentifierFor(request.identifier, request.pdoNumber, *node, -1, request.timeStampCobId));
    node->request.lastResult = node->request.requestResult;
    if (!Failed(node->request.requestResult)) continue;
    if (markFailures) node->SetFlagInBothRows(kernel::StatusFlag::N, false);
    if (InMask(counted, k)) result = common::kKernelOperationFailed;
  }
  return result;
}

StatusCode ConfigureNodes(ServiceContext& context, NodeMask mask, const PdoRequest& request,
                          bool markFailures = false) noexcept {
  return ConfigureNodes(context, mask, mask, request, markFailures,
                        [](NodeObject&, std::uint16_t) {});
}

StatusCode ConfigureAxes(ServiceContext& context, const PdoRequest& request,
                         bool markFailures = false, NodeMask mask = ~NodeMask{0}) noexcept {
  if (request.pdoNumber < kFirstPdo || request.pdoNumber > kLastPdo) {
    return common::kKernelOperationFailed;
  }
  return RunStepOnAxes(
      context, context.nodes.AllNodes() & mask, PdoConfigStep, markFailures,
      [&](NodeObject& node, std::uint32_t, std::int32_t axis) {
        FillRecord(*node.request.requestRecord, request.layout, request.pdoNumber,
                   IdentifierFor(request.identifier, request.pdoNumber, node, axis,
                                 request.timeStampCobId));
      },
      pdo_config_entry::kIdentifierFirst);
}

// The node pass, then (unless the cycle stopped) the axis pass.
StatusCode WithAxes(ServiceContext& context, StatusCode nodes, const PdoRequest& request,
                    bool markFailures = false) noexcept {
  if (nodes == kernel::kCycleNotRunning) return nodes;
  return CombineResults(nodes, ConfigureAxes(context, request, markFailures));
}

StatusCode ResetAll(ServiceContext& context, bool transmit) noexcept {
  for (std::uint16_t n = kFirstPdo; n <= kLastPdo; ++n) {
    const PdoRequest request{ResetLayout(transmit), n,
                             transmit ? Identifier::OwnTransmit : Identifier::NodeReceive, 0};
    const StatusCode result =
        WithAxes(context, ConfigureNodes(context, context.nodes.AllNodes(), request), request);
    if (Failed(result)) return result;
  }
  return common::kKernelSuccess;
}

// While no reset has succeeded yet, the PDO numbers become the nodes' and
// their configured copies'.
void StoreRpdoNumbers(ServiceContext& context, std::uint16_t controlRpdo,
                      std::uint16_t motionRpdo) noexcept {
  HostLock lock(context.host);
  if (!context.host.IsResetPending()) return;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    if (controlRpdo != 0) node->controlRpdo = controlRpdo;
    if (motionRpdo != 0) node->motionRpdo = motionRpdo;
    context.host.StoreConfiguredRpdoNumbers(k, node->controlRpdo, node->motionRpdo);
  }
}

NodeMask TimeStampSources(const NodeTable& nodes) noexcept {
  NodeMask sources = 0;
  for (std::uint32_t k = 0; k < nodes.Count(); ++k) {
    if (nodes.nodes[k] != nullptr && IsTimeStampSource(nodes, k)) sources |= NodeMask{1} << k;
  }
  return sources;
}

// Computes and keeps the kernel's time-stamp identifier.
std::uint16_t StoreTimeStampCobId(ServiceContext& context) noexcept {
  const std::uint16_t cobId = TimeStampCobId(context);
  HostLock lock(context.host);
  context.nodes.timeStamp.cobId = cobId;
  return cobId;
}

}  // namespace

bool IsTimeStampSource(const NodeTable& nodes, std::uint32_t nodeIndex) noexcept {
  if (nodeIndex >= nodes.Count() || nodes.nodes[nodeIndex] == nullptr) return false;
  for (std::uint32_t k = 0; k < nodes.Count(); ++k) {
    if (nodes.nodes[k] != nullptr && nodes.nodes[k]->timeStampSource != 0) {
      return nodes.nodes[nodeIndex]->timeStampSource != 0;
    }
  }
  return nodeIndex == 0;
}

std::uint16_t TimeStampCobId(ServiceContext& context) noexcept {
  HostLock lock(context.host);
  if (context.nodes.Count() == 0 || context.nodes.nodes[0] == nullptr) return 0;
  const std::uint8_t id = context.nodes.nodes[0]->nodeId;
  if (IsTimeStampSource(context.nodes, 0)) return MakeTpdoCobId(kTimeStampTpdo, id);
  return MakeRpdoCobId(
      context.nodes.timeStamp.alternativePdo != 0 ? kAlternativeTimeStampRpdo : kTimeStampRpdo, id);
}

StatusCode ResetAllRpdos(ServiceContext& context) noexcept { return ResetAll(context, false); }

StatusCode ResetAllTpdos(ServiceContext& context) noexcept { return ResetAll(context, true); }

StatusCode ResetRpdosOnAxes(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  return ConfigureAxes(context, {ResetLayout(false), pdoNumber, Identifier::NodeReceive, 0});
}

StatusCode ResetTpdosOnAxes(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  return ConfigureAxes(context, {ResetLayout(true), pdoNumber, Identifier::OwnTransmit, 0});
}

StatusCode ResetNodeTpdo(ServiceContext& context, std::uint32_t nodeIndex,
                         std::uint16_t pdoNumber) noexcept {
  if (nodeIndex >= context.nodes.Count() || context.nodes.nodes[nodeIndex] == nullptr) {
    return common::kKernelOperationFailed;
  }
  return ConfigureNodes(context, NodeMask{1} << nodeIndex,
                        {ResetLayout(true), pdoNumber, Identifier::OwnTransmit, 0});
}

StatusCode MapControlwordRpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  const PdoRequest request{ControlwordLayout(), pdoNumber, Identifier::NodeReceive, 0};
  const StatusCode result = WithAxes(
      context,
      ConfigureNodes(context, context.nodes.AllNodes(), context.nodes.AllNodes(), request, false,
                     [](NodeObject& node, std::uint16_t cobId) { node.controlRpdoCobId = cobId; }),
      request);
  if (!Failed(result)) StoreRpdoNumbers(context, pdoNumber, 0);
  return result;
}

StatusCode MapControlwordRpdoOnAxes(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  return ConfigureAxes(context, {ControlwordLayout(), pdoNumber, Identifier::NodeReceive, 0});
}

// Each masked node's own receive PDO (its number from `pdoOf`) with
// `layout`, on the node and then on its axes.
template <typename PdoOf>
StatusCode MapOwnRpdoMasked(ServiceContext& context, NodeMask mask, const PdoLayout& layout,
                            PdoOf pdoOf) noexcept {
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    if (!InMask(mask, k) || context.nodes.nodes[k] == nullptr) continue;
    std::uint16_t pdoNumber = 0;
    {
      HostLock lock(context.host);
      pdoNumber = pdoOf(*context.nodes.nodes[k]);
    }
    const PdoRequest request{layout, pdoNumber, Identifier::NodeReceive, 0};
    const NodeMask self = NodeMask{1} << k;
    const StatusCode node = ConfigureNodes(context, self, request);
    if (node == kernel::kCycleNotRunning) return node;
    const StatusCode axes = ConfigureAxes(context, request, false, self);
    if (axes == kernel::kCycleNotRunning) return axes;
    result = CombineResults(result, CombineResults(node, axes));
  }
  return result;
}

StatusCode MapControlwordToRpdo(ServiceContext& context, NodeMask mask) noexcept {
  return MapOwnRpdoMasked(context, mask, ControlwordLayout(),
                          [](const NodeObject& node) { return node.controlRpdo; });
}

StatusCode MapSetpointRpdoMasked(ServiceContext& context, NodeMask mask) noexcept {
  return MapOwnRpdoMasked(context, mask, SetpointLayout(),
                          [](const NodeObject& node) { return node.motionRpdo; });
}

StatusCode MapSetpointRpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  const PdoRequest request{SetpointLayout(), pdoNumber, Identifier::NodeReceive, 0};
  const StatusCode result = WithAxes(
      context,
      ConfigureNodes(context, context.nodes.AllNodes(), context.nodes.AllNodes(), request, false,
                     [](NodeObject& node, std::uint16_t cobId) { node.setpointRpdoCobId = cobId; }),
      request);
  if (!Failed(result)) StoreRpdoNumbers(context, 0, pdoNumber);
  return result;
}

StatusCode MapSetpointRpdoOnAxes(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  return ConfigureAxes(context, {SetpointLayout(), pdoNumber, Identifier::NodeReceive, 0});
}

StatusCode MapTimeStampRpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  const std::uint16_t cobId = StoreTimeStampCobId(context);
  NodeMask receivers = 0;
  {
    HostLock lock(context.host);
    receivers = context.nodes.AllNodes() & ~TimeStampSources(context.nodes);
  }
  const PdoRequest request{TimeStampReceiveLayout(), pdoNumber, Identifier::TimeStamp, cobId};
  return WithAxes(context, ConfigureNodes(context, receivers, request, true), request, true);
}

StatusCode MapTimeStampRpdoOnAxes(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  const std::uint16_t cobId = StoreTimeStampCobId(context);
  return ConfigureAxes(context, {TimeStampReceiveLayout(), pdoNumber, Identifier::TimeStamp, cobId},
                       true);
}

StatusCode MapStateTpdoOnAxes(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  NodeMask chained = 0;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      const NodeObject* node = context.nodes.nodes[k];
      if (node != nullptr && node->axisCount != 0) chained |= NodeMask{1} << k;
    }
  }
  const PdoRequest request{AxisStateLayout(), pdoNumber, Identifier::OwnTransmit, 0};
  return WithAxes(context, ConfigureNodes(context, chained, request), request);
}

StatusCode MapFeedbackTpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  const NodeMask all = context.nodes.AllNodes();
  return ConfigureNodes(
      context, all, all, {FeedbackLayout(), pdoNumber, Identifier::OwnTransmit, 0}, false,
      [](NodeObject& node, std::uint16_t cobId) { node.feedbackTpdoCobId = cobId; });
}

StatusCode MapTimeStampTpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept {
  const std::uint16_t cobId = StoreTimeStampCobId(context);
  NodeMask sources = 0;
  NodeMask counted = 0;
  PdoLayout layout;
  {
    HostLock lock(context.host);
    sources = TimeStampSources(context.nodes);
    const std::uint32_t interpolated = context.host.InterpolatedNodeCount();
    counted = interpolated >= 32 ? ~NodeMask{0} : (NodeMask{1} << interpolated) - 1;
    layout = TimeStampTransmitLayout(context.nodes.timeStamp);
  }
  return ConfigureNodes(context, sources, counted,
                        {layout, pdoNumber, Identifier::TimeStamp, cobId}, false,
                        [](NodeObject&, std::uint16_t) {});
}

}  // namespace vantor::canopen
