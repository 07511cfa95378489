// The kernel's list of free-standing CAN objects: user PDOs that
// applications register, read and write, node guarding objects, and the
// objects of kernel functions (velocity-proportional output, handwheel
// gateway).
//
// Each cycle the list collects the answers of the objects that owned a
// message record, hands the free records 1 to 14 to the most overdue
// objects and judges whether every peripheral object is in order. Entries
// come from a fixed pool inside the list, so neither the cycle nor a command
// allocates. The list's mutex is `KernelData::canObjectListMutex`; every
// function here expects its caller to hold it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/exchange_buffer.h"
#include "common/status_code.h"

namespace vantor::canopen {

// Entry k (1 to 15) of a record table; entry 0 is not used.
using RecordFlagTable = std::array<std::uint32_t, common::kMessageRecordCount + 1>;

// Records the scheduler may hand out; record 15, the driver's receive
// store, never is.
inline constexpr std::uint32_t kFirstListRecord = 1;
inline constexpr std::uint32_t kLastListRecord = 14;

// How many entries the list can hold at once.
inline constexpr std::size_t kCanObjectPoolSize = 64;

// Consecutive failed exchanges after which an entry takes its failure code.
inline constexpr std::uint8_t kFailuresToFail = 3;

// Guarding entries start with this state byte so that the first answer with
// the toggle bit clear counts as toggled.
inline constexpr std::uint8_t kGuardingToggleBit = 0x80;
inline constexpr std::uint8_t kGuardingStateMask = 0x7F;
inline constexpr std::uint8_t kGuardingOperational = 0x05;

// One CAN object. Times are in the unit of the driver's elapsed-time field
// (microseconds).
struct CanObjectEntry {
  std::uint32_t direction = 0;  // 0 receive, else transmit
  std::uint32_t guarding = 0;   // node guarding object (receive, 1 byte)
  std::uint32_t active = 0;     // scheduled at all; set by the first read or write
  std::uint32_t scheduled = 0;  // owns a message record now
  // Time to the next exchange; falls by the elapsed time while idle; at or
  // below 0 the entry is due.
  std::int32_t countdown = 0;
  std::uint32_t nodeId = 0;  // owner node of a user entry
  std::uint16_t cobId = 0;
  std::uint16_t record = 0;  // while scheduled, else 0
  // Last received or next transmitted data; guarding: the last state byte.
  std::array<std::uint8_t, common::kCanDataSize> data{};
  std::uint8_t length = 0;  // 1 to 8
  // Not 0: received data are compared with `expected` under `mask`.
  std::uint32_t compare = 0;
  std::array<std::uint8_t, common::kCanDataSize> mask{};
  std::array<std::uint8_t, common::kCanDataSize> expected{};
  std::uint32_t done = 0;  // 1 once a frame was received or sent
  std::int32_t answerCountdown = 0;  // time left for the current exchange
  std::int32_t answerTimeout = 0;    // loaded into answerCountdown at hand-out
  std::int32_t period = 0;           // loaded into countdown after each exchange
  std::int32_t answerTime = 0;       // answerTimeout - answerCountdown at the last end
  std::uint8_t failures = 0;         // consecutive failed exchanges
  // The driver's status bit (controller error warning) at the last end.
  std::uint32_t statusBit = 0;
  // kKernelSuccess while in order; the failure code after the third failure.
  common::StatusCode result = common::kKernelSuccess;
  CanObjectEntry* next = nullptr;  // creation order

