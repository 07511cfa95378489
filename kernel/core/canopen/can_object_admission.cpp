#include "kernel/core/canopen/can_object_admission.h"

#include <algorithm>

#include "kernel/core/canopen/canopen_constants.h"
#include "kernel/core/canopen/cob_id.h"

namespace vantor::canopen {

namespace {

constexpr std::uint16_t kNodeIdBits = 0x7F;
constexpr std::uint16_t kPdoCount = 4;

constexpr std::uint16_t BaseOf(std::uint32_t cobId) noexcept {
  return static_cast<std::uint16_t>(cobId & ~std::uint32_t{kNodeIdBits});
}
constexpr std::uint32_t IdOf(std::uint32_t cobId) noexcept { return cobId & kNodeIdBits; }

constexpr bool IsReservedBroadcast(std::uint32_t cobId) noexcept {
  return cobId == cob_base::kNmt || cobId == kSyncCobId || cobId == kTimeStampCobId;
}

// One of the four transmit or receive PDOs of some node.
constexpr bool IsPdoBase(std::uint16_t base) noexcept {
  for (std::uint16_t pdo = 1; pdo <= kPdoCount; ++pdo) {
    if (base == BaseOf(MakeTpdoCobId(pdo, 0)) || base == BaseOf(MakeRpdoCobId(pdo, 0))) {
      return true;
    }
  }
  return false;
}

// Emergency, guarding or one of the SDO pair of any node id 1 to 127.
constexpr bool IsAnyNodeServiceCobId(std::uint32_t cobId) noexcept {
  const std::uint16_t base = BaseOf(cobId);
  return IdOf(cobId) != 0 &&
         (base == cob_base::kEmergency || base == cob_base::kHeartbeat ||
          base == cob_base::kSdoResponse || base == cob_base::kSdoRequest);
}

// Emergency, guarding or a PDO of node `id`: never an application's.
constexpr bool IsNodeOwnedCobId(std::uint32_t cobId, std::uint32_t id) noexcept {
  if (IdOf(cobId) != id || id == 0) return false;
  const std::uint16_t base = BaseOf(cobId);
  return base == cob_base::kEmergency || base == cob_base::kHeartbeat || IsPdoBase(base);
}

// Calls `visit(id)` for every configured node's id, or with `axes` for the
// id of every axis of every configured node; stops at the first true.
template <typename Visit>
bool AnyConfiguredId(const NodeTable& nodes, bool axes, Visit visit) noexcept {
  for (std::uint32_t number = 1; number <= nodes.Count(); ++number) {
    const NodeObject* node = nodes.ByNumber(number);
    if (node == nullptr) continue;
    if (!axes) {
      if (visit(std::uint32_t{node->nodeId})) return true;
      continue;
    }
    const std::uint32_t axisCount =
        std::min<std::uint32_t>(node->axisCount, static_cast<std::uint32_t>(kMaxNodeAxes));
    for (std::uint32_t axis = 0; axis < axisCount; ++axis) {
      if (visit(node->axes[axis].nodeId)) return true;
    }
  }
  return false;
}

bool IsConfiguredNodeId(std::uint32_t id, const NodeTable& nodes) noexcept {
  return AnyConfiguredId(nodes, false, [id](std::uint32_t own) { return own == id; });
}

// The drive objects an application may write through a node's SDO server
// while the kernel runs the node.
struct WritableObject {
  std::uint16_t firstIndex;
  std::uint16_t lastIndex;
  std::int16_t subindex;  // kAnySubindex: every subindex
};
constexpr std::int16_t kAnySubindex = -1;
constexpr std::array<WritableObject, 16> kApplicationWritableObjects = {{
    {0x2043, 0x2043, 7},
    {0x2043, 0x2043, 10},
    {0x2043, 0x2043, 11},
    {0x2048, 0x204F, kAnySubindex},
    {0x27A1, 0x27A4, kAnySubindex},
    {0x27B1, 0x27B4, kAnySubindex},
    {0x27C1, 0x27C4, kAnySubindex},
    {0x27D1, 0x27D4, kAnySubindex},
    {0x60F6, 0x60F6, kAnySubindex},
    {0x60F9, 0x60F9, kAnySubindex},
    {0x60FB, 0x60FB, kAnySubindex},
    {0x2056, 0x2056, kAnySubindex},
    {0x607D, 0x607D, kAnySubindex},
    {0x2058, 0x2058, kAnySubindex},
    {object::kDriveOptions, object::kDriveOptions, object::kDriveOptionSubindex},
    {object::kDigitalOutputs, object::kDigitalOutputs, 0},
}};

bool IsApplicationWritable(std::uint16_t index, std::uint8_t subindex) noexcept {
  return std::any_of(kApplicationWritableObjects.begin(), kApplicationWritableObjects.end(),
                     [&](const WritableObject& object) {
                       return index >= object.firstIndex && index <= object.lastIndex &&
                              (object.subindex == kAnySubindex || object.subindex == subindex);
                     });
}

// Byte 0 of a download request, specifier bits only.
constexpr std::uint8_t kDownloadInitiate = 0x20;

enum class Verdict { NoMatch, Refuse, Admit, AdmitKernelNode };

// A frame on node `id`'s SDO request identifier.
Verdict JudgeNodeSdoRequest(const CanRequestFrame& frame, std::uint32_t id) noexcept {
  if (frame.length == 0) return Verdict::AdmitKernelNode;
  const std::uint8_t specifier = frame.data[0] & sdo::kSpecifierMask;
  if (frame.answerCobId != MakeSdoResponseCobId(id)) {
    return specifier == sdo::kAbort ? Verdict::AdmitKernelNode : Verdict::Refuse;
  }
  switch (specifier) {
    case sdo::kUploadInitiate:
    case sdo::kUploadSegment:
    case sdo::kAbort:
      return Verdict::AdmitKernelNode;
    case kDownloadInitiate: {
      const auto index = static_cast<std::uint16_t>(frame.data[1] | (frame.data[2] << 8));
      return IsApplicationWritable(index, frame.data[3]) ? Verdict::AdmitKernelNode
                                                         : Verdict::Refuse;
    }
    default:
      return Verdict::Refuse;
  }
}

// The rules of the identifiers of one set of node ids (the nodes, or the
// axes they carry).
Verdict JudgeAgainstIds(const CanRequestFrame& frame, const NodeTable& nodes, bool axes) noexcept {
  const bool withAnswer = frame.length != 0;
  if (AnyConfiguredId(nodes, axes, [&](std::uint32_t id) {
        return IsNodeOwnedCobId(frame.cobId, id) ||
               (withAnswer && IsNodeOwnedCobId(frame.answerCobId, id));
      })) {
    return Verdict::Refuse;
  }
  Verdict verdict = Verdict::NoMatch;
  if (AnyConfiguredId(nodes, axes, [&](std::uint32_t id) {
        if (frame.cobId != MakeSdoRequestCobId(id)) return false;
        verdict = JudgeNodeSdoRequest(frame, id);
        return true;
      })) {
    return verdict;
  }
  if (withAnswer && AnyConfiguredId(nodes, axes, [&](std::uint32_t id) {
        return frame.answerCobId == MakeSdoResponseCobId(id);
      })) {
    return Verdict::Refuse;
  }
  return Verdict::NoMatch;
}

CanRequestAdmission FromVerdict(Verdict verdict) noexcept {
  return {verdict != Verdict::Refuse, verdict == Verdict::AdmitKernelNode};
}

}  // namespace

std::uint32_t IsNodeIdInUse(std::uint32_t nodeId, const NodeTable& nodes) noexcept {
  return AnyConfiguredId(nodes, true, [nodeId](std::uint32_t id) { return id == nodeId; }) ? 1
                                                                                           : 0;
}

std::uint32_t IsUserCobIdFree(std::uint32_t guarding, std::uint32_t nodeId, std::uint32_t cobId,
                              const NodeTable& nodes, const CanObjectList& list) noexcept {
  if (IsReservedBroadcast(cobId) || cobId > kHighestCobId) return 0;
  if (nodeId < kLowestNodeId || nodeId > kHighestNodeId) return 0;
  if (IsConfiguredNodeId(nodeId, nodes) || IsNodeIdInUse(nodeId, nodes) != 0) return 0;
  if (guarding == 0) {
    if (IsAnyNodeServiceCobId(cobId)) return 0;
    if (IdOf(cobId) != 0 && IdOf(cobId) != nodeId && IsPdoBase(BaseOf(cobId))) return 0;
  } else if (cobId != MakeHeartbeatCobId(nodeId)) {
    return 0;
  }
  const auto cob = static_cast<std::uint16_t>(cobId);
  if (FindCanObject(cob, list) != nullptr) return 0;
  const KernelCanObjects& owners = list.kernelObjects;
  if (owners.handwheelLinked != 0 &&
      std::find(owners.handwheelCobIds.begin(), owners.handwheelCobIds.end(), cob) !=
          owners.handwheelCobIds.end()) {
    return 0;
  }
  return 1;
}

CanRequestAdmission CheckApplicationCanRequest(const CanRequestFrame& frame, bool cncInitialised,
                                               const NodeTable& nodes,
                                               const CanObjectList& list) noexcept {
  if (!cncInitialised) return {true, false};
  if (frame.cobId == cob_base::kNmt) {
    // Byte 1 names the node; 0, every node, stays the application's.
    return {!IsConfiguredNodeId(frame.data[1], nodes), false};
  }
  const bool withAnswer = frame.length != 0;
  if (frame.cobId == kSyncCobId || frame.cobId == kTimeStampCobId) return {};
  if (withAnswer && IsReservedBroadcast(frame.answerCobId)) return {};

  const Verdict onNodes = JudgeAgainstIds(frame, nodes, false);
  if (onNodes != Verdict::NoMatch) return FromVerdict(onNodes);
  if (FindCanObject(frame.cobId, list) != nullptr ||
      (withAnswer && FindCanObject(frame.answerCobId, list) != nullptr)) {
    return {};
  }
  const Verdict onAxes = JudgeAgainstIds(frame, nodes, true);
  return FromVerdict(onAxes == Verdict::NoMatch ? Verdict::Admit : onAxes);
}

}  // namespace vantor::canopen
