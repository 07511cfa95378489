// Access to the namespace's object table: mapping it, locking it, holder
// counts and clean-up of dead processes. Its futex words (who a change
// wakes, mutex queues, sleeping) are in wake_words.h.
//
// Functions that take a `SharedTable&` expect the caller to hold the table
// lock through a `TableLock`.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/os/internal/shared_table.h"
#include "platform/os/named_objects.h"
#include "platform/os/os_error.h"

namespace vantor::os::internal {

// Holds the table lock for its lifetime. When the lock was held by a
// process that died, the table is taken over as it stands: every update
// under the lock leaves it consistent field by field. Changes marked with
// `Changed(slot)` wake the sleepers of that object once the lock is
// released (for a free mutex: only its first queued waiter); `ChangedAll()`
// wakes every sleeper of the namespace.
class TableLock {
 public:
  TableLock();
  ~TableLock();
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

  // False when the table could not be mapped or locked; nothing else may
  // be used then.
  bool ok() const { return table_ != nullptr; }
  OsError error() const { return error_; }
  SharedTable& table() const { return *table_; }
  // Slot of the calling process, registered on first use.
  std::uint32_t processSlot() const { return processSlot_; }
  void Changed(std::uint32_t slot);
  void ChangedAll();

 private:
  static constexpr std::uint32_t kTrackedChanges = 8;
  SharedTable* table_ = nullptr;
  std::uint32_t processSlot_ = kNoSlot;
  OsError error_ = OsError::Ok;
  std::uint32_t changedSlots_[kTrackedChanges] = {};
  std::uint32_t changedCount_ = 0;
  bool changedAll_ = false;
};

std::uint64_t HashName(std::string_view name);

// The object named `name`, or kNoSlot.
std::uint32_t FindNamed(SharedTable& table, std::string_view name);

// A fresh object of `kind` with one handle held by `processSlot`; kNoSlot
// when the table is full. Kind-specific fields are left zero.
std::uint32_t AllocateObject(SharedTable& table, std::uint32_t processSlot, ObjectKind kind,
                             std::string_view name);

// The entry of a live handle, or null when slot and serial no longer match
// or the kind differs (ObjectKind::None accepts any kind).
ObjectEntry* Resolve(SharedTable& table, std::uint32_t slot, std::uint64_t serial,
                     ObjectKind kind = ObjectKind::None);

// Counts one more handle of the calling process.
void AddHandle(SharedTable& table, std::uint32_t processSlot, std::uint32_t slot);
// Drops one handle of the calling process; frees the object with its last
// handle. False when this process held none.
bool DropHandle(SharedTable& table, std::uint32_t processSlot, std::uint32_t slot);

// Hands every mutex owned by this thread to its next waiter as abandoned.
void AbandonMutexesOf(TableLock& lock, std::uint32_t processSlot, std::uint32_t tid);

// Remembers that the calling thread owns a mutex, so that the thread's end
// abandons what it still holds.
void NoteMutexOwner();

// Clears away every registered process that no longer runs: its handles,
// its mutexes (abandoned), its semaphore counts and its loops. Takes the
// lock itself; call without holding it.
void SweepDeadProcesses();

// The same, limited to the processes that own one of these mutexes or hold
// an undo count on one of these semaphores; cheap when there are none.
void SweepHoldersOf(std::span<const std::uint32_t> objectSlots);

inline constexpr std::uint64_t kWaitForever = ~std::uint64_t{0};

// Path of the file behind a mapping, in this process's namespace folder or
// in the given one.
std::string MappingFilePath(std::uint64_t fileId);
std::string MappingFilePathIn(const std::string& directory, std::uint64_t fileId);

// For a process that never joined the namespace of `directory`: removes the
// namespace's table and mapping files when every process that registered in
// it has ended (killed ones included, which never left by themselves).
// A table with a live process, this one included, is left alone.
void RemoveTableIfAbandoned(const std::string& directory);

std::uint32_t CachedProcessId();
std::uint32_t CachedThreadId();

}  // namespace vantor::os::internal
