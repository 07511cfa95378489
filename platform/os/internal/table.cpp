#include "platform/os/internal/table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/os/internal/process_liveness.h"
#include "platform/os/internal/wake_words.h"
#include "platform/os/runtime_dir.h"

namespace vantor::os::internal {
namespace {

struct MappedTable {
  SharedTable* table = nullptr;
  std::string directory;
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  OsError error = OsError::Ok;
};

// Identity of the calling process, refreshed in a forked child.
std::atomic<std::uint32_t> gProcessId{0};
std::atomic<std::uint64_t> gProcessStart{0};
std::atomic<std::uint32_t> gProcessSlot{kNoSlot};
thread_local std::uint32_t tThreadId = 0;

void ForgetIdentityInChild() {
  gProcessId.store(0);
  gProcessStart.store(0);
  gProcessSlot.store(kNoSlot);
  tThreadId = 0;
}

// A forked child is a process of its own: it registers afresh.
void EnsureForkHandler() {
  static const bool registered = ::pthread_atfork(nullptr, nullptr, ForgetIdentityInChild) == 0;
  (void)registered;
}

OsError InitialiseTable(SharedTable& table) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return OsError::SystemError;
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  const int result = pthread_mutex_init(&table.header.lock, &attributes);
  pthread_mutexattr_destroy(&attributes);
  if (result != 0) return OsError::SystemError;
  table.header.version = kTableVersion;
  table.header.nextSerial = 1;
  table.header.nextFileId = 1;
  table.header.nextToken = 1;
  // The magic goes last: a table with it is complete.
  std::atomic_ref<std::uint32_t>(table.header.magic).store(kTableMagic);
  return OsError::Ok;
}

void LockTable(SharedTable& table) {
  if (pthread_mutex_lock(&table.header.lock) == EOWNERDEAD) {
    pthread_mutex_consistent(&table.header.lock);
  }
}

void LockFile(int fd) {
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

std::uint32_t RegisterProcess(SharedTable& table, std::uint32_t pid, std::uint64_t start);
void LeaveNamespaceAtExit();

// Maps the namespace's table, making it when this is the first process.
// Runs under the table file's lock, which the last process to leave also
// holds while it removes the table: so a newcomer either finds the file
// still linked and registers itself in it before the lock is let go, or
// waits and makes a fresh one.
void MapTableUnderFileLock(MappedTable& mapped) {
  constexpr int kAttempts = 4;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    auto directory = RuntimeDirectory();
    if (!directory) {
      mapped.error = directory.error();
      return;
    }
    mapped.directory = *directory;
    mapped.path = mapped.directory + "/objects.table";
    const int fd = ::open(mapped.path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      if (errno == ENOENT) continue;  // the folder went with the last leaver
      mapped.error = OsError::SystemError;
      return;
    }
    LockFile(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      ::close(fd);
      mapped.error = OsError::SystemError;
      return;
    }
    if (info.st_nlink == 0) {
      ::close(fd);
      continue;  // removed by the last leaver while this one waited
    }
    void* memory = MAP_FAILED;
    if (static_cast<std::size_t>(info.st_size) == sizeof(SharedTable) ||
        (info.st_size == 0 && ::ftruncate(fd, sizeof(SharedTable)) == 0)) {
      memory = ::mmap(nullptr, sizeof(SharedTable), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    mapped.error = OsError::SystemError;
    if (memory != MAP_FAILED) {
      auto* table = static_cast<SharedTable*>(memory);
      mapped.error = OsError::Ok;
      if (table->header.magic != kTableMagic) mapped.error = InitialiseTable(*table);
      if (mapped.error == OsError::Ok && table->header.version != kTableVersion) {
        mapped.error = OsError::SystemError;
      }
      if (mapped.error == OsError::Ok) {
        mapped.table = table;
        mapped.device = info.st_dev;
        mapped.inode = info.st_ino;
        const std::uint32_t pid = CachedProcessId();
        LockTable(*table);
        gProcessSlot.store(RegisterProcess(*table, pid, gProcessStart.load()));
        pthread_mutex_unlock(&table->header.lock);
      } else {
        ::munmap(memory, sizeof(SharedTable));
      }
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return;
  }
  mapped.error = OsError::SystemError;
}

// Never destroyed: handles in static objects may close after exit began.
const MappedTable& Mapped() {
  static const MappedTable* mapped = [] {
    EnsureForkHandler();
    auto* made = new MappedTable();
    MapTableUnderFileLock(*made);
    if (made->table != nullptr) std::atexit(LeaveNamespaceAtExit);
    return made;
  }();
  return *mapped;
}

std::uint32_t FindRegisteredSlot(SharedTable& table, std::uint32_t pid, std::uint64_t start) {
  for (std::uint32_t p = 0; p < kMaxProcesses; ++p) {
    if (table.processes[p].pid == pid && table.processes[p].startTime == start) return p;
  }
  return kNoSlot;
}

std::uint32_t RegisterProcess(SharedTable& table, std::uint32_t pid, std::uint64_t start) {
  const std::uint32_t known = FindRegisteredSlot(table, pid, start);
  if (known != kNoSlot) return known;
  for (std::uint32_t p = 0; p < kMaxProcesses; ++p) {
    if (table.processes[p].pid == 0) {
      table.processes[p].pid = pid;
      table.processes[p].startTime = start;
      return p;
    }
  }
  return kNoSlot;
}

void FreeObject(SharedTable& table, std::uint32_t slot) {
  ObjectEntry& entry = table.objects[slot];
  if (entry.kind == static_cast<std::uint32_t>(ObjectKind::Mapping) && entry.fileId != 0) {
    ::unlink(MappingFilePath(entry.fileId).c_str());
  }
  for (std::uint32_t p = 0; p < kMaxProcesses; ++p) table.holders[p][slot] = HolderCell{};
  std::memset(&entry, 0, sizeof entry);
  table.names[slot][0] = '\0';
  while (table.header.highWater > 0 &&
         table.objects[table.header.highWater - 1].kind ==
             static_cast<std::uint32_t>(ObjectKind::None)) {
    --table.header.highWater;
  }
}

void Abandon(ObjectEntry& entry) {
  entry.ownerSlot = kNoSlot;
  entry.ownerPid = 0;
  entry.ownerTid = 0;
  entry.count = 0;
  entry.abandoned = 1;
}

void ClearProcess(SharedTable& table, std::uint32_t processSlot) {
  for (std::uint32_t slot = 0; slot < table.header.highWater; ++slot) {
    ObjectEntry& entry = table.objects[slot];
    const auto kind = static_cast<ObjectKind>(entry.kind);
    HolderCell& cell = table.holders[processSlot][slot];
    // Only what the process added beyond what it took is undone: counts it
    // took belonged to others, and giving them back would count a user
    // that already left.
    if (kind == ObjectKind::Semaphore && cell.semaphoreAdjustment > 0) {
      const std::int64_t undone =
          static_cast<std::int64_t>(entry.count) - cell.semaphoreAdjustment;
      entry.count = static_cast<std::int32_t>(
          std::clamp<std::int64_t>(undone, 0, static_cast<std::int64_t>(entry.maximum)));
    }
    if (kind == ObjectKind::Mutex && entry.ownerSlot == processSlot && entry.count > 0) {
      Abandon(entry);
    }
    if (kind == ObjectKind::Endpoint && entry.ownerSlot == processSlot) {
      entry.endpointClosed = 1;
    }
    const std::uint32_t held = cell.handles;
    cell = HolderCell{};
    if (held > 0 && kind != ObjectKind::None) {
      entry.totalHandles = entry.totalHandles > held ? entry.totalHandles - held : 0;
      if (entry.totalHandles == 0) FreeObject(table, slot);
    }
  }
  for (MutexWaiter& waiter : table.mutexWaiters) {
    if (waiter.used == 0 || waiter.processSlot != processSlot) continue;
    if (waiter.objectSlot < kMaxObjects && table.objects[waiter.objectSlot].queueCount > 0) {
      --table.objects[waiter.objectSlot].queueCount;
    }
    waiter.used = 0;
  }
  table.processes[processSlot] = ProcessEntry{};
}

void SweepDeadProcessesImpl(std::span<const std::uint32_t> onlyHoldersOf = {});

struct MutexOwnerSentinel {
  ~MutexOwnerSentinel() {
    TableLock lock;
    if (!lock.ok()) return;
    AbandonMutexesOf(lock, lock.processSlot(), CachedThreadId());
  }
};

}  // namespace

std::uint32_t CachedProcessId() {
  std::uint32_t pid = gProcessId.load(std::memory_order_relaxed);
  if (pid == 0) {
    EnsureForkHandler();
    pid = static_cast<std::uint32_t>(::getpid());
    gProcessStart.store(ProcessStartTime(pid).value_or(0));
    gProcessId.store(pid);
  }
  return pid;
}

std::uint32_t CachedThreadId() {
  if (tThreadId == 0) {
    EnsureForkHandler();
    tThreadId = static_cast<std::uint32_t>(::gettid());
  }
  return tThreadId;
}

TableLock::TableLock() {
  const MappedTable& mapped = Mapped();
  if (mapped.table == nullptr) {
    error_ = mapped.error;
    return;
  }
  const std::uint32_t pid = CachedProcessId();
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int result = pthread_mutex_lock(&mapped.table->header.lock);
    if (result == EOWNERDEAD) {
      pthread_mutex_consistent(&mapped.table->header.lock);
    } else if (result != 0) {
      error_ = OsError::SystemError;
      return;
    }
    SharedTable& table = *mapped.table;
    std::uint32_t slot = gProcessSlot.load(std::memory_order_relaxed);
    if (slot == kNoSlot || table.processes[slot].pid != pid) {
      slot = RegisterProcess(table, pid, gProcessStart.load());
      gProcessSlot.store(slot);
    }
    if (slot != kNoSlot) {
      table_ = &table;
      processSlot_ = slot;
      return;
    }
    // Every process entry is taken: clear away the dead and try once more.
    pthread_mutex_unlock(&table.header.lock);
    SweepDeadProcessesImpl();
  }
  error_ = OsError::LimitExceeded;
}

TableLock::~TableLock() {
  if (table_ == nullptr) return;
  PendingWakes wakes;
  if (changedAll_ || changedCount_ > 0) {
    CollectWakes(*table_, std::span<const std::uint32_t>(changedSlots_, changedCount_),
                 changedAll_, wakes);
  }
  pthread_mutex_unlock(&table_->header.lock);
  wakes.Issue();
}

void TableLock::Changed(std::uint32_t slot) {
  if (slot >= kMaxObjects) return;
  for (std::uint32_t i = 0; i < changedCount_; ++i) {
    if (changedSlots_[i] == slot) return;
  }
  if (changedCount_ == kTrackedChanges) {
    changedAll_ = true;
    return;
  }
  changedSlots_[changedCount_++] = slot;
}

void TableLock::ChangedAll() { changedAll_ = true; }

std::uint64_t HashName(std::string_view name) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001B3ull;
  }
  return hash;
}

