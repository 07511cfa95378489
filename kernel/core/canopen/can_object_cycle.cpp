#include "kernel/core/canopen/can_object_cycle.h"

#include <algorithm>
#include <limits>

#include "kernel/core/canopen/message_slots.h"

namespace vantor::canopen {

namespace {

namespace mr = common::message_record;

constexpr std::int32_t SaturatingSubtract(std::int32_t value, std::int32_t amount) noexcept {
  const std::int64_t difference = std::int64_t{value} - amount;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      difference, std::numeric_limits<std::int32_t>::min(),
      std::numeric_limits<std::int32_t>::max()));
}

// One more failed exchange; the third in a row gives the entry `failure`.
void CountFailure(CanObjectEntry& entry, common::StatusCode failure) noexcept {
  if (entry.failures < std::numeric_limits<std::uint8_t>::max()) ++entry.failures;
  if (entry.failures >= kFailuresToFail) entry.result = failure;
}

void Succeed(CanObjectEntry& entry) noexcept {
  entry.failures = 0;
  entry.result = common::kKernelSuccess;
}

// A guarding answer is in order when the node is operational and its
// toggle bit differs from the previous answer's.
void JudgeGuardingState(CanObjectEntry& entry, std::uint8_t state) noexcept {
  const bool operational = (state & kGuardingStateMask) == kGuardingOperational;
  const bool toggled = ((state ^ entry.data[0]) & kGuardingToggleBit) != 0;
  if (operational && toggled) {
    Succeed(entry);
  } else {
    CountFailure(entry, common::kKernelNmtError);
  }
  entry.data[0] = state;
}

// The answer of a remote request. False while the entry keeps waiting.
bool JudgeReceive(CanObjectEntry& entry, MessageRecordView record) noexcept {
  const std::uint8_t result = record.Get(mr::kResult);
  if (result == common::message_result::kNothingReceived) {
    if (entry.answerCountdown > 0) return false;
    CountFailure(entry, common::kKernelCanMessageTimeout);
    return true;
  }
  const std::uint8_t length = record.Get(mr::kLength);
  if (result != common::message_result::kDone || length != entry.length ||
      length > common::kCanDataSize) {
    CountFailure(entry, common::kKernelCanMessageInvalid);
    return true;
  }
  entry.done = 1;
  const auto data = record.GetBytes(mr::kData);
  if (entry.IsGuarding()) {
    JudgeGuardingState(entry, data[0]);
  } else {
    Succeed(entry);
    std::copy_n(data.begin(), length, entry.data.begin());
  }
  return true;
}

// The end of a send. False while the entry keeps waiting.
bool JudgeTransmit(CanObjectEntry& entry, MessageRecordView record) noexcept {
  const std::uint8_t result = record.Get(mr::kResult);
  if (result == common::message_result::kPending) {
    if (entry.answerCountdown > 0) return false;
    CountFailure(entry, common::kKernelCanMessageTimeout);
  } else if (result != common::message_result::kDone) {
    CountFailure(entry, common::kKernelCanMessageInvalid);
  } else {
    Succeed(entry);
    entry.done = 1;
  }
  return true;
}

void GiveBackRecord(CanObjectEntry& entry, CanObjectList& list, common::ExchangeBuffer& exchange,
                    bool nothingReceived) noexcept {
  list.freeRecords[entry.record] = 1;
  ReleaseRecord(exchange, entry.record);
  entry.scheduled = 0;
  entry.record = 0;
  // A receive entry that got no frame is due again at once.
  entry.countdown = nothingReceived ? 0 : entry.period;
  entry.answerTime = SaturatingSubtract(entry.answerTimeout, entry.answerCountdown);
  entry.statusBit = exchange.Get(common::exchange_buffer::kErrorWarning);
}

void ServeScheduledEntry(CanObjectEntry& entry, CanObjectList& list,
                         common::ExchangeBuffer& exchange, std::int32_t elapsed) noexcept {
  entry.answerCountdown = SaturatingSubtract(entry.answerCountdown, elapsed);
  auto record = RecordOf(exchange, entry.record);
  if (!record || entry.record > kLastListRecord) {
    // Not a record the list hands out: the entry is simply idle again.
    entry.scheduled = 0;
    entry.record = 0;
    return;
  }
  const bool nothingReceived =
      !entry.IsTransmit() &&
      record->Get(mr::kResult) == common::message_result::kNothingReceived;
  const common::StatusCode status = ExchangeStatus(exchange);
  bool ended = true;
  if (status != common::kDriverSuccess) {
    // The driver's fault is one failure of this exchange, which ends here.
    CountFailure(entry, status);
  } else if (entry.IsTransmit()) {
    ended = JudgeTransmit(entry, *record);
  } else {
    ended = JudgeReceive(entry, *record);
  }
  if (entry.IsGuarding() && !entry.IsInOrder()) {
    entry.failures = 0;
    entry.result = common::kKernelNmtError;
  }
  if (ended) GiveBackRecord(entry, list, exchange, nothingReceived);
}

// How far past its time an entry is, relative to its period, as a fraction
// that compares exactly.
struct Overdue {
  std::int64_t late;
  std::int64_t period;
};
Overdue OverdueOf(const CanObjectEntry& entry) noexcept {
  if (entry.period <= 0) return {0, 1};
  return {-std::int64_t{entry.countdown}, entry.period};
}
bool MoreOverdue(const Overdue& a, const Overdue& b) noexcept {
  return a.late * b.period > b.late * a.period;
}

bool IsIdleInOrder(const CanObjectEntry& entry) noexcept {
  return entry.active != 0 && entry.scheduled == 0 && entry.IsInOrder();
}

