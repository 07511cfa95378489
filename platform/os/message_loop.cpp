#include "platform/os/message_loop.h"

#include <optional>

#include "platform/os/internal/object_access.h"
#include "platform/os/internal/table.h"
#include "platform/os/internal/wake_words.h"

namespace vantor::os {

using internal::ObjectEntry;
using internal::SharedTable;
using internal::TableLock;

static_assert(kEndpointQueueDepth == internal::kQueueDepth);

namespace {

// A Send to a loop in another process looks for that process's end this
// often, since its death wakes nobody.
constexpr std::uint64_t kSendPollNs = 20'000'000;

ObjectEntry* FindEndpoint(SharedTable& table, EndpointToken token) {
  if (token == kNoEndpoint) return nullptr;
  for (std::uint32_t slot = 0; slot < table.header.highWater; ++slot) {
    ObjectEntry& entry = table.objects[slot];
    if (entry.kind == static_cast<std::uint32_t>(ObjectKind::Endpoint) && entry.token == token &&
        entry.endpointClosed == 0) {
      return &entry;
    }
  }
  return nullptr;
}

// Queues under the lock; the sequence number lets a sender see its command
// handled.
OsError Enqueue(TableLock& lock, ObjectEntry& entry, Command command, std::uint64_t* sequence) {
  if (entry.queueCount >= internal::kQueueDepth) return OsError::LimitExceeded;
  const std::uint32_t position = (entry.queueHead + entry.queueCount) % internal::kQueueDepth;
  entry.queue[position] =
      internal::QueuedCommand{command.code, command.parameter, ++entry.postedSequence};
  ++entry.queueCount;
  if (sequence != nullptr) *sequence = entry.postedSequence;
  lock.Changed(static_cast<std::uint32_t>(&entry - lock.table().objects));
  return OsError::Ok;
}

}  // namespace

OsResult<MessageLoop> MessageLoop::Create() {
  EndpointToken token = kNoEndpoint;
  auto ref = internal::CreateOrOpenObject(
      ObjectKind::Endpoint, {},
      [&token](SharedTable& table, ObjectEntry& entry, std::uint32_t processSlot) {
        // Tokens count up and skip 0; 2^32 loops per namespace never come.
        if (table.header.nextToken == kNoEndpoint) table.header.nextToken = 1;
        token = table.header.nextToken++;
        entry.token = token;
        entry.ownerSlot = processSlot;
        entry.ownerPid = internal::CachedProcessId();
        entry.ownerTid = internal::CachedThreadId();
        return OsError::Ok;
      });
  if (!ref) return ref.error();
  MessageLoop loop;
  loop.endpoint_ = EndpointHandle(ref->slot, ref->serial);
  loop.token_ = token;
  return loop;
}

MessageLoop::~MessageLoop() = default;

std::uint32_t MessageLoop::Run(const CommandHandler& handler) {
  runningHandler_ = &handler;
  for (;;) {
    Command command;
    std::uint64_t sequence = 0;
    std::optional<internal::TableWatch> watch;
    {
      TableLock lock;
      if (!lock.ok()) break;
      ObjectEntry* entry = internal::Resolve(lock.table(), endpoint_.slot(), endpoint_.serial(),
                                             ObjectKind::Endpoint);
      if (entry == nullptr) break;
      entry->ownerTid = internal::CachedThreadId();
      if (entry->quitRequested != 0) {
        entry->quitRequested = 0;
        runningHandler_ = nullptr;
        return entry->quitCode;
      }
      if (entry->queueCount > 0) {
        const internal::QueuedCommand& queued = entry->queue[entry->queueHead];
        command = Command{queued.code, queued.parameter};
        sequence = queued.sequence;
        entry->queueHead = (entry->queueHead + 1) % internal::kQueueDepth;
        --entry->queueCount;
      } else {
        watch.emplace(lock.table());
        watch->WatchObject(endpoint_.slot());
      }
    }
    if (watch) {
      watch->Sleep(internal::kWaitForever, true);
      continue;
    }
    handler(command);
    TableLock lock;
    if (!lock.ok()) break;
    ObjectEntry* entry = internal::Resolve(lock.table(), endpoint_.slot(), endpoint_.serial(),
                                           ObjectKind::Endpoint);
    if (entry == nullptr) break;
    entry->handledSequence = sequence;
    lock.Changed(endpoint_.slot());
  }
  runningHandler_ = nullptr;
  return 0;
}

void MessageLoop::Quit(std::uint32_t exitCode) {
  TableLock lock;
  if (!lock.ok()) return;
  ObjectEntry* entry = internal::Resolve(lock.table(), endpoint_.slot(), endpoint_.serial(),
                                         ObjectKind::Endpoint);
  if (entry == nullptr) return;
  entry->quitRequested = 1;
  entry->quitCode = exitCode;
  lock.Changed(endpoint_.slot());
}

OsError MessageLoop::Post(Command command) const {
  TableLock lock;
  if (!lock.ok()) return lock.error();
  ObjectEntry* entry = internal::Resolve(lock.table(), endpoint_.slot(), endpoint_.serial(),
                                         ObjectKind::Endpoint);
  if (entry == nullptr || entry->endpointClosed != 0) return OsError::NotFound;
  return Enqueue(lock, *entry, command, nullptr);
}

OsError MessageLoop::Send(Command command) const {
  std::uint64_t sequence = 0;
  bool runHere = false;
  {
    TableLock lock;
    if (!lock.ok()) return lock.error();
    ObjectEntry* entry = internal::Resolve(lock.table(), endpoint_.slot(), endpoint_.serial(),
                                           ObjectKind::Endpoint);
    if (entry == nullptr || entry->endpointClosed != 0) return OsError::NotFound;
    // The loop's own thread (the one that made it, or last ran it) never
    // waits for itself: inside Run the handler runs at once; outside Run the
    // command is queued for the next Run, like a post. Only that thread
    // reads runningHandler_, and only it finds its own id here.
    const bool ownThread = entry->ownerSlot == lock.processSlot() &&
                           entry->ownerTid == internal::CachedThreadId();
    runHere = ownThread && runningHandler_ != nullptr;
    if (!runHere) {
      if (const OsError error = Enqueue(lock, *entry, command, &sequence); error != OsError::Ok) {
        return error;
      }
      if (ownThread) return OsError::Ok;
    }
  }
  if (runHere) {
    (*runningHandler_)(command);
    return OsError::Ok;
  }
  for (;;) {
    std::optional<internal::TableWatch> watch;
    {
      TableLock lock;
      if (!lock.ok()) return lock.error();
      const ObjectEntry* entry = internal::Resolve(lock.table(), endpoint_.slot(),
                                                   endpoint_.serial(), ObjectKind::Endpoint);
      if (entry == nullptr || entry->endpointClosed != 0) return OsError::NotFound;
      if (entry->handledSequence >= sequence) return OsError::Ok;
      watch.emplace(lock.table());
      watch->WatchObject(endpoint_.slot());
    }
    if (!watch->Sleep(kSendPollNs, true)) internal::SweepDeadProcesses();
  }
}

OsError PostCommand(EndpointToken token, Command command) {
  // A loop whose process died must read as gone.
  internal::SweepDeadProcesses();
  TableLock lock;
  if (!lock.ok()) return lock.error();
  ObjectEntry* entry = FindEndpoint(lock.table(), token);
  if (entry == nullptr) return OsError::NotFound;
  return Enqueue(lock, *entry, command, nullptr);
}

}  // namespace vantor::os