std::uint32_t FindNamed(SharedTable& table, std::string_view name) {
  const std::uint64_t hash = HashName(name);
  for (std::uint32_t slot = 0; slot < table.header.highWater; ++slot) {
    const ObjectEntry& entry = table.objects[slot];
    if (entry.kind != 0 && (entry.flags & kFlagNamed) != 0 && entry.nameHash == hash &&
        entry.nameLength == name.size() &&
        std::memcmp(table.names[slot], name.data(), name.size()) == 0) {
      return slot;
    }
  }
  return kNoSlot;
}

std::uint32_t AllocateObject(SharedTable& table, std::uint32_t processSlot, ObjectKind kind,
                             std::string_view name) {
  if (name.size() >= kNameCapacity) return kNoSlot;
  for (std::uint32_t slot = 0; slot < kMaxObjects; ++slot) {
    ObjectEntry& entry = table.objects[slot];
    if (entry.kind != 0) continue;
    std::memset(&entry, 0, sizeof entry);
    entry.kind = static_cast<std::uint32_t>(kind);
    entry.serial = table.header.nextSerial++;
    entry.ownerSlot = kNoSlot;
    if (!name.empty()) {
      entry.flags |= kFlagNamed;
      entry.nameHash = HashName(name);
      entry.nameLength = static_cast<std::uint32_t>(name.size());
      std::memcpy(table.names[slot], name.data(), name.size());
      table.names[slot][name.size()] = '\0';
    }
    entry.totalHandles = 1;
    table.holders[processSlot][slot] = HolderCell{1, 0};
    if (slot >= table.header.highWater) table.header.highWater = slot + 1;
    return slot;
  }
  return kNoSlot;
}