  bool IsTransmit() const noexcept { return direction != 0; }
  bool IsGuarding() const noexcept { return guarding != 0; }
  bool IsInOrder() const noexcept { return result == common::kKernelSuccess; }
};

// The fields keep their order; the entry is the kernel's own record and
// never crosses a process or the driver, so its padding is the compiler's.
static_assert(offsetof(CanObjectEntry, guarding) > offsetof(CanObjectEntry, direction));
static_assert(offsetof(CanObjectEntry, cobId) > offsetof(CanObjectEntry, nodeId));
static_assert(offsetof(CanObjectEntry, record) > offsetof(CanObjectEntry, cobId));
static_assert(offsetof(CanObjectEntry, data) > offsetof(CanObjectEntry, record));
static_assert(offsetof(CanObjectEntry, length) > offsetof(CanObjectEntry, data));
static_assert(offsetof(CanObjectEntry, compare) > offsetof(CanObjectEntry, length));
static_assert(offsetof(CanObjectEntry, expected) > offsetof(CanObjectEntry, mask));
static_assert(offsetof(CanObjectEntry, answerTime) > offsetof(CanObjectEntry, period));
static_assert(offsetof(CanObjectEntry, statusBit) > offsetof(CanObjectEntry, failures));
static_assert(offsetof(CanObjectEntry, next) > offsetof(CanObjectEntry, result));

// The CAN objects that kernel functions own and the identifiers they hold;
// the admission rules and the remove command protect them. Zero means none.
struct KernelCanObjects {
  // The identifier the initialisation record reserves while its flag is 1.
  std::uint16_t reservedCobId = 0;
  std::uint8_t reservedFlag = 0;
  // The handwheel gateway while it is linked: its node, its two PDO
  // identifiers and, third, its guarding identifier.
  std::uint32_t handwheelLinked = 0;
  std::uint8_t handwheelNodeId = 0;
  std::array<std::uint16_t, 3> handwheelCobIds{};
  // The velocity-proportional output's object while the output is on, and
  // the value it sends (filled before each send).
  std::uint32_t velocityOutputOn = 0;
  std::uint16_t velocityOutputCobId = 0;
  std::int32_t (*velocityOutputValue)(void* context) noexcept = nullptr;
  void* velocityOutputContext = nullptr;
  // The object of each node's peripheral function, in table order.
  std::array<std::uint16_t, 8> peripheralCobIds{};
};

// The entries' storage: a fixed pool with its own chain of unused entries.
class CanObjectPool {
 public:
  CanObjectPool() noexcept;
  CanObjectPool(const CanObjectPool&) = delete;
  CanObjectPool& operator=(const CanObjectPool&) = delete;

  // A zeroed entry, or null when all are taken.
  CanObjectEntry* Take() noexcept;
  // Back to the pool; an entry that is not the pool's is ignored.
  void Give(CanObjectEntry* entry) noexcept;
  std::size_t FreeCount() const noexcept { return freeCount_; }
  bool Owns(const CanObjectEntry* entry) const noexcept;

 private:
  std::array<CanObjectEntry, kCanObjectPoolSize> entries_{};
  CanObjectEntry* unused_ = nullptr;
  std::size_t freeCount_ = 0;
};

struct CanObjectList {
  // Non-zero: record k may be handed out.
  RecordFlagTable freeRecords{};
  // Non-zero: record k gets code 0 before the next scheduling.
  RecordFlagTable clearRecords{};
  CanObjectEntry* head = nullptr;
  // Cleared on the first fault and not set again by the list itself.
  std::uint32_t allInOrderLatched = 1;
  std::uint32_t allInOrderNow = 1;
  std::uint16_t firstFaultyCobId = 0;
  std::uint32_t faultCount = 0;
  KernelCanObjects kernelObjects{};
  CanObjectPool pool;

  CanObjectList() = default;
  CanObjectList(const CanObjectList&) = delete;
  CanObjectList& operator=(const CanObjectList&) = delete;
};

// What a new entry is made of (command 47 or a kernel function).
struct CanObjectParameters {
  std::uint32_t direction = 0;
  std::uint32_t guarding = 0;
  std::uint8_t nodeId = 0;
  std::uint16_t cobId = 0;
  std::uint8_t length = 0;
  std::uint32_t compare = 0;
  std::array<std::uint8_t, common::kCanDataSize> mask{};
  std::array<std::uint8_t, common::kCanDataSize> expected{};
  std::int32_t answerTimeout = 0;
  std::int32_t period = 0;
};

// Empties the list: every record free and none to clear, no entries, both
// in-order words 1, no fault noted; the kernel functions' objects cleared.
void ResetCanObjectList(CanObjectList& list) noexcept;

// A new inactive entry at the end of the list, or null when the pool is
// full. A guarding entry starts with the toggle bit set in its state byte.
CanObjectEntry* AppendCanObject(CanObjectList& list, const CanObjectParameters& parameters) noexcept;

CanObjectEntry* LastCanObject(CanObjectList& list) noexcept;
CanObjectEntry* FindCanObject(std::uint16_t cobId, CanObjectList& list) noexcept;
const CanObjectEntry* FindCanObject(std::uint16_t cobId, const CanObjectList& list) noexcept;

enum class KeepEntry { No, Yes };
// Unlinks the first entry with `cobId`; a scheduled entry's record is marked
// free and to clear. The entry goes back to the pool unless kept (the caller
// then owns it and gives it back). 1 when an entry was unlinked.
std::uint32_t RemoveCanObject(KeepEntry keep, std::uint16_t cobId, CanObjectList& list) noexcept;

// Every entry back to the pool, the records of scheduled ones marked free
// and to clear.
void FreeCanObjects(CanObjectList& list) noexcept;

}  // namespace vantor::canopen
