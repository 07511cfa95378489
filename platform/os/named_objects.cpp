#include "platform/os/named_objects.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <utility>

#include "platform/os/internal/object_access.h"
#include "platform/os/internal/table.h"

namespace vantor::os {

using internal::ObjectEntry;
using internal::ObjectRef;
using internal::SharedTable;
using internal::TableLock;

namespace {

// Mappings are backed by files on the runtime folder's file system; this
// bound keeps a corrupt size from asking for absurd amounts of memory.
constexpr std::size_t kMaxMappingBytes = std::size_t{1} << 30;

}  // namespace

Waitable::Waitable(Waitable&& other) noexcept { MoveFrom(other); }

Waitable& Waitable::operator=(Waitable&& other) noexcept {
  if (this != &other) {
    Close();
    MoveFrom(other);
  }
  return *this;
}

Waitable::~Waitable() { Close(); }

void Waitable::MoveFrom(Waitable& other) noexcept {
  kind_ = std::exchange(other.kind_, ObjectKind::None);
  slot_ = std::exchange(other.slot_, 0);
  serial_ = std::exchange(other.serial_, 0);
  existed_ = std::exchange(other.existed_, false);
  processFd_ = std::exchange(other.processFd_, -1);
}

void Waitable::Close() {
  if (!valid()) return;
  OnClose();
  {
    TableLock lock;
    if (lock.ok() && internal::Resolve(lock.table(), slot_, serial_) != nullptr) {
      if (kind_ == ObjectKind::Endpoint) lock.table().objects[slot_].endpointClosed = 1;
      internal::DropHandle(lock.table(), lock.processSlot(), slot_);
      lock.Changed(slot_);
    }
  }
  kind_ = ObjectKind::None;
  slot_ = 0;
  serial_ = 0;
  existed_ = false;
}

OsError Waitable::DuplicateInto(Waitable& target) const {
  if (!valid()) return OsError::InvalidHandle;
  TableLock lock;
  if (!lock.ok()) return lock.error();
  if (internal::Resolve(lock.table(), slot_, serial_, kind_) == nullptr) {
    return OsError::InvalidHandle;
  }
  internal::AddHandle(lock.table(), lock.processSlot(), slot_);
  target.Close();
  target.kind_ = kind_;
  target.slot_ = slot_;
  target.serial_ = serial_;
  target.existed_ = true;
  return OsError::Ok;
}

// ---- Event ---------------------------------------------------------------

namespace {

OsResult<ObjectRef> MakeEvent(std::string_view name, EventReset reset, bool initiallySignalled) {
  return internal::CreateOrOpenObject(
      ObjectKind::Event, name,
      [reset, initiallySignalled](SharedTable&, ObjectEntry& entry, std::uint32_t) {
        if (reset == EventReset::Manual) entry.flags |= internal::kFlagManualReset;
        entry.signalled = initiallySignalled ? 1 : 0;
        return OsError::Ok;
      });
}

}  // namespace

OsResult<Event> Event::CreateOrOpen(std::string_view name, EventReset reset,
                                    bool initiallySignalled) {
  auto ref = MakeEvent(name, reset, initiallySignalled);
  if (!ref) return ref.error();
  return internal::MakeHandle<Event>(ObjectKind::Event, *ref);
}

OsResult<Event> Event::Open(std::string_view name) {
  auto ref = internal::OpenObject(ObjectKind::Event, name);
  if (!ref) return ref.error();
  return internal::MakeHandle<Event>(ObjectKind::Event, *ref);
}

OsResult<Event> Event::CreateUnnamed(EventReset reset, bool initiallySignalled) {
  return CreateOrOpen({}, reset, initiallySignalled);
}

OsResult<Event> Event::Duplicate() const {
  Event copy;
  if (const OsError error = DuplicateInto(copy); error != OsError::Ok) return error;
  return copy;
}

bool Event::Set() {
  bool done = false;
  {
    TableLock lock;
    if (lock.ok()) {
      if (ObjectEntry* entry = internal::Resolve(lock.table(), slot(), serial(), ObjectKind::Event)) {
        entry->signalled = 1;
        lock.Changed(slot());
        done = true;
      }
    }
  }
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return done;
}

bool Event::Reset() {
  bool done = false;
  {
    TableLock lock;
    if (lock.ok()) {
      if (ObjectEntry* entry = internal::Resolve(lock.table(), slot(), serial(), ObjectKind::Event)) {
        // A reset satisfies no waiter, so nobody needs waking.
        entry->signalled = 0;
        done = true;
      }
    }
  }
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return done;
}

// ---- Mutex ---------------------------------------------------------------

namespace {

OsResult<ObjectRef> MakeMutex(std::string_view name, bool initiallyOwned) {
  auto ref = internal::CreateOrOpenObject(
      ObjectKind::Mutex, name,
      [initiallyOwned](SharedTable&, ObjectEntry& entry, std::uint32_t processSlot) {
        if (initiallyOwned) {
          entry.ownerSlot = processSlot;
          entry.ownerPid = internal::CachedProcessId();
          entry.ownerTid = internal::CachedThreadId();
          entry.count = 1;
        }
        return OsError::Ok;
      });
  if (ref && !ref->existed && initiallyOwned) internal::NoteMutexOwner();
  return ref;
}

}  // namespace

OsResult<Mutex> Mutex::CreateOrOpen(std::string_view name, bool initiallyOwned) {
  auto ref = MakeMutex(name, initiallyOwned);
  if (!ref) return ref.error();
  return internal::MakeHandle<Mutex>(ObjectKind::Mutex, *ref);
}

OsResult<Mutex> Mutex::Open(std::string_view name) {
  auto ref = internal::OpenObject(ObjectKind::Mutex, name);
  if (!ref) return ref.error();
  return internal::MakeHandle<Mutex>(ObjectKind::Mutex, *ref);
}

OsResult<Mutex> Mutex::CreateUnnamed(bool initiallyOwned) {
  return CreateOrOpen({}, initiallyOwned);
}

OsResult<Mutex> Mutex::Duplicate() const {
  Mutex copy;
  if (const OsError error = DuplicateInto(copy); error != OsError::Ok) return error;
  return copy;
}

OsError Mutex::Release() {
  OsError result = OsError::InvalidHandle;
  {
    TableLock lock;
    if (!lock.ok()) return lock.error();
    ObjectEntry* entry = internal::Resolve(lock.table(), slot(), serial(), ObjectKind::Mutex);
    if (entry != nullptr) {
      if (entry->count > 0 && entry->ownerSlot == lock.processSlot() &&
          entry->ownerTid == internal::CachedThreadId()) {
        if (--entry->count == 0) {
          entry->ownerSlot = internal::kNoSlot;
          entry->ownerPid = 0;
          entry->ownerTid = 0;
          lock.Changed(slot());
        }
        result = OsError::Ok;
      } else {
        result = OsError::NotOwner;
      }
    }
  }
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return result;
}

// ---- Semaphore -----------------------------------------------------------

OsResult<Semaphore> Semaphore::CreateOrOpen(std::string_view name, std::int32_t initialCount,
                                            std::int32_t maximumCount) {
  if (maximumCount < 1 || initialCount < 0 || initialCount > maximumCount) {
    return OsError::InvalidArgument;
  }
  auto ref = internal::CreateOrOpenObject(
      ObjectKind::Semaphore, name,
      [initialCount, maximumCount](SharedTable&, ObjectEntry& entry, std::uint32_t) {
        entry.count = initialCount;
        entry.maximum = maximumCount;
        return OsError::Ok;
      });
  if (!ref) return ref.error();
  return internal::MakeHandle<Semaphore>(ObjectKind::Semaphore, *ref);
}

OsResult<Semaphore> Semaphore::Open(std::string_view name) {
  auto ref = internal::OpenObject(ObjectKind::Semaphore, name);
  if (!ref) return ref.error();
  return internal::MakeHandle<Semaphore>(ObjectKind::Semaphore, *ref);
}

OsResult<Semaphore> Semaphore::CreateUnnamed(std::int32_t initialCount,
                                             std::int32_t maximumCount) {
  return CreateOrOpen({}, initialCount, maximumCount);
}

OsResult<Semaphore> Semaphore::Duplicate() const {
  Semaphore copy;
  if (const OsError error = DuplicateInto(copy); error != OsError::Ok) return error;
  return copy;
}

OsError Semaphore::Release(std::int32_t count, std::int32_t* previousCount) {
  if (count < 1) return OsError::InvalidArgument;
  // Counts of a process that died are undone before this one is added.
  const std::uint32_t self[] = {slot()};
  internal::SweepHoldersOf(self);
  TableLock lock;
  if (!lock.ok()) return lock.error();
  ObjectEntry* entry = internal::Resolve(lock.table(), slot(), serial(), ObjectKind::Semaphore);
  if (entry == nullptr) return OsError::InvalidHandle;
  if (count > entry->maximum - entry->count) return OsError::LimitExceeded;
  if (previousCount != nullptr) *previousCount = entry->count;
  entry->count += count;
  internal::HolderCell& cell = lock.table().holders[lock.processSlot()][slot()];
  cell.semaphoreAdjustment += count;
  lock.Changed(slot());
  return OsError::Ok;
}

// ---- Mapping -------------------------------------------------------------

Mapping::Mapping(Mapping&& other) noexcept : Waitable(std::move(other)) {
  data_ = std::exchange(other.data_, nullptr);
  size_ = std::exchange(other.size_, 0);
}

Mapping& Mapping::operator=(Mapping&& other) noexcept {
  if (this != &other) {
    Close();
    Waitable::operator=(std::move(other));
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

Mapping::~Mapping() { Close(); }

void Mapping::OnClose() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

OsResult<Mapping> Mapping::Attach(ObjectKind kind, std::uint32_t slot, std::uint64_t serial,
                                  bool existed) {
  // The handle closes again on every failure below.
  Mapping mapping(kind, slot, serial, existed);
  std::uint64_t fileId = 0;
  std::size_t size = 0;
  {
    TableLock lock;
    if (!lock.ok()) return lock.error();
    const ObjectEntry* entry = internal::Resolve(lock.table(), slot, serial, ObjectKind::Mapping);
    if (entry == nullptr) return OsError::InvalidHandle;
    fileId = entry->fileId;
    size = static_cast<std::size_t>(entry->size);
  }
  if (size == 0 || size > kMaxMappingBytes) return OsError::SystemError;
  const std::string path = internal::MappingFilePath(fileId);
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return OsError::SystemError;
  struct stat info {};
  void* memory = MAP_FAILED;
  // The file must be as large as the table says, or a view could fault.
  if (::fstat(fd, &info) == 0 && static_cast<std::uint64_t>(info.st_size) >= size) {
    memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  ::close(fd);
  if (memory == MAP_FAILED) return OsError::SystemError;
  mapping.data_ = static_cast<std::byte*>(memory);
  mapping.size_ = size;
  return mapping;
}

OsResult<Mapping> Mapping::CreateOrOpen(std::string_view name, std::size_t size) {
  if (size == 0 || size > kMaxMappingBytes) return OsError::InvalidArgument;
  auto ref = internal::CreateOrOpenObject(
      ObjectKind::Mapping, name,
      [size](SharedTable& table, ObjectEntry& entry, std::uint32_t) {
        entry.fileId = table.header.nextFileId++;
        entry.size = size;
        const std::string path = internal::MappingFilePath(entry.fileId);
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return OsError::SystemError;
        const bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
        ::close(fd);
        if (!sized) {
          ::unlink(path.c_str());
          entry.fileId = 0;
          return OsError::SystemError;
        }
        return OsError::Ok;
      });
  if (!ref) return ref.error();
  return Attach(ObjectKind::Mapping, ref->slot, ref->serial, ref->existed);
}

OsResult<Mapping> Mapping::Open(std::string_view name) {
  auto ref = internal::OpenObject(ObjectKind::Mapping, name);
  if (!ref) return ref.error();
  return Attach(ObjectKind::Mapping, ref->slot, ref->serial, true);
}

OsResult<Mapping> Mapping::CreateUnnamed(std::size_t size) { return CreateOrOpen({}, size); }

// ---- Census --------------------------------------------------------------

NamespaceCensus TakeNamespaceCensus() {
  internal::SweepDeadProcesses();
  NamespaceCensus census;
  TableLock lock;
  if (!lock.ok()) return census;
  const SharedTable& table = lock.table();
  for (std::uint32_t slot = 0; slot < table.header.highWater; ++slot) {
    if (table.objects[slot].kind != 0) ++census.objects;
  }
  for (const auto& process : table.processes) {
    if (process.pid != 0) ++census.processes;
  }
  return census;
}

std::vector<std::uint32_t> OtherProcessesOfNamespace() {
  internal::SweepDeadProcesses();
  std::vector<std::uint32_t> ids;
  TableLock lock;
  if (!lock.ok()) return ids;
  const SharedTable& table = lock.table();
  for (std::uint32_t process = 0; process < internal::kMaxProcesses; ++process) {
    if (process != lock.processSlot() && table.processes[process].pid != 0) {
      ids.push_back(table.processes[process].pid);
    }
  }
  return ids;
}

OsResult<std::uint32_t> CountOtherHolders(std::string_view name) {
  if (name.size() > kMaxObjectNameBytes) return OsError::NameTooLong;
  internal::SweepDeadProcesses();
  TableLock lock;
  if (!lock.ok()) return lock.error();
  SharedTable& table = lock.table();
  const std::uint32_t slot = internal::FindNamed(table, name);
  if (slot == internal::kNoSlot) return std::uint32_t{0};
  std::uint32_t holders = 0;
  for (std::uint32_t process = 0; process < internal::kMaxProcesses; ++process) {
    if (process != lock.processSlot() && table.processes[process].pid != 0 &&
        table.holders[process][slot].handles > 0) {
      ++holders;
    }
  }
  return holders;
}

}  // namespace vantor::os