ObjectEntry* Resolve(SharedTable& table, std::uint32_t slot, std::uint64_t serial,
                     ObjectKind kind) {
  if (slot >= kMaxObjects) return nullptr;
  ObjectEntry& entry = table.objects[slot];
  if (entry.kind == 0 || entry.serial != serial) return nullptr;
  if (kind != ObjectKind::None && entry.kind != static_cast<std::uint32_t>(kind)) return nullptr;
  return &entry;
}

void AddHandle(SharedTable& table, std::uint32_t processSlot, std::uint32_t slot) {
  ++table.holders[processSlot][slot].handles;
  ++table.objects[slot].totalHandles;
}

bool DropHandle(SharedTable& table, std::uint32_t processSlot, std::uint32_t slot) {
  HolderCell& cell = table.holders[processSlot][slot];
  if (cell.handles == 0) return false;
  --cell.handles;
  ObjectEntry& entry = table.objects[slot];
  if (entry.totalHandles > 0) --entry.totalHandles;
  if (entry.totalHandles == 0) FreeObject(table, slot);
  return true;
}

void AbandonMutexesOf(TableLock& lock, std::uint32_t processSlot, std::uint32_t tid) {
  SharedTable& table = lock.table();
  for (std::uint32_t slot = 0; slot < table.header.highWater; ++slot) {
    ObjectEntry& entry = table.objects[slot];
    if (entry.kind == static_cast<std::uint32_t>(ObjectKind::Mutex) &&
        entry.ownerSlot == processSlot && entry.ownerTid == tid && entry.count > 0) {
      Abandon(entry);
      lock.Changed(slot);
    }
  }
}

