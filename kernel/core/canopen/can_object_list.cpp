#include "kernel/core/canopen/can_object_list.h"

#include <utility>

namespace vantor::canopen {

CanObjectPool::CanObjectPool() noexcept {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    it->next = unused_;
    unused_ = &*it;
  }
  freeCount_ = entries_.size();
}

CanObjectEntry* CanObjectPool::Take() noexcept {
  CanObjectEntry* entry = unused_;
  if (entry == nullptr) return nullptr;
  unused_ = entry->next;
  --freeCount_;
  *entry = CanObjectEntry{};
  return entry;
}

bool CanObjectPool::Owns(const CanObjectEntry* entry) const noexcept {
  if (entry == nullptr) return false;
  for (const CanObjectEntry& own : entries_) {
    if (&own == entry) return true;
  }
  return false;
}

void CanObjectPool::Give(CanObjectEntry* entry) noexcept {
  if (!Owns(entry)) return;
  *entry = CanObjectEntry{};
  entry->next = unused_;
  unused_ = entry;
  ++freeCount_;
}

namespace {

void ReleaseEntryRecord(CanObjectEntry& entry, CanObjectList& list) noexcept {
  if (entry.scheduled == 0) return;
  if (entry.record >= kFirstListRecord && entry.record < list.freeRecords.size()) {
    list.freeRecords[entry.record] = 1;
    list.clearRecords[entry.record] = 1;
  }
  entry.scheduled = 0;
  entry.record = 0;
}

}  // namespace

void ResetCanObjectList(CanObjectList& list) noexcept {
  FreeCanObjects(list);
  list.freeRecords.fill(1);
  list.freeRecords[0] = 0;
  list.clearRecords.fill(0);
  list.allInOrderLatched = 1;
  list.allInOrderNow = 1;
  list.firstFaultyCobId = 0;
  list.faultCount = 0;
  list.kernelObjects = KernelCanObjects{};
}

CanObjectEntry* AppendCanObject(CanObjectList& list,
                                const CanObjectParameters& parameters) noexcept {
  CanObjectEntry* entry = list.pool.Take();
  if (entry == nullptr) return nullptr;
  entry->direction = parameters.direction;
  entry->guarding = parameters.guarding;
  entry->nodeId = parameters.nodeId;
  entry->cobId = parameters.cobId;
  entry->length = parameters.length;
  entry->compare = parameters.compare;
  entry->mask = parameters.mask;
  entry->expected = parameters.expected;
  entry->answerTimeout = parameters.answerTimeout;
  entry->period = parameters.period;
  entry->result = common::kKernelSuccess;
  if (entry->IsGuarding()) entry->data[0] = kGuardingToggleBit;
  if (CanObjectEntry* last = LastCanObject(list)) {
    last->next = entry;
  } else {
    list.head = entry;
  }
  return entry;
}

CanObjectEntry* LastCanObject(CanObjectList& list) noexcept {
  CanObjectEntry* entry = list.head;
  // The chain holds at most the pool's entries; the bound keeps a damaged
  // chain from looping.
  for (std::size_t n = 0; entry != nullptr && entry->next != nullptr && n < kCanObjectPoolSize;
       ++n) {
    entry = entry->next;
  }
  return entry;
}

const CanObjectEntry* FindCanObject(std::uint16_t cobId, const CanObjectList& list) noexcept {
  std::size_t n = 0;
  for (const CanObjectEntry* entry = list.head; entry != nullptr && n < kCanObjectPoolSize;
       entry = entry->next, ++n) {
    if (entry->cobId == cobId) return entry;
  }
  return nullptr;
}

CanObjectEntry* FindCanObject(std::uint16_t cobId, CanObjectList& list) noexcept {
  return const_cast<CanObjectEntry*>(FindCanObject(cobId, std::as_const(list)));
}

std::uint32_t RemoveCanObject(KeepEntry keep, std::uint16_t cobId, CanObjectList& list) noexcept {
  CanObjectEntry* previous = nullptr;
  std::size_t n = 0;
  for (CanObjectEntry* entry = list.head; entry != nullptr && n < kCanObjectPoolSize;
       previous = entry, entry = entry->next, ++n) {
    if (entry->cobId != cobId) continue;
    if (previous != nullptr) {
      previous->next = entry->next;
    } else {
      list.head = entry->next;
    }
    entry->next = nullptr;
    ReleaseEntryRecord(*entry, list);
    if (keep == KeepEntry::No) list.pool.Give(entry);
    return 1;
  }
  return 0;
}

void FreeCanObjects(CanObjectList& list) noexcept {
  CanObjectEntry* entry = list.head;
  list.head = nullptr;
  for (std::size_t n = 0; entry != nullptr && n < kCanObjectPoolSize; ++n) {
    CanObjectEntry* next = entry->next;
    ReleaseEntryRecord(*entry, list);
    list.pool.Give(entry);
    entry = next;
  }
}

}  // namespace vantor::canopen