// Guarding entries first; then the most overdue; on a tie the earlier one.
CanObjectEntry* ChooseDueEntry(CanObjectList& list) noexcept {
  CanObjectEntry* chosen = nullptr;
  std::size_t n = 0;
  for (CanObjectEntry* entry = list.head; entry != nullptr && n < kCanObjectPoolSize;
       entry = entry->next, ++n) {
    if (!IsIdleInOrder(*entry) || entry->countdown > 0) continue;
    if (chosen == nullptr) {
      chosen = entry;
    } else if (entry->IsGuarding() != chosen->IsGuarding()) {
      if (entry->IsGuarding()) chosen = entry;
    } else if (MoreOverdue(OverdueOf(*entry), OverdueOf(*chosen))) {
      chosen = entry;
    }
  }
  return chosen;
}

std::uint32_t LowestFreeRecord(const CanObjectList& list) noexcept {
  for (std::uint32_t record = kFirstListRecord; record <= kLastListRecord; ++record) {
    if (list.freeRecords[record] != 0) return record;
  }
  return 0;
}

void FillVelocityOutput(CanObjectEntry& entry, const KernelCanObjects& owners) noexcept {
  if (owners.velocityOutputOn == 0 || entry.cobId != owners.velocityOutputCobId ||
      owners.velocityOutputValue == nullptr) {
    return;
  }
  const std::int64_t value = owners.velocityOutputValue(owners.velocityOutputContext);
  for (std::size_t k = 0; k < entry.length && k < entry.data.size(); ++k) {
    entry.data[k] = static_cast<std::uint8_t>((value >> (8 * k)) & 0xFF);
  }
}

void HandOut(CanObjectEntry& entry, std::uint32_t recordNumber, CanObjectList& list,
             common::ExchangeBuffer& exchange) noexcept {
  auto record = RecordOf(exchange, recordNumber);
  if (!record) return;
  list.freeRecords[recordNumber] = 0;
  entry.record = static_cast<std::uint16_t>(recordNumber);
  entry.answerCountdown = entry.answerTimeout;
  entry.scheduled = 1;
  CanFrame frame;
  frame.cobId = entry.cobId;
  if (entry.IsTransmit()) {
    FillVelocityOutput(entry, list.kernelObjects);
    frame.length = std::min<std::uint8_t>(entry.length, common::kCanDataSize);
    frame.data = entry.data;
    WriteRecord(*record, common::MessageCode::SendOnce, common::message_result::kPending, frame);
  } else {
    WriteRecord(*record, common::MessageCode::RemoteRequest,
                common::message_result::kNothingReceived, frame);
  }
}

}  // namespace

std::int32_t ElapsedTime(const common::ExchangeBuffer& exchange) noexcept {
  const std::uint32_t elapsed = exchange.Get(common::exchange_buffer::kCycleMicroseconds);
  return static_cast<std::int32_t>(
      std::min<std::uint32_t>(elapsed, std::numeric_limits<std::int32_t>::max()));
}

void ServeCanObjectList(CanObjectList& list, common::ExchangeBuffer& exchange) noexcept {
  for (std::uint32_t record = kFirstListRecord; record < list.clearRecords.size(); ++record) {
    if (list.clearRecords[record] == 0) continue;
    ReleaseRecord(exchange, record);
    list.clearRecords[record] = 0;
  }
  const std::int32_t elapsed = ElapsedTime(exchange);
  std::size_t n = 0;
  for (CanObjectEntry* entry = list.head; entry != nullptr && n < kCanObjectPoolSize;
       entry = entry->next, ++n) {
    if (entry->scheduled != 0) ServeScheduledEntry(*entry, list, exchange, elapsed);
  }
}

void ScheduleCanObjects(CanObjectList& list, common::ExchangeBuffer& exchange) noexcept {
  const std::int32_t elapsed = ElapsedTime(exchange);
  std::size_t n = 0;
  for (CanObjectEntry* entry = list.head; entry != nullptr && n < kCanObjectPoolSize;
       entry = entry->next, ++n) {
    if (IsIdleInOrder(*entry)) entry->countdown = SaturatingSubtract(entry->countdown, elapsed);
  }
  for (std::uint32_t handed = 0; handed < kLastListRecord; ++handed) {
    const std::uint32_t record = LowestFreeRecord(list);
    if (record == 0) return;
    CanObjectEntry* entry = ChooseDueEntry(list);
    if (entry == nullptr) return;
    HandOut(*entry, record, list, exchange);
  }
}

bool ReceivedDataDiffers(const CanObjectEntry& entry) noexcept {
  if (entry.IsTransmit() || entry.IsGuarding() || entry.done == 0) return false;
  const std::size_t length = std::min<std::size_t>(entry.length, entry.data.size());
  for (std::size_t k = 0; k < length; ++k) {
    if (((entry.data[k] ^ entry.expected[k]) & entry.mask[k]) != 0) return true;
  }
  return false;
}

void CheckCanObjectStates(std::uint32_t& peripheryObjectsInOrder, CanObjectList& list) noexcept {
  list.allInOrderNow = 1;
  list.firstFaultyCobId = 0;
  list.faultCount = 0;
  bool faultNoted = false;
  std::size_t n = 0;
  for (const CanObjectEntry* entry = list.head; entry != nullptr && n < kCanObjectPoolSize;
       entry = entry->next, ++n) {
    if (entry->active == 0 || entry->compare == 0) continue;
    if (entry->IsInOrder() && !ReceivedDataDiffers(*entry)) continue;
    list.allInOrderNow = 0;
    list.allInOrderLatched = 0;
    if (!faultNoted) list.firstFaultyCobId = entry->cobId;
    faultNoted = true;
    ++list.faultCount;
  }
  if (list.allInOrderNow == 0 || list.allInOrderLatched == 0) peripheryObjectsInOrder = 0;
}

}  // namespace vantor::canopen