void NoteMutexOwner() { thread_local MutexOwnerSentinel sentinel; }

namespace {

bool HoldsAnyOf(const SharedTable& table, std::uint32_t processSlot,
                std::span<const std::uint32_t> objectSlots) {
  for (const std::uint32_t slot : objectSlots) {
    if (slot >= kMaxObjects) continue;
    const ObjectEntry& entry = table.objects[slot];
    if (table.holders[processSlot][slot].semaphoreAdjustment > 0) return true;
    if (entry.kind == static_cast<std::uint32_t>(ObjectKind::Mutex) && entry.count > 0 &&
        entry.ownerSlot == processSlot) {
      return true;
    }
  }
  return false;
}

// Processes first in the queue of one of these mutexes: a dead one would
// keep its turn, and everybody behind it, forever. (One further back is
// looked at once it is first.)
void MarkFirstQueuedOn(const SharedTable& table, std::span<const std::uint32_t> objectSlots,
                       bool (&queued)[kMaxProcesses]) {
  for (const std::uint32_t slot : objectSlots) {
    const std::uint32_t first = FirstWaiterOf(table, slot);
    if (first == kNoSlot) continue;
    const std::uint32_t processSlot = table.mutexWaiters[first].processSlot;
    if (processSlot < kMaxProcesses) queued[processSlot] = true;
  }
}

void SweepDeadProcessesImpl(std::span<const std::uint32_t> onlyHoldersOf) {
  struct Candidate {
    std::uint32_t slot;
    std::uint32_t pid;
    std::uint64_t startTime;
  };
  Candidate candidates[kMaxProcesses];
  std::uint32_t count = 0;
  SharedTable* table = Mapped().table;
  if (table == nullptr) return;
  const std::uint32_t self = CachedProcessId();
  // Liveness is read from /proc outside the lock; a process found dead is
  // cleared only if its entry still names the same process.
  auto lock = [table] {
    if (pthread_mutex_lock(&table->header.lock) == EOWNERDEAD) {
      pthread_mutex_consistent(&table->header.lock);
    }
  };
  lock();
  bool queued[kMaxProcesses] = {};
  if (!onlyHoldersOf.empty()) MarkFirstQueuedOn(*table, onlyHoldersOf, queued);
  for (std::uint32_t p = 0; p < kMaxProcesses; ++p) {
    const ProcessEntry& process = table->processes[p];
    if (process.pid != 0 && process.pid != self &&
        (onlyHoldersOf.empty() || queued[p] || HoldsAnyOf(*table, p, onlyHoldersOf))) {
      candidates[count++] = Candidate{p, process.pid, process.startTime};
    }
  }
  pthread_mutex_unlock(&table->header.lock);

  std::uint32_t dead = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!IsProcessAlive(candidates[i].pid, candidates[i].startTime)) candidates[dead++] = candidates[i];
  }
  if (dead == 0) return;
  lock();
  for (std::uint32_t i = 0; i < dead; ++i) {
    const ProcessEntry& process = table->processes[candidates[i].slot];
    if (process.pid == candidates[i].pid && process.startTime == candidates[i].startTime) {
      ClearProcess(*table, candidates[i].slot);
    }
  }
  PendingWakes wakes;
  BroadcastUnderLock(*table, wakes);
  pthread_mutex_unlock(&table->header.lock);
  wakes.Issue();
}

