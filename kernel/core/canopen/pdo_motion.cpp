#include "kernel/core/canopen/pdo_motion.h"

#include <array>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/pdo_config_step.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

namespace pdo = pdo_mapping_request;

constexpr std::uint8_t kWordBits = 16;
constexpr std::uint8_t kLongBits = 32;

// Raw frame with a little-endian value of `length` bytes on the node's
// receive PDO.
StatusCode SendOnPdo(ServiceContext& context, std::uint32_t nodeIndex, std::uint16_t pdoNumber,
                     std::uint8_t length, std::uint32_t value) noexcept {
  const NodeObject& node = *context.nodes.nodes[nodeIndex];
  std::array<std::uint8_t, 4> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  return SendRawFrame(context, nodeIndex, MakeRpdoCobId(pdoNumber, node.nodeId), length, bytes);
}

struct MotionValue {
  std::uint16_t index;
  std::uint32_t value;
};

// Each value mapped into the motion PDO and sent; the first failure ends.
StatusCode SendMotionValues(ServiceContext& context, std::uint32_t nodeIndex,
                            std::initializer_list<MotionValue> values) noexcept {
  const std::uint16_t motionPdo = context.nodes.nodes[nodeIndex]->motionRpdo;
  for (const MotionValue& value : values) {
    StatusCode step =
        MapObjectToRpdo(context, nodeIndex, motionPdo, kPdoOnReceipt, kLongBits, value.index, 0);
    if (step != common::kKernelSuccess) return step;
    step = SendOnPdo(context, nodeIndex, motionPdo, 4, value.value);
    if (step != common::kKernelSuccess) return step;
  }
  return common::kKernelSuccess;
}

// The controlword mapped into the control PDO, then each word sent.
StatusCode SendControlwords(ServiceContext& context, std::uint32_t nodeIndex,
                            std::initializer_list<std::uint16_t> words) noexcept {
  const std::uint16_t controlPdo = context.nodes.nodes[nodeIndex]->controlRpdo;
  StatusCode step = MapObjectToRpdo(context, nodeIndex, controlPdo, kPdoOnReceipt, kWordBits,
                                    object::kControlword, 0);
  for (std::uint16_t word : words) {
    if (step != common::kKernelSuccess) return step;
    step = SendOnPdo(context, nodeIndex, controlPdo, 2, word);
  }
  return step;
}

std::uint16_t StartWord(bool changeImmediately, bool absolute) noexcept {
  if (changeImmediately) return absolute ? 0x003F : 0x007F;
  return absolute ? 0x001F : 0x005F;
}

}  // namespace

StatusCode MapObjectToRpdo(ServiceContext& context, std::uint32_t nodeIndex, std::uint16_t pdo,
                           std::uint8_t transmissionType, std::uint8_t bits, std::uint16_t index,
                           std::uint8_t subindex) noexcept {
  const std::array<std::uint32_t, 1> entries{pdo::MappingEntry(index, subindex, bits)};
  return MapObjectsToRpdo(context, nodeIndex, pdo, transmissionType, entries);
}

StatusCode MapObjectsToRpdo(ServiceContext& context, std::uint32_t nodeIndex, std::uint16_t pdo,
                            std::uint8_t transmissionType,
                            std::span<const std::uint32_t> entries) noexcept {
  NodeObject* node = context.nodes.ByIndex(nodeIndex);
  if (node == nullptr || pdo < 1 || pdo > 4 || entries.empty() ||
      entries.size() > pdo::kMaxEntries) {
    return common::kKernelOperationFailed;
  }
  AddressingKeeper keeper(context);
  StatusCode result = common::kKernelSuccess;
  for (std::int32_t axis = -1; axis < static_cast<std::int32_t>(node->axisCount); ++axis) {
    const StatusCode run = RunOnNodes(
        context, NodeMask{1} << nodeIndex, PdoConfigStep,
        [&](NodeObject& n, auto) {
          SwitchToAxis(n, axis);
          RequestRecord& record = *n.request.requestRecord;
          record = RequestRecord{};
          record.Set(pdo::kDirection, 0);
          record.Set(pdo::kPdoNumber, pdo);
          record.Set(pdo::kObjectCount, static_cast<std::uint8_t>(entries.size()));
          record.Set(pdo::kMapped, 0);
          record.Set(pdo::kCobId, MakeRpdoCobId(pdo, n.nodeId));
          record.Set(pdo::kTransmissionType, transmissionType);
          for (std::size_t e = 0; e < entries.size(); ++e) {
            record.Store<std::uint32_t>(pdo::kEntriesOffset + 4 * e, entries[e]);
          }
        },
        pdo_config_entry::kIdentifierFirst);
    if (run != common::kKernelSuccess) return run;
    HostLock lock(context.host);
    const StatusCode requestResult = node->request.requestResult;
    if (axis < 0) {
      node->request.lastResult = requestResult;
    } else {
      node->axes[static_cast<std::size_t>(axis)].axisResult = requestResult;
    }
    if (requestResult != common::kKernelSuccess) result = common::kKernelOperationFailed;
  }
  return result;
}

StatusCode ProfilePositionMoveByPdo(ServiceContext& context, bool changeImmediately, bool absolute,
                                    std::uint32_t nodeIndex, std::uint32_t acceleration,
                                    std::uint32_t velocity, std::int32_t target) noexcept {
  if (context.nodes.ByIndex(nodeIndex) == nullptr) return common::kKernelOperationFailed;
  const StatusCode values =
      SendMotionValues(context, nodeIndex,
                       {{object::kProfileAcceleration, acceleration},
                        {object::kProfileVelocity, velocity},
                        {object::kEndVelocity, 0},
                        {object::kTargetPosition, static_cast<std::uint32_t>(target)}});
  if (values != common::kKernelSuccess) return values;
  return SendControlwords(context, nodeIndex,
                          {ds402::kEnableOperation, StartWord(changeImmediately, absolute)});
}

StatusCode ProfileVelocityMoveByPdo(ServiceContext& context, std::uint32_t nodeIndex,
                                    std::uint32_t acceleration, std::int32_t velocity) noexcept {
  if (context.nodes.ByIndex(nodeIndex) == nullptr) return common::kKernelOperationFailed;
  const StatusCode values =
      SendMotionValues(context, nodeIndex,
                       {{object::kProfileAcceleration, acceleration},
                        {object::kTargetVelocity, static_cast<std::uint32_t>(velocity)}});
  if (values != common::kKernelSuccess) return values;
  return SendControlwords(context, nodeIndex, {ds402::kEnableOperation});
}

}  // namespace vantor::canopen
