// Layout of a namespace's object table, shared by every process of the
// namespace through one memory-mapped file.
//
// All fields are fixed-width and every offset is pinned, because processes
// built at different times may meet in one table; the version word keeps a
// process from working on a table of another layout. The table is only
// read or written under `lock`, a robust process-shared mutex, except for
// the futex words that waiters sleep on: one per object (bumped when that
// object changes), one per queued mutex waiter (bumped when it is that
// waiter's turn) and `broadcast` (bumped when a change may concern anyone,
// such as the clean-up after a dead process).
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace vantor::os::internal {

inline constexpr std::uint32_t kTableMagic = 0x42544F56;  // "VOTB"
inline constexpr std::uint32_t kTableVersion = 2;
inline constexpr std::uint32_t kMaxObjects = 1024;
inline constexpr std::uint32_t kMaxProcesses = 128;
inline constexpr std::uint32_t kNameCapacity = 1024;  // bytes incl. terminator
inline constexpr std::uint32_t kQueueDepth = 32;
inline constexpr std::uint32_t kMaxMutexWaiters = 256;
inline constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

// ObjectEntry::flags
inline constexpr std::uint32_t kFlagNamed = 1u << 0;
inline constexpr std::uint32_t kFlagManualReset = 1u << 1;
inline constexpr std::uint32_t kFlagChildProcess = 1u << 2;
inline constexpr std::uint32_t kFlagTerminated = 1u << 3;

struct QueuedCommand {
  std::uint32_t code;
  std::uint32_t parameter;
  std::uint64_t sequence;
};
static_assert(sizeof(QueuedCommand) == 16);

// One object. Fields are shared between kinds where their meaning allows:
//   event:     signalled
//   mutex:     count = recursion depth, owner pid/tid, abandoned,
//              queueCount = waiters queued for it (in mutexWaiters)
//   semaphore: count, maximum
//   mapping:   size, fileId (names the backing file)
//   thread:    signalled (ended), exitCode/exitKnown
//   process:   ownerPid = the process, startTime, signalled (ended),
//              exitCode/exitKnown, terminateCode
//   endpoint:  ownerSlot (process that runs the loop), token, queue
struct ObjectEntry {
  std::uint32_t kind;
  std::uint32_t flags;
  std::uint64_t serial;
  std::uint64_t nameHash;
  std::uint32_t nameLength;
  std::uint32_t totalHandles;
  std::uint32_t signalled;
  std::int32_t count;
  std::int32_t maximum;
  std::uint32_t ownerPid;
  std::uint32_t ownerTid;
  std::uint32_t abandoned;
  std::uint64_t size;
  std::uint64_t fileId;
  std::uint64_t startTime;
  std::uint32_t exitCode;
  std::uint32_t exitKnown;
  std::uint32_t terminateCode;
  std::uint32_t ownerSlot;
  std::uint32_t token;
  std::uint32_t queueHead;
  std::uint32_t queueCount;
  std::uint32_t quitRequested;
  std::uint64_t postedSequence;
  std::uint64_t handledSequence;
  std::uint32_t quitCode;
  std::uint32_t endpointClosed;
  QueuedCommand queue[kQueueDepth];
};
static_assert(offsetof(ObjectEntry, kind) == 0);
static_assert(offsetof(ObjectEntry, serial) == 8);
static_assert(offsetof(ObjectEntry, nameHash) == 16);
static_assert(offsetof(ObjectEntry, totalHandles) == 28);
static_assert(offsetof(ObjectEntry, signalled) == 32);
static_assert(offsetof(ObjectEntry, ownerPid) == 44);
static_assert(offsetof(ObjectEntry, size) == 56);
static_assert(offsetof(ObjectEntry, startTime) == 72);
static_assert(offsetof(ObjectEntry, token) == 96);
static_assert(offsetof(ObjectEntry, postedSequence) == 112);
static_assert(offsetof(ObjectEntry, queue) == 136);
static_assert(sizeof(ObjectEntry) == 136 + 16 * kQueueDepth);

struct ProcessEntry {
  std::uint32_t pid;  // 0: free
  std::uint32_t reserved;
  std::uint64_t startTime;  // clock ticks after boot, guards against pid reuse
};
static_assert(sizeof(ProcessEntry) == 16);

// Per process and object: handles held, and semaphore counts added less
// counts taken (undone at the process's end only when above zero).
struct HolderCell {
  std::uint32_t handles;
  std::int32_t semaphoreAdjustment;
};
static_assert(sizeof(HolderCell) == 8);

struct TableHeader {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint32_t broadcast;   // futex word every waiter watches
  std::uint32_t nextTicket;  // arrival order of mutex waiters
  std::uint64_t nextSerial;
  std::uint64_t nextFileId;
  std::uint32_t nextToken;
  std::uint32_t highWater;  // objects are only in [0, highWater)
  std::uint32_t reserved[6];
  pthread_mutex_t lock;
};
static_assert(offsetof(TableHeader, broadcast) == 8);
static_assert(offsetof(TableHeader, nextTicket) == 12);
static_assert(offsetof(TableHeader, nextToken) == 32);
static_assert(offsetof(TableHeader, lock) == 64);
static_assert(sizeof(pthread_mutex_t) <= 64);

inline constexpr std::size_t kHeaderBytes = 128;
static_assert(sizeof(TableHeader) <= kHeaderBytes);

// Futex word of one object: bumped on every change of the object that may
// satisfy a waiter; `sleepers` spares the wake-up call when nobody sleeps;
// `waiterCpu` (CPU number + 1, 0: none yet) tells a changer where the last
// waiter of the object ran, so that it knows whether that one will answer
// from another CPU.
struct ObjectWaitWord {
  std::uint32_t sequence;
  std::uint32_t sleepers;
  std::uint32_t waiterCpu;
  std::uint32_t reserved;
};
static_assert(offsetof(ObjectWaitWord, sleepers) == 4);
static_assert(offsetof(ObjectWaitWord, waiterCpu) == 8);
static_assert(sizeof(ObjectWaitWord) == 16);

// A thread queued for a mutex. Mutex waiters are served in the order of
// their tickets: a free mutex goes to the earliest queued waiter, and only
// that waiter is woken, through its own word.
struct MutexWaiter {
  std::uint32_t used;
  std::uint32_t objectSlot;
  std::uint32_t processSlot;
  std::uint32_t threadId;
  std::uint32_t ticket;
  std::uint32_t turn;  // futex word of this waiter
};
static_assert(offsetof(MutexWaiter, objectSlot) == 4);
static_assert(offsetof(MutexWaiter, ticket) == 16);
static_assert(offsetof(MutexWaiter, turn) == 20);
static_assert(sizeof(MutexWaiter) == 24);

struct SharedTable {
  TableHeader header;
  unsigned char headerPad[kHeaderBytes - sizeof(TableHeader)];
  ProcessEntry processes[kMaxProcesses];
  ObjectEntry objects[kMaxObjects];
  HolderCell holders[kMaxProcesses][kMaxObjects];
  char names[kMaxObjects][kNameCapacity];
  ObjectWaitWord waitWords[kMaxObjects];
  MutexWaiter mutexWaiters[kMaxMutexWaiters];
};
static_assert(offsetof(SharedTable, processes) == kHeaderBytes);
static_assert(offsetof(SharedTable, objects) == kHeaderBytes + 16 * kMaxProcesses);
static_assert(offsetof(SharedTable, holders) ==
              offsetof(SharedTable, objects) + sizeof(ObjectEntry) * kMaxObjects);
static_assert(offsetof(SharedTable, names) ==
              offsetof(SharedTable, holders) + sizeof(HolderCell) * kMaxProcesses * kMaxObjects);
static_assert(offsetof(SharedTable, waitWords) ==
              offsetof(SharedTable, names) + std::size_t{kNameCapacity} * kMaxObjects);
static_assert(offsetof(SharedTable, mutexWaiters) ==
              offsetof(SharedTable, waitWords) + sizeof(ObjectWaitWord) * kMaxObjects);
static_assert(sizeof(SharedTable) ==
              offsetof(SharedTable, mutexWaiters) + sizeof(MutexWaiter) * kMaxMutexWaiters);

}  // namespace vantor::os::internal