void LeaveNamespaceAtExit() {
  const MappedTable& mapped = Mapped();
  SharedTable* table = mapped.table;
  if (table == nullptr) return;
  SweepDeadProcessesImpl();
  const int fd = ::open(mapped.path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) LockFile(fd);
  LockTable(*table);
  // What this process still holds goes now, as it would at its death.
  const std::uint32_t slot = FindRegisteredSlot(*table, CachedProcessId(), gProcessStart.load());
  if (slot != kNoSlot) ClearProcess(*table, slot);
  gProcessSlot.store(kNoSlot);
  bool nobodyLeft = table->header.highWater == 0;
  for (const ProcessEntry& process : table->processes) nobodyLeft &= process.pid == 0;
  struct stat info {};
  const bool stillOurs = fd >= 0 && ::fstat(fd, &info) == 0 && info.st_nlink > 0 &&
                         info.st_dev == mapped.device && info.st_ino == mapped.inode;
  const bool remove = nobodyLeft && stillOurs;
  // The last one out takes the namespace's files along.
  if (remove) ::unlink(mapped.path.c_str());
  PendingWakes wakes;
  BroadcastUnderLock(*table, wakes);
  pthread_mutex_unlock(&table->header.lock);
  wakes.Issue();
  if (remove) ::rmdir(mapped.directory.c_str());
  if (fd >= 0) ::close(fd);
}

}  // namespace

namespace {

// The registered processes of a table, copied under its lock so that /proc
// is read without holding it.
struct RegisteredProcesses {
  ProcessEntry entries[kMaxProcesses];

  void CopyFrom(const SharedTable& table) { std::memcpy(entries, table.processes, sizeof entries); }
  bool SameAs(const SharedTable& table) const {
    return std::memcmp(entries, table.processes, sizeof entries) == 0;
  }
  bool AnyAlive() const {
    for (const ProcessEntry& process : entries) {
      if (process.pid != 0 && IsProcessAlive(process.pid, process.startTime)) return true;
    }
    return false;
  }
};

// With the table file locked: unlinks the table and the mapping files it
// names when it is a complete table whose registered processes have all
// ended. A table's maker holds the file lock until the table is complete,
// so an empty or unfinished table under this lock is one whose maker died.
// Anything else (a newer layout, a live user) is left alone.
void UnlinkTableIfAbandoned(int fd, const std::string& directory, const std::string& path) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_nlink == 0) return;
  if (info.st_size == 0) {
    ::unlink(path.c_str());
    return;
  }
  if (static_cast<std::size_t>(info.st_size) != sizeof(SharedTable)) return;
  void* memory = ::mmap(nullptr, sizeof(SharedTable), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) return;
  auto* table = static_cast<SharedTable*>(memory);
  if (std::atomic_ref<std::uint32_t>(table->header.magic).load() != kTableMagic) {
    ::unlink(path.c_str());
  } else if (table->header.version == kTableVersion) {
    RegisteredProcesses registered;
    LockTable(*table);
    registered.CopyFrom(*table);
    pthread_mutex_unlock(&table->header.lock);
    if (!registered.AnyAlive()) {
      LockTable(*table);
      // Newcomers register only under the file lock, which this process
      // holds; an entry that changed all the same means someone is here.
      if (registered.SameAs(*table)) {
        for (std::uint32_t slot = 0; slot < table->header.highWater && slot < kMaxObjects; ++slot) {
          const ObjectEntry& entry = table->objects[slot];
          if (entry.kind == static_cast<std::uint32_t>(ObjectKind::Mapping) && entry.fileId != 0) {
            ::unlink(MappingFilePathIn(directory, entry.fileId).c_str());
          }
        }
        ::unlink(path.c_str());
      }
      pthread_mutex_unlock(&table->header.lock);
    }
  }
  ::munmap(memory, sizeof(SharedTable));
}

}  // namespace

void RemoveTableIfAbandoned(const std::string& directory) {
  const std::string path = directory + "/objects.table";
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  LockFile(fd);
  UnlinkTableIfAbandoned(fd, directory, path);
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

void SweepDeadProcesses() { SweepDeadProcessesImpl(); }

void SweepHoldersOf(std::span<const std::uint32_t> objectSlots) {
  if (!objectSlots.empty()) SweepDeadProcessesImpl(objectSlots);
}

std::string MappingFilePathIn(const std::string& directory, std::uint64_t fileId) {
  return directory + "/mapping-" + std::to_string(fileId);
}

std::string MappingFilePath(std::uint64_t fileId) {
  return MappingFilePathIn(Mapped().directory, fileId);
}

}  // namespace vantor::os::internal
