#include "platform/os/internal/table.h"

#include <fcntl.h>
#include <sched.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/os/internal/process_liveness.h"
#include "platform/os/runtime_dir.h"

namespace vantor::os::internal {
namespace {

constexpr std::chrono::nanoseconds kSpinBeforeSleep{20'000};
// After a look that found nothing, the next 2^n - 1 waits of the thread
// sleep at once (n grows with every fruitless look, up to this cap).
constexpr std::uint32_t kMaxSpinBackOff = 6;

std::atomic<std::uint64_t> gSleeps{0};
std::atomic<std::uint64_t> gSpins{0};
std::atomic<std::uint64_t> gWakeCalls{0};

void FutexWake(std::uint32_t* word, int count) {
  gWakeCalls.fetch_add(1, std::memory_order_relaxed);
  ::syscall(SYS_futex, word, FUTEX_WAKE, count, nullptr, nullptr, 0);
}

std::atomic_ref<std::uint32_t> Word(std::uint32_t& word) {
  return std::atomic_ref<std::uint32_t>(word);
}

// Wake-ups found under the lock and made after it is let go.
struct PendingWakes {
  static constexpr std::uint32_t kCapacity = 16;
  std::uint32_t* all[kCapacity] = {};  // wake every sleeper
  std::uint32_t* one[kCapacity] = {};  // wake one queued waiter
  std::uint32_t allCount = 0;
  std::uint32_t oneCount = 0;
  bool broadcast = false;
  std::uint32_t* broadcastWord = nullptr;

  void Issue() const {
    if (broadcast) FutexWake(broadcastWord, INT_MAX);
    for (std::uint32_t i = 0; i < allCount; ++i) FutexWake(all[i], INT_MAX);
    for (std::uint32_t i = 0; i < oneCount; ++i) FutexWake(one[i], 1);
  }
};

bool TicketBefore(std::uint32_t a, std::uint32_t b) {
  return static_cast<std::int32_t>(a - b) < 0;
}

// The earliest queued waiter of a mutex, or kNoSlot.
std::uint32_t FirstWaiterOf(const SharedTable& table, std::uint32_t objectSlot) {
  std::uint32_t first = kNoSlot;
  if (objectSlot >= kMaxObjects || table.objects[objectSlot].queueCount == 0) return first;
  for (std::uint32_t w = 0; w < kMaxMutexWaiters; ++w) {
    const MutexWaiter& waiter = table.mutexWaiters[w];
    if (waiter.used != 0 && waiter.objectSlot == objectSlot &&
        (first == kNoSlot || TicketBefore(waiter.ticket, table.mutexWaiters[first].ticket))) {
      first = w;
    }
  }
  return first;
}

// Under the lock: moves the words of what changed and notes whom to wake.
void CollectWakes(SharedTable& table, std::span<const std::uint32_t> slots, bool all,
                  PendingWakes& wakes) {
  if (all || slots.size() > PendingWakes::kCapacity) {
    Word(table.header.broadcast).fetch_add(1);
    wakes.broadcast = true;
    wakes.broadcastWord = &table.header.broadcast;
    return;
  }
  for (const std::uint32_t slot : slots) {
    ObjectWaitWord& word = table.waitWords[slot];
    Word(word.sequence).fetch_add(1);
    if (Word(word.sleepers).load() > 0) wakes.all[wakes.allCount++] = &word.sequence;
    const ObjectEntry& entry = table.objects[slot];
    if (entry.kind == static_cast<std::uint32_t>(ObjectKind::Mutex) && entry.count == 0) {
      const std::uint32_t first = FirstWaiterOf(table, slot);
      if (first != kNoSlot) {
        Word(table.mutexWaiters[first].turn).fetch_add(1);
        wakes.one[wakes.oneCount++] = &table.mutexWaiters[first].turn;
      }
    }
  }
}

// Every waiter looks again: after clean-ups that touch many objects.
void BroadcastUnderLock(SharedTable& table, PendingWakes& wakes) {
  CollectWakes(table, {}, true, wakes);
}

// Tells the processor that this is a spin, to spare the sibling thread.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

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

void SweepDeadProcesses() { SweepDeadProcessesImpl(); }

void SweepHoldersOf(std::span<const std::uint32_t> objectSlots) {
  if (!objectSlots.empty()) SweepDeadProcessesImpl(objectSlots);
}

std::uint32_t DrawTicket(SharedTable& table) { return table.header.nextTicket++; }

std::uint32_t QueueForMutex(TableLock& lock, std::uint32_t objectSlot, std::uint32_t ticket) {
  SharedTable& table = lock.table();
  if (objectSlot >= kMaxObjects) return kNoSlot;
  for (std::uint32_t w = 0; w < kMaxMutexWaiters; ++w) {
    MutexWaiter& waiter = table.mutexWaiters[w];
    if (waiter.used != 0) continue;
    // The turn word keeps counting: a late wake-up meant for the entry's
    // previous user finds it moved and is only a spurious one.
    waiter.used = 1;
    ++table.objects[objectSlot].queueCount;
    waiter.objectSlot = objectSlot;
    waiter.processSlot = lock.processSlot();
    waiter.threadId = CachedThreadId();
    waiter.ticket = ticket;
    return w;
  }
  return kNoSlot;
}

void LeaveMutexQueue(TableLock& lock, std::uint32_t waiter) {
  if (waiter >= kMaxMutexWaiters) return;
  MutexWaiter& entry = lock.table().mutexWaiters[waiter];
  if (entry.used == 0) return;
  const std::uint32_t objectSlot = entry.objectSlot;
  entry.used = 0;
  if (objectSlot < kMaxObjects && lock.table().objects[objectSlot].queueCount > 0) {
    --lock.table().objects[objectSlot].queueCount;
  }
  // It may have been woken for its turn and not taken it.
  if (objectSlot < kMaxObjects && lock.table().objects[objectSlot].count == 0) {
    lock.Changed(objectSlot);
  }
}

bool HasMutexTurn(const SharedTable& table, std::uint32_t objectSlot, std::uint32_t waiter) {
  const std::uint32_t first = FirstWaiterOf(table, objectSlot);
  return first == kNoSlot || first == waiter;
}

std::uint32_t QueuedWaitersOf(const SharedTable& table, std::uint32_t objectSlot) {
  return objectSlot < kMaxObjects ? table.objects[objectSlot].queueCount : 0;
}

std::uint32_t UsableCpuCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  return static_cast<std::uint32_t>(CPU_COUNT(&set));
}

WaitCounters ReadWaitCounters() {
  return WaitCounters{gSleeps.load(), gSpins.load(), gWakeCalls.load()};
}

TableWatch::TableWatch(SharedTable& table) : table_(&table) {
  words_[0] = &table.header.broadcast;
  seen_[0] = Word(table.header.broadcast).load();
  count_ = 1;
}

void TableWatch::WatchObject(std::uint32_t slot) {
  if (slot >= kMaxObjects || count_ == kMaxWatchedWords) return;
  ObjectWaitWord& word = table_->waitWords[slot];
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (words_[i] == &word.sequence) return;
  }
  words_[count_] = &word.sequence;
  seen_[count_] = Word(word.sequence).load();
  sleepers_[count_] = &word.sleepers;
  ++count_;
}

void TableWatch::WatchTurn(std::uint32_t waiter) {
  if (waiter >= kMaxMutexWaiters || count_ == kMaxWatchedWords) return;
  std::uint32_t& turn = table_->mutexWaiters[waiter].turn;
  words_[count_] = &turn;
  seen_[count_] = Word(turn).load();
  ++count_;
}

namespace {

// Per thread: how many coming waits sleep without looking first, and how
// far the last fruitless looks pushed that back.
thread_local std::uint32_t tSpinSkips = 0;
thread_local std::uint32_t tSpinBackOff = 0;

// A look before sleeping pays only when the other side runs at the same
// time on another CPU; with one CPU for this thread it would only keep the
// other side from running, a whole time slice long.
bool ShouldSpin() {
  if (tSpinSkips > 0) {
    --tSpinSkips;
    return false;
  }
  return UsableCpuCount() > 1;
}

void NoteSpin(bool found) {
  if (found) {
    tSpinBackOff = 0;
    return;
  }
  if (tSpinBackOff < kMaxSpinBackOff) ++tSpinBackOff;
  tSpinSkips = (1u << tSpinBackOff) - 1;
}

#ifndef FUTEX2_SIZE_U32
constexpr unsigned kFutex2SizeU32 = 0x02;
#else
constexpr unsigned kFutex2SizeU32 = FUTEX2_SIZE_U32;
#endif
#ifndef SYS_futex_waitv
constexpr long kSysFutexWaitv = 449;
#else
constexpr long kSysFutexWaitv = SYS_futex_waitv;
#endif

// Without the vectored wait (an old kernel) a waiter sleeps on the
// broadcast word in short slices and looks again after each.
constexpr std::uint64_t kFallbackSliceNs = 1'000'000;

}  // namespace

bool TableWatch::Sleep(std::uint64_t timeoutNs, bool maySpin) {
  auto moved = [this] {
    for (std::uint32_t i = 0; i < count_; ++i) {
      if (Word(*words_[i]).load() != seen_[i]) return true;
    }
    return false;
  };
  if (moved()) return true;
  // A request handshake is usually answered within microseconds: looking
  // for the change a little while saves two sleeps and wake-ups per round
  // trip, and the futex below still catches every change after the look.
  const std::uint64_t spinNs = static_cast<std::uint64_t>(kSpinBeforeSleep.count());
  if (maySpin && timeoutNs > spinNs && ShouldSpin()) {
    gSpins.fetch_add(1, std::memory_order_relaxed);
    const auto spinEnd = std::chrono::steady_clock::now() + kSpinBeforeSleep;
    bool found = false;
    while (!found && std::chrono::steady_clock::now() < spinEnd) {
      found = moved();
      if (!found) CpuRelax();
    }
    NoteSpin(found);
    if (found) return true;
    if (timeoutNs != kWaitForever) timeoutNs -= spinNs;
  }
  // Counted before the futex compares the word: a change made after the
  // count is seen either by the futex (word moved) or by the changer
  // (sleepers above zero, so it wakes us).
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (sleepers_[i] != nullptr) Word(*sleepers_[i]).fetch_add(1);
  }
  gSleeps.fetch_add(1, std::memory_order_relaxed);
  futex_waitv waiters[kMaxWatchedWords] = {};
  for (std::uint32_t i = 0; i < count_; ++i) {
    waiters[i].val = seen_[i];
    waiters[i].uaddr = reinterpret_cast<std::uintptr_t>(words_[i]);
    waiters[i].flags = kFutex2SizeU32;
  }
  timespec deadline{};
  bool timedOut = false;
  if (timeoutNs != kWaitForever) {
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const std::uint64_t end = static_cast<std::uint64_t>(deadline.tv_sec) * 1'000'000'000u +
                              static_cast<std::uint64_t>(deadline.tv_nsec) + timeoutNs;
    deadline.tv_sec = static_cast<time_t>(end / 1'000'000'000u);
    deadline.tv_nsec = static_cast<long>(end % 1'000'000'000u);
  }
  const long result =
      ::syscall(kSysFutexWaitv, waiters, count_, 0u,
                timeoutNs == kWaitForever ? nullptr : &deadline, CLOCK_MONOTONIC);
  if (result < 0 && errno == ENOSYS) {
    const std::uint64_t sliceNs = std::min(timeoutNs, kFallbackSliceNs);
    timespec slice{static_cast<time_t>(sliceNs / 1'000'000'000u),
                   static_cast<long>(sliceNs % 1'000'000'000u)};
    ::syscall(SYS_futex, words_[0], FUTEX_WAIT, seen_[0], &slice, nullptr, 0);
    timedOut = !moved() && sliceNs == timeoutNs;
  } else {
    timedOut = result < 0 && errno == ETIMEDOUT;
  }
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (sleepers_[i] != nullptr) Word(*sleepers_[i]).fetch_sub(1);
  }
  return !timedOut;
}

std::string MappingFilePath(std::uint64_t fileId) {
  return Mapped().directory + "/mapping-" + std::to_string(fileId);
}

}  // namespace vantor::os::internal
