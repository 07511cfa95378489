// Events, mutexes, semaphores and shared mappings, named or unnamed.
//
// Named objects share one namespace per user and per VANTOR_NAMESPACE (see
// runtime_dir.h). A named object lives while any live process holds a
// handle to it and disappears when the last holder closes it or dies.
// Handles are move-only RAII owners; `Duplicate` gives a second handle to
// the same object (kept alive until both are closed). Every operation on a
// closed or moved-from handle fails harmlessly.
//
// `CreateOrOpen` returns the existing object unchanged when the name is
// taken by an object of the same kind, and `existed()` says so; a name held
// by another kind fails with WrongKind. `Open` fails with NotFound when the
// name is absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/os/os_error.h"

namespace vantor::os {

enum class ObjectKind : std::uint32_t {
  None = 0,
  Event = 1,
  Mutex = 2,
  Semaphore = 3,
  Mapping = 4,
  Thread = 5,
  Process = 6,
  Endpoint = 7,
};

// Longest object name accepted, in bytes (longer names fail NameTooLong).
inline constexpr std::size_t kMaxObjectNameBytes = 1023;

// A handle to an object in the namespace's object table. Events, mutexes,
// semaphores, threads and processes are waitable (wait.h); a mapping is not.
class Waitable {
 public:
  Waitable() = default;
  Waitable(const Waitable&) = delete;
  Waitable& operator=(const Waitable&) = delete;
  Waitable(Waitable&& other) noexcept;
  Waitable& operator=(Waitable&& other) noexcept;
  virtual ~Waitable();

  bool valid() const { return kind_ != ObjectKind::None; }
  ObjectKind kind() const { return kind_; }
  // True when the create-or-open call that made this handle found the
  // object already there.
  bool existed() const { return existed_; }
  // Closes the handle; the object goes when its last holder closes it.
  void Close();

  // Internal identity in the table (for the wait functions).
  std::uint32_t slot() const { return slot_; }
  std::uint64_t serial() const { return serial_; }
  // Process handles keep a pidfd so that waits can see the end at once.
  int processFd() const { return processFd_; }

 protected:
  Waitable(ObjectKind kind, std::uint32_t slot, std::uint64_t serial, bool existed)
      : kind_(kind), slot_(slot), serial_(serial), existed_(existed) {}
  // A second handle on the same object, counted for this process.
  OsError DuplicateInto(Waitable& target) const;
  virtual void OnClose() {}

  int processFd_ = -1;

 private:
  void MoveFrom(Waitable& other) noexcept;

  ObjectKind kind_ = ObjectKind::None;
  std::uint32_t slot_ = 0;
  std::uint64_t serial_ = 0;
  bool existed_ = false;
};

enum class EventReset { Manual, Auto };

class Event : public Waitable {
 public:
  Event() = default;
  static OsResult<Event> CreateOrOpen(std::string_view name, EventReset reset,
                                      bool initiallySignalled);
  static OsResult<Event> Open(std::string_view name);
  static OsResult<Event> CreateUnnamed(EventReset reset, bool initiallySignalled);
  OsResult<Event> Duplicate() const;

  // Set, Reset and every wait are full memory barriers.
  bool Set();
  bool Reset();

 private:
  using Waitable::Waitable;
};

// Owned by a thread and recursive. When the owning thread or process ends
// without releasing it, the next waiter gets it with WaitKind::Abandoned,
// which callers treat as acquired.
class Mutex : public Waitable {
 public:
  Mutex() = default;
  static OsResult<Mutex> CreateOrOpen(std::string_view name, bool initiallyOwned);
  static OsResult<Mutex> Open(std::string_view name);
  static OsResult<Mutex> CreateUnnamed(bool initiallyOwned);
  OsResult<Mutex> Duplicate() const;

  // Fails with NotOwner, changing nothing, when the calling thread does not
  // own the mutex.
  OsError Release();

 private:
  using Waitable::Waitable;
};

// What a process added with Release beyond what it took by waits is taken
// back when that process ends, so a crashed user does not stay counted. A
// count a process took is never given back: what it took beyond its own
// additions belonged to others, and giving it back would count a user that
// already left. The result is kept within 0 and the maximum.
class Semaphore : public Waitable {
 public:
  Semaphore() = default;
  static OsResult<Semaphore> CreateOrOpen(std::string_view name, std::int32_t initialCount,
                                          std::int32_t maximumCount);
  static OsResult<Semaphore> Open(std::string_view name);
  static OsResult<Semaphore> CreateUnnamed(std::int32_t initialCount, std::int32_t maximumCount);
  OsResult<Semaphore> Duplicate() const;

  // Adds `count` (at least 1). Fails with LimitExceeded, changing nothing,
  // when the count would pass the maximum. `previousCount` may be null.
  OsError Release(std::int32_t count = 1, std::int32_t* previousCount = nullptr);

 private:
  using Waitable::Waitable;
};

// Shared memory of a fixed size, zero-filled when created. Opening an
// existing mapping gives its own size, whatever size the caller asked for.
class Mapping : public Waitable {
 public:
  Mapping() = default;
  Mapping(Mapping&& other) noexcept;
  Mapping& operator=(Mapping&& other) noexcept;
  ~Mapping() override;

  static OsResult<Mapping> CreateOrOpen(std::string_view name, std::size_t size);
  static OsResult<Mapping> Open(std::string_view name);
  static OsResult<Mapping> CreateUnnamed(std::size_t size);

  std::byte* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  using Waitable::Waitable;
  void OnClose() override;
  static OsResult<Mapping> Attach(ObjectKind kind, std::uint32_t slot, std::uint64_t serial,
                                  bool existed);

  std::byte* data_ = nullptr;
  std::size_t size_ = 0;
};

// Number of objects and of registered processes in this namespace's table,
// after the holders of dead processes have been cleared away. Used by tests
// and diagnostics to see that nothing leaked.
struct NamespaceCensus {
  std::uint32_t objects = 0;
  std::uint32_t processes = 0;
};
NamespaceCensus TakeNamespaceCensus();

// Ids of the other live processes registered in this namespace's table, so
// that a test can wait for them by handle before it takes the census.
std::vector<std::uint32_t> OtherProcessesOfNamespace();

// How many live processes other than the calling one hold a handle to the
// object named `name`; 0 when no such object exists. Holders that died are
// cleared away first, so a killed process is never counted.
OsResult<std::uint32_t> CountOtherHolders(std::string_view name);

}  // namespace vantor::os
