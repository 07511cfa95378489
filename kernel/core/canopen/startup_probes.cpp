#include "kernel/core/canopen/startup_probes.h"

#include "kernel/core/canopen/axis_services.h"
#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/gantry_homing_check.h"

namespace vantor::canopen {

using common::StatusCode;

namespace {

constexpr std::uint8_t kOneByte = 1;

bool Failed(StatusCode result) noexcept { return result != common::kKernelSuccess; }

// Reads `index` sub `subindex` on node k and its axes for every node that
// `takesPart`, and hands `use` the node and whether all its drives have
// the object (under the kernel data lock). A failed read ends the loop
// with its result.
template <typename TakesPart, typename Use>
StatusCode ProbeEachNode(ServiceContext& context, std::uint16_t index, std::uint8_t subindex,
                         TakesPart&& takesPart, Use&& use) noexcept {
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    {
      HostLock lock(context.host);
      if (!takesPart(*node)) continue;
    }
    bool supported = false;
    const StatusCode read = SdoUploadFromNodeAxes(context, k, index, subindex, kOneByte, supported);
    if (Failed(read)) return read;
    HostLock lock(context.host);
    use(*node, supported);
  }
  return common::kKernelSuccess;
}

constexpr auto kEveryNode = [](const NodeObject&) { return true; };

}  // namespace

StatusCode ReadMakerObject2047Support(ServiceContext& context) noexcept {
  const StatusCode first =
      ProbeEachNode(context, object::kMakerRunEnable, 0, kEveryNode,
                    [](NodeObject& node, bool supported) { node.has2047 = supported ? 1 : 0; });
  if (Failed(first)) return first;
  return ProbeEachNode(
      context, object::kMakerRunEnable, 1, [](const NodeObject& node) { return node.has2047 != 0; },
      [](NodeObject& node, bool supported) {
        if (supported) node.has2047 = 0;
      });
}

StatusCode ReadAnalogueSupport(ServiceContext& context) noexcept {
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    bool supported = false;
    const StatusCode read =
        SdoUploadFromNodeAxes(context, k, object::kAnalogueConversion, 1, kOneByte, supported);
    if (read == kernel::kCycleNotRunning) return read;
    if (Failed(read)) result = common::kKernelOperationFailed;
    HostLock lock(context.host);
    node->adSupported = !Failed(read) && supported ? 1 : 0;
  }
  return result;
}

StatusCode ReadHomeShiftSupport(ServiceContext& context) noexcept {
  return ProbeEachNode(
      context, object::kHomeShift, 1, kEveryNode,
      [](NodeObject& node, bool supported) { node.homeShiftCapable = supported ? 1 : 0; });
}

StatusCode ReadGantryHomingObjects(ServiceContext& context) noexcept {
  return GantryHomingCheck(context).Run();
}

StatusCode CheckStopOnInputCapability(ServiceContext& context) noexcept {
  {
    HostLock lock(context.host);
    context.nodes.stopOnInputCapable = 1;
  }
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    if (context.nodes.nodes[k] == nullptr) continue;
    bool supported = false;
    const StatusCode read =
        SdoUploadFromNodeAxes(context, k, object::kStopOnInput, 1, kOneByte, supported);
    if (Failed(read) || !supported) {
      HostLock lock(context.host);
      context.nodes.stopOnInputCapable = 0;
      return read;
    }
  }
  return common::kKernelSuccess;
}

StatusCode ReadInputCapabilities(ServiceContext& context) noexcept {
  if (context.nodes.Count() == 0) return common::kKernelSuccess;
  {
    HostLock lock(context.host);
    for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
      if (NodeObject* node = context.nodes.nodes[k]) node->inputCapabilities = 0;
    }
  }
  SdoRecords records;
  records.fill(MakeSdoRecord(object::kDriveOptions, object::kInputPortModeSubindex, kOneByte));
  const StatusCode read = SdoUploadFromNodes(context, context.nodes.AllNodes(), records);
  if (read == kernel::kCycleNotRunning) return read;
  HostLock lock(context.host);
  StatusCode result = common::kKernelSuccess;
  for (std::uint32_t k = 0; k < context.nodes.Count(); ++k) {
    NodeObject* node = context.nodes.nodes[k];
    if (node == nullptr) continue;
    if (!Failed(node->request.requestResult)) {
      if (records[k].Get(sdo_request::kValue) == 1) {
        node->inputCapabilities |= kInputCapabilityInput4;
      }
      continue;
    }
    if (node->request.requestRecord->Get(sdo_request::kObjectMissing) == 1) continue;
    result = common::kKernelOperationFailed;
  }
  return result;
}

}  // namespace vantor::canopen
