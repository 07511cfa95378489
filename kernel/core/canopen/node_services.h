// Services that run a request on one node's slot or on a set of nodes at
// once and wait for the cycle to finish it, and the bookkeeping around
// them: node addressing, per-node and per-axis results.
//
// Every service arms its slots under the kernel data lock, waits without
// it, and finds the cycle stopped as kCycleNotRunning (0xC9100008). A node
// failure stays in the node's last result and is summarised as
// kKernelOperationFailed (0xC913000D). The calling handler holds the node
// mutexes, so no other service arms the same slots meanwhile.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/node_object.h"
#include "kernel/core/canopen/service_host.h"
#include "kernel/core/kernel_status.h"

namespace vantor::canopen {

// The 8-byte record of the masked SDO services (`sdo_request` fields).
using SdoRecord = common::ByteRecord<sdo_request::kRecordLength>;
static_assert(sizeof(SdoRecord) == 8);
// One record per node, in table order.
using SdoRecords = std::array<SdoRecord, kMaxNodes>;

SdoRecord MakeSdoRecord(std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                        std::uint32_t value = 0) noexcept;

// ---- Running step functions on slots ----------------------------------------------
namespace detail {
struct ArmedNodes {
  std::array<NodeObject*, kMaxNodes> nodes{};
  std::uint32_t count = 0;
};
// Waits for the armed slots, then looks at the cycle under the lock. A
// cycle that ended leaves no slot armed behind it.
common::StatusCode AwaitArmed(ServiceContext& context, const ArmedNodes& armed) noexcept;
}  // namespace detail

struct EveryNode {
  constexpr bool operator()(const NodeObject&) const noexcept { return true; }
};

// Arms `step` (from `startStep`) on every node of `mask` that `takesPart`
// after `prepare(node, k)` has filled its request record, and waits until
// the cycle has finished them all. kKernelSuccess, or kCycleNotRunning
// before arming or after waking.
template <typename Prepare, typename Filter = EveryNode>
common::StatusCode RunOnNodes(ServiceContext& context, NodeMask mask, NodeStepFunction step,
                              Prepare&& prepare, std::int32_t startStep = 1,
                              Filter takesPart = Filter{}) noexcept {
  detail::ArmedNodes armed;
  {
    HostLock lock(context.host);
    if (!context.host.IsCycleRunning()) return kernel::kCycleNotRunning;
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      NodeObject* node = context.nodes.nodes[k];
      if (node == nullptr || (mask & (NodeMask{1} << k)) == 0 || !takesPart(*node)) continue;
      prepare(*node, k);
      // The request frames its own exchanges in the node's records: until
      // they are armed for the feedback again, the cycle must not read
      // their answers as the drive's.
      node->cyclicExchange = 0;
      ArmNodeRequest(*node, step, startStep);
      armed.nodes[armed.count++] = node;
    }
  }
  return detail::AwaitArmed(context, armed);
}

// ---- Single node (0-based node index) -----------------------------------------------
common::StatusCode SdoUploadFromNode(ServiceContext& context, std::uint32_t nodeIndex,
                                     std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                                     std::uint32_t& value) noexcept;
common::StatusCode SdoDownloadToNode(ServiceContext& context, std::uint32_t nodeIndex,
                                     std::uint16_t index, std::uint8_t subindex, std::uint8_t size,
                                     std::uint32_t value) noexcept;
common::StatusCode SendRawFrame(ServiceContext& context, std::uint32_t nodeIndex,
                                std::uint16_t cobId, std::uint8_t length,
                                std::span<const std::uint8_t> data) noexcept;

// ---- Node masks ------------------------------------------------------------------------
// Each masked node uploads its record's object; the value comes back into
// its record, or 1 in its first word when the object does not exist.
common::StatusCode SdoUploadFromNodes(ServiceContext& context, NodeMask mask,
                                      SdoRecords& records) noexcept;
// With `copyLastResult` each node's last result takes its request result.
common::StatusCode SdoDownloadToNodes(ServiceContext& context, bool copyLastResult, NodeMask mask,
                                      const SdoRecords& records) noexcept;

// ---- Addressing --------------------------------------------------------------------------
struct SdoAddress {
  std::uint16_t requestCobId = 0;
  std::uint16_t responseCobId = 0;
};
using NodeAddressing = std::array<SdoAddress, kMaxNodes>;

void SaveNodeAddressing(ServiceContext& context, NodeAddressing& saved) noexcept;
void RestoreNodeAddressing(ServiceContext& context, const NodeAddressing& saved) noexcept;

// Points the node's slot at axis `axis` (0-based), or leaves it on the node
// itself for -1. False when the node has no such axis. The caller holds the
// kernel data lock.
bool SwitchToAxis(NodeObject& node, std::int32_t axis) noexcept;
bool HasAxis(const NodeObject& node, std::int32_t axis) noexcept;

// Saves every node's SDO identifiers and puts them back whatever way the
// service leaves.
class AddressingKeeper {
 public:
  explicit AddressingKeeper(ServiceContext& context) noexcept : context_(context) {
    SaveNodeAddressing(context_, saved_);
  }
  AddressingKeeper(const AddressingKeeper&) = delete;
  AddressingKeeper& operator=(const AddressingKeeper&) = delete;
  ~AddressingKeeper() { RestoreNodeAddressing(context_, saved_); }

 private:
  ServiceContext& context_;
  NodeAddressing saved_{};
};

// ---- Results --------------------------------------------------------------------------------
// Every node's last result := its request result; with `clearEnables` a
// failed node loses its run enable (flag N) in both rows.
common::StatusCode CollectNodeResults(ServiceContext& context, bool clearEnables) noexcept;
void ClearAxisResults(ServiceContext& context, bool takeLock) noexcept;
// Every node that has axis `axis`: axis result := request result.
common::StatusCode CollectAxisResults(ServiceContext& context, bool mark,
                                      std::int32_t axis) noexcept;
common::StatusCode CheckAxisResults(ServiceContext& context, std::int32_t axis) noexcept;
common::StatusCode CheckAllAxisResults(ServiceContext& context) noexcept;
// Masked nodes that have the axis (all masked nodes for -1): the axis
// result, or for -1 the last result, := request result.
common::StatusCode CollectMaskedResults(ServiceContext& context, bool mark, NodeMask mask,
                                        std::int32_t axis) noexcept;
common::StatusCode CombineResults(common::StatusCode first, common::StatusCode second) noexcept;

// The node's or the axis's request record (axis -1: the node's), or null.
RequestRecord* GetRequestRecord(NodeTable& nodes, std::uint32_t nodeIndex,
                                std::int32_t axis) noexcept;

}  // namespace vantor::canopen
