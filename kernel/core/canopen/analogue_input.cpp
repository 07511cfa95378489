#include "kernel/core/canopen/analogue_input.h"

#include <cmath>
#include <limits>

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/cob_id.h"
#include "kernel/core/canopen/pdo_config_step.h"
#include "kernel/core/canopen/pdo_layout.h"
#include "kernel/core/canopen/request_record.h"
#include "kernel/core/kernel_status.h"

namespace vantor::canopen {

namespace {

using common::StatusCode;
namespace pdo = pdo_mapping_request;
namespace an = analogue;

constexpr std::uint16_t kAnalogueInput = object::kAnalogueConversion;
constexpr std::uint8_t kOneByte = 1;
constexpr std::uint8_t kTwoBytes = 2;
constexpr std::uint8_t kFourBytes = 4;
constexpr std::uint16_t kFeedbackTpdo = 1;
// The A/D PDO goes out on request only; the feedback on every SYNC.
constexpr std::uint8_t kOnRequestType = 0xFD;
constexpr std::uint16_t kAnalogueInhibitTime = 300;
constexpr std::uint8_t kEverySyncType = 1;
constexpr std::uint16_t kFeedbackInhibitTime = 10;
constexpr std::int32_t kAreaLimit = 1024;
constexpr std::uint32_t kMaxRangeLimit = 0x7FFFFFFF;
constexpr std::uint16_t kMaxCycleRate = 32767;

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

bool HasSlave(ServiceContext& context, std::uint32_t nodeIndex) {
  HostLock lock(context.host);
  const NodeObject* node =
      nodeIndex < context.nodes.Count() ? context.nodes.nodes[nodeIndex] : nullptr;
  return node != nullptr && node->axisCount > 0;
}

// One value to the node, and to its slaves too when it has any.
StatusCode DownloadToNodeAndSlaves(ServiceContext& context, std::uint32_t nodeIndex, bool hasSlave,
                                   std::uint8_t sub, std::uint8_t size, std::uint32_t value) {
  if (hasSlave) {
    return SdoDownloadToNodeAxes(context, true, nodeIndex, kAnalogueInput, sub, size, value);
  }
  return SdoDownloadToNode(context, nodeIndex, kAnalogueInput, sub, size, value);
}

struct Layout {
  std::uint16_t pdoNumber = 0;
  std::uint8_t transmissionType = 0;
  std::uint16_t inhibitTime = 0;
  std::uint8_t entryCount = 0;
  std::array<std::uint32_t, 4> entries{};
};

// A transmit PDO of the node alone; its last result takes the request's.
StatusCode ConfigureTpdo(ServiceContext& context, std::uint32_t nodeIndex, const Layout& layout,
                         bool ownFeedbackId) {
  const NodeMask mask = NodeMask{1} << nodeIndex;
  const StatusCode run = RunOnNodes(
      context, mask, PdoConfigStep,
      [&](NodeObject& node, std::uint32_t) {
        RequestRecord& record = *node.request.requestRecord;
        record = RequestRecord{};
        record.Set(pdo::kDirection, 1u);
        record.Set(pdo::kPdoNumber, layout.pdoNumber);
        record.Set(pdo::kObjectCount, layout.entryCount);
        record.Set(pdo::kCobId, ownFeedbackId ? std::uint32_t{node.feedbackTpdoCobId}
                                              : MakeTpdoCobId(layout.pdoNumber, node.nodeId));
        record.Set(pdo::kTransmissionType, layout.transmissionType);
        record.Set(pdo::kInhibitTime, layout.inhibitTime);
        for (std::size_t i = 0; i < layout.entryCount; ++i) {
          record.Store<std::uint32_t>(pdo::kEntriesOffset + 4 * i, layout.entries[i]);
        }
      },
      pdo_config_entry::kIdentifierFirst);
  if (Failed(run)) return run;
  HostLock lock(context.host);
  NodeObject* node = context.nodes.nodes[nodeIndex];
  if (node == nullptr) return common::kKernelOperationFailed;
  node->request.lastResult = node->request.requestResult;
  return node->request.requestResult;
}

Layout FeedbackLayout(bool withRegulatorState) {
  Layout layout{kFeedbackTpdo,
                kEverySyncType,
                kFeedbackInhibitTime,
                3,
                {pdo::MappingEntry(object::kPositionActual, 0, 32),
                 pdo::MappingEntry(object::kStatusword, 0, 16),
                 pdo::MappingEntry(object::kDigitalInputs, 0, 8),
                 pdo::MappingEntry(kAnalogueInput, an::kRegulatorState, 8)}};
  if (withRegulatorState) layout.entryCount = 4;
  return layout;
}

}  // namespace

bool IsGearSharedWithAxes(const NodeObject& node) noexcept {
  for (std::uint32_t k = 0; k < node.axisCount && k < kMaxNodeAxes; ++k) {
    if (node.axes[k].gear.numerator != node.gear.numerator ||
        node.axes[k].gear.denominator != node.gear.denominator) {
      return false;
    }
  }
  return true;
}

RegulatorCoupling DescribeCoupling(const NodeObject& node) noexcept {
  RegulatorCoupling coupling;
  coupling.hasSlave = node.axisCount > 0;
  coupling.coupled = coupling.hasSlave && IsGearSharedWithAxes(node);
  coupling.gear = node.gear;
  return coupling;
}

RegulatorRange CheckRegulatorRange(std::int32_t range, const RegulatorCoupling& c) noexcept {
  if (!c.hasSlave) return {true, 1, 1};
  if (range < 0) return {};
  std::uint64_t scaled = static_cast<std::uint64_t>(range);
  if (c.coupled) {
    // The full product: a 32-bit one would wrap a large range into a small one.
    if (c.gear.denominator == 0) return {};
    scaled = scaled * c.gear.numerator / c.gear.denominator;
  }
  if (scaled > kRegulatorRangeLimit) return {};
  return {true, static_cast<std::uint8_t>(c.coupled ? 0 : 1),
          static_cast<std::uint16_t>(scaled / kRegulatorRangeSteps + 1)};
}

std::uint32_t RegulatorRangeLimit(const RegulatorCoupling& c) noexcept {
  if (!c.hasSlave) return kMaxRangeLimit;
  if (!c.coupled) return kRegulatorRangeLimit;
  if (c.gear.numerator == 0) return kMaxRangeLimit;
  // The whole product first: dividing before it would leave the limit one
  // short of what the range check takes (127 / 7 x 32767).
  const double limit = static_cast<double>(c.gear.denominator) * kRegulatorRangeLimit /
                       static_cast<double>(c.gear.numerator);
  // Held to the answer's range before it is converted.
  if (!(limit < static_cast<double>(kMaxRangeLimit))) return kMaxRangeLimit;
  return static_cast<std::uint32_t>(std::trunc(limit));
}

std::uint16_t RegulatorCycleRate(double cycleSeconds) noexcept {
  const double cycleMicroseconds = cycleSeconds * 1e6;
  if (!(cycleMicroseconds > 0.0)) return kMaxCycleRate;
  const double rate = std::trunc(1e6 / cycleMicroseconds);
  if (!(rate < kMaxCycleRate)) return kMaxCycleRate;
  if (rate < 1.0) return 1;
  return static_cast<std::uint16_t>(rate);
}

bool IsAreaValid(const RegulatorArea& a) noexcept {
  if (a.area[0] < -kAreaLimit || a.area[0] > kAreaLimit) return false;
  for (std::size_t i = 1; i < a.area.size(); ++i) {
    if (a.area[i] < 0 || a.area[i] > kAreaLimit) return false;
  }
  return a.response > 0;
}

StatusCode StartAnalogueConversion(ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  const bool hasSlave = HasSlave(context, nodeIndex);
  StatusCode r = SdoDownloadToNode(context, nodeIndex, kAnalogueInput, an::kCoupling, kOneByte,
                                   hasSlave ? an::kCouplingMaster : 0u);
  if (!Failed(r) && hasSlave) {
    r = SdoDownloadToNodeAxes(context, false, nodeIndex, kAnalogueInput, an::kCoupling, kOneByte,
                              an::kCouplingSlave);
  }
  if (Failed(r)) return r;
  const Layout layout{kAnalogueTpdo,
                      kOnRequestType,
                      kAnalogueInhibitTime,
                      3,
                      {pdo::MappingEntry(kAnalogueInput, an::kValue, 16),
                       pdo::MappingEntry(kAnalogueInput, an::kValid, 8),
                       pdo::MappingEntry(kAnalogueInput, an::kInRange, 8), 0}};
  if (r = ConfigureTpdo(context, nodeIndex, layout, false); Failed(r)) return r;
  r = SdoDownloadToNode(context, nodeIndex, kAnalogueInput, an::kStart, kOneByte, 0);
  if (Failed(r)) return r;
  return SdoDownloadToNode(context, nodeIndex, kAnalogueInput, an::kStart, kOneByte, 1);
}

StatusCode SwitchAnalogueTpdoOff(ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  return ResetNodeTpdo(context, nodeIndex, kAnalogueTpdo);
}

StatusCode StopAnalogueConversion(ServiceContext& context, std::uint32_t nodeIndex) noexcept {
  StatusCode r = SdoDownloadToNode(context, nodeIndex, kAnalogueInput, an::kStart, kOneByte, 0);
  if (!Failed(r)) r = SwitchAnalogueTpdoOff(context, nodeIndex);
  if (Failed(r)) return r;
  return DownloadToNodeAndSlaves(context, nodeIndex, HasSlave(context, nodeIndex), an::kCoupling,
                                 kOneByte, 0);
}

StatusCode WriteRegulatorArea(ServiceContext& context, std::uint32_t nodeIndex,
                              const RegulatorArea& area, bool hasSlave,
                              const RegulatorRange& range) noexcept {
  for (std::size_t i = 0; i < area.area.size(); ++i) {
    const StatusCode r = SdoDownloadToNode(context, nodeIndex, kAnalogueInput,
                                           static_cast<std::uint8_t>(an::kFirstArea + i), kTwoBytes,
                                           static_cast<std::uint16_t>(area.area[i]));
    if (Failed(r)) return r;
  }
  const std::uint16_t response =
      area.response < kMinimumResponse ? kMinimumResponse : area.response;
  StatusCode r =
      SdoDownloadToNode(context, nodeIndex, kAnalogueInput, an::kResponse, kTwoBytes, response);
  if (!Failed(r)) {
    r = SdoDownloadToNode(context, nodeIndex, kAnalogueInput, an::kRange, kFourBytes,
                          static_cast<std::uint32_t>(area.range));
  }
  if (!Failed(r)) {
    r = DownloadToNodeAndSlaves(context, nodeIndex, hasSlave, an::kGantryUncoupled, kOneByte,
                                range.uncoupled);
  }
  if (!Failed(r)) {
    r = DownloadToNodeAndSlaves(context, nodeIndex, hasSlave, an::kGantrySteps, kTwoBytes,
                                range.steps);
  }
  return r;
}

StatusCode SwitchRegulator(ServiceContext& context, std::uint32_t nodeIndex, bool on,
                           std::int32_t& demand) noexcept {
  StatusCode r =
      SdoDownloadToNode(context, nodeIndex, kAnalogueInput, an::kRegulatorOn, kOneByte, 0);
  if (!Failed(r)) r = ConfigureTpdo(context, nodeIndex, FeedbackLayout(on), true);
  if (Failed(r)) return r;
  if (on) {
    return SdoDownloadToNode(context, nodeIndex, kAnalogueInput, an::kRegulatorOn, kOneByte, 1);
  }
  std::uint32_t value = 0;
  r = SdoUploadFromNode(context, nodeIndex, object::kPositionDemand, 0, kFourBytes, value);
  if (!Failed(r)) demand = static_cast<std::int32_t>(value);
  return r;
}

StatusCode ReadRegulatorParameters(ServiceContext& context, std::uint32_t nodeIndex,
                                   RegulatorParameters& read) noexcept {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < kParameterSubs.size(); ++i) {
    const StatusCode r =
        SdoUploadFromNode(context, nodeIndex, kAnalogueInput, kParameterSubs[i], kTwoBytes, value);
    if (Failed(r)) return r;
    read.values[i] = static_cast<std::uint16_t>(value);
  }
  StatusCode r =
      SdoUploadFromNode(context, nodeIndex, kAnalogueInput, an::kResponse, kTwoBytes, value);
  if (Failed(r)) return r;
  read.response = static_cast<std::uint16_t>(value);
  r = SdoUploadFromNode(context, nodeIndex, kAnalogueInput, an::kRange, kFourBytes, value);
  if (!Failed(r)) read.range = value;
  return r;
}

StatusCode SwitchAnalogueFunctionsOff(ServiceContext& context) noexcept {
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    bool adActive = false;
    bool regulatorActive = false;
    bool hasSlave = false;
    {
      HostLock lock(context.host);
      const NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr) continue;
      adActive = node->adActive != 0;
      regulatorActive = node->regulatorActive != 0;
      hasSlave = node->axisCount > 0;
    }
    if (adActive) {
      const StatusCode r = SdoDownloadToNode(context, k, kAnalogueInput, an::kStart, kOneByte, 0);
      if (r == kernel::kCycleNotRunning) return r;
      HostLock lock(context.host);
      if (!Failed(r)) {
        context.nodes.nodes[k]->adActive = 0;
      } else {
        result = common::kKernelOperationFailed;
      }
    }
    if (regulatorActive) {
      const StatusCode r =
          DownloadToNodeAndSlaves(context, k, hasSlave, an::kRegulatorOn, kOneByte, 0);
      if (r == kernel::kCycleNotRunning) return r;
      HostLock lock(context.host);
      if (!Failed(r)) {
        context.nodes.nodes[k]->regulatorActive = 0;
      } else {
        result = common::kKernelOperationFailed;
      }
    }
  }
  return result;
}

}  // namespace vantor::canopen
