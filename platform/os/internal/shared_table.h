// Layout of a namespace's object table, shared by every process of the
// namespace through one memory-mapped file.
//
// All fields are fixed-width and every offset is pinned, because processes
// built at different times may meet in one table; the version word keeps a
// process from working on a table of another layout. The table is only
// read or written under `lock`, a robust process-shared mutex, except for
// `generation`, the futex word that every state change bumps and that
// waiters sleep on.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace vantor::os::internal {

inline constexpr std::uint32_t kTableMagic = 0x42544F56;  // "VOTB"
inline constexpr std::uint32_t kTableVersion = 1;
inline constexpr std::uint32_t kMaxObjects = 1024;
inline constexpr std::uint32_t kMaxProcesses = 128;
inline constexpr std::uint32_t kNameCapacity = 1024;  // bytes incl. terminator
inline constexpr std::uint32_t kQueueDepth = 32;
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
//   mutex:     count = recursion depth, owner pid/tid, abandoned
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
  std::uint32_t generation;  // futex word
  std::uint32_t sleepers;    // threads asleep on generation
  std::uint64_t nextSerial;
  std::uint64_t nextFileId;
  std::uint32_t nextToken;
  std::uint32_t highWater;  // objects are only in [0, highWater)
  std::uint32_t reserved[6];
  pthread_mutex_t lock;
};
static_assert(offsetof(TableHeader, generation) == 8);
static_assert(offsetof(TableHeader, nextToken) == 32);
static_assert(offsetof(TableHeader, lock) == 64);
static_assert(sizeof(pthread_mutex_t) <= 64);

inline constexpr std::size_t kHeaderBytes = 128;
static_assert(sizeof(TableHeader) <= kHeaderBytes);

struct SharedTable {
  TableHeader header;
  unsigned char headerPad[kHeaderBytes - sizeof(TableHeader)];
  ProcessEntry processes[kMaxProcesses];
  ObjectEntry objects[kMaxObjects];
  HolderCell holders[kMaxProcesses][kMaxObjects];
  char names[kMaxObjects][kNameCapacity];
};
static_assert(offsetof(SharedTable, processes) == kHeaderBytes);
static_assert(offsetof(SharedTable, objects) == kHeaderBytes + 16 * kMaxProcesses);

}  // namespace vantor::os::internal
