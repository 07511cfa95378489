#include "kernel/core/canopen/pdo_config_step.h"

#include "kernel/core/canopen/slot_sdo.h"

namespace vantor::canopen {

namespace {

namespace pdo = pdo_mapping_request;

constexpr std::uint8_t kCobIdSub = 1;
constexpr std::uint8_t kTypeSub = 2;
constexpr std::uint8_t kInhibitSub = 3;
constexpr std::uint8_t kEventTimerSub = 5;

// The steps that check the write framed before them.
enum Step : std::int32_t {
  kCheckCobId = 4,
  kCheckInhibit = 5,
  kCheckEventTimer = 7,
  kCheckMappingCleared = 8,
  kCheckEntry = 9,
  kCheckCount = 10,
  kCheckType = 11,
};

struct Download {
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  std::uint8_t size = 0;
  std::uint32_t value = 0;
};

bool IsTransmit(const RequestRecord& record) noexcept { return record.Get(pdo::kDirection) != 0; }
std::uint16_t Communication(const RequestRecord& record) noexcept {
  return PdoCommunicationIndex(IsTransmit(record), record.Get(pdo::kPdoNumber));
}
std::uint16_t Mapping(const RequestRecord& record) noexcept {
  return PdoMappingIndex(IsTransmit(record), record.Get(pdo::kPdoNumber));
}
std::uint32_t Entry(const RequestRecord& record, std::uint8_t k) noexcept {
  return record.Load<std::uint32_t>(pdo::kEntriesOffset + 4 * (k - 1)).value_or(0);
}

// The write a checking step waits for.
Download Pending(std::int32_t step, const RequestRecord& record) noexcept {
  switch (step) {
    case kCheckType:
      return {Communication(record), kTypeSub};
    case kCheckCobId:
      return {Communication(record), kCobIdSub};
    case kCheckInhibit:
      return {Communication(record), kInhibitSub};
    case kCheckEventTimer:
      return {Communication(record), kEventTimerSub};
    case kCheckMappingCleared:
    case kCheckCount:
      return {Mapping(record), 0};
    case kCheckEntry:
      return {Mapping(record), record.Get(pdo::kMapped)};
    default:
      return {};
  }
}

// The mapping loop: the next entry, or the count once all are written.
Download NextMapping(RequestRecord& record, std::int32_t& next) noexcept {
  const std::uint8_t count = record.Get(pdo::kObjectCount);
  const std::uint8_t mapped = record.Get(pdo::kMapped);
  if (mapped >= count) {
    next = kCheckCount;
    return {Mapping(record), 0, 1, count};
  }
  const auto entry = static_cast<std::uint8_t>(mapped + 1);
  record.Set(pdo::kMapped, entry);
  next = kCheckEntry;
  return {Mapping(record), entry, 4, Entry(record, entry)};
}

// The write that follows `step` (a checked step or an entry), and the
// step that checks it.
Download NextDownload(std::int32_t step, RequestRecord& record, std::int32_t& next) noexcept {
  switch (step) {
    case pdo_config_entry::kIdentifierFirst:
      next = kCheckCobId;
      return {Communication(record), kCobIdSub, 4, record.Get(pdo::kCobId)};
    case kCheckCobId:
      if (IsTransmit(record)) {
        next = kCheckInhibit;
        return {Communication(record), kInhibitSub, 2, record.Get(pdo::kInhibitTime)};
      }
      next = kCheckMappingCleared;
      return {Mapping(record), 0, 1, 0};
    case kCheckInhibit:
      next = kCheckEventTimer;
      return {Communication(record), kEventTimerSub, 2, record.Get(pdo::kEventTimer)};
    case kCheckEventTimer:
      next = kCheckMappingCleared;
      return {Mapping(record), 0, 1, 0};
    case kCheckMappingCleared:
    case kCheckEntry:
      return NextMapping(record, next);
    case kCheckCount:
      next = kCheckType;
      return {Communication(record), kTypeSub, 1, record.Get(pdo::kTransmissionType)};
    default:
      next = 0;
      return {};
  }
}

bool IsUsable(const RequestRecord& record) noexcept {
  const std::uint16_t number = record.Get(pdo::kPdoNumber);
  return number >= 1 && number <= 4 && record.Get(pdo::kObjectCount) <= pdo::kMaxEntries;
}

}  // namespace

std::uint16_t PdoCommunicationIndex(bool transmit, std::uint16_t pdo) noexcept {
  return static_cast<std::uint16_t>((transmit ? 0x1800 : 0x1400) + pdo - 1);
}

std::uint16_t PdoMappingIndex(bool transmit, std::uint16_t pdo) noexcept {
  return static_cast<std::uint16_t>((transmit ? 0x1A00 : 0x1600) + pdo - 1);
}

void PdoConfigStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept {
  NodeObject* node = SteppedNode(cycle, nodeNumber);
  if (node == nullptr) return;
  RequestRecord& record = *node->request.requestRecord;
  const std::int32_t step = node->request.step;
  if (!IsUsable(record)) {
    FinishNodeRequestWith(*node, common::kKernelCanMessageInvalid);
    return;
  }
  if (step != pdo_config_entry::kIdentifierFirst) {
    const Download pending = Pending(step, record);
    if (pending.index == 0) {
      FinishNodeRequestWith(*node, common::kKernelCanMessageInvalid);
      return;
    }
    if (AwaitSlotDownload(cycle, *node, pending.index, pending.subindex) != CheckState::Done) {
      return;
    }
    if (node->request.requestResult != common::kKernelSuccess || step == kCheckType) {
      FinishNodeRequest(*node);
      return;
    }
  }
  std::int32_t next = 0;
  const Download download = NextDownload(step, record, next);
  if (next == 0 || !FrameSlotDownload(cycle, *node, download.index, download.subindex,
                                      download.size, download.value)) {
    FinishNodeRequestWith(*node, common::kKernelCanMessageInvalid);
    return;
  }
  node->request.step = next;
}

}  // namespace vantor::canopen
