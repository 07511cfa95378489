#include "platform/os/process.h"

#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/os/internal/child_reaper.h"
#include "platform/os/internal/object_access.h"
#include "platform/os/internal/process_end.h"
#include "platform/os/internal/process_liveness.h"
#include "platform/os/internal/table.h"
#include "platform/os/realtime_policy.h"

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

extern char** environ;

namespace vantor::os {

using internal::ObjectEntry;
using internal::TableLock;

namespace {

// The C library's declarations of these lack C linkage in C++, so they are
// reached through the system call itself.
int OpenPidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u)); }

int KillThroughPidfd(int pidfd) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0u));
}

constexpr std::uint32_t kSignalExitBase = 128;

int SpawnChild(const std::string& path, char* const* argv, bool realTime, pid_t* pid) {
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return ENOMEM;
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t defaults;
  sigfillset(&defaults);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  if (realTime) {
    sched_param parameters{};
    parameters.sched_priority = RealTimeLevelOf(RealTimeRole::kProcessClass);
    posix_spawnattr_setschedpolicy(&attributes, RealTimeClassOf(RealTimeRole::kProcessClass));
    posix_spawnattr_setschedparam(&attributes, &parameters);
    flags |= POSIX_SPAWN_SETSCHEDULER;
  }
  posix_spawnattr_setflags(&attributes, flags);
  const int result = posix_spawn(pid, path.c_str(), nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  return result;
}

OsError ErrorOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return OsError::NotFound;
    case EACCES:
    case EPERM:
    case ENOEXEC:
      return OsError::AccessDenied;
    case E2BIG:
    case EINVAL:
      return OsError::InvalidArgument;
    default:
      return OsError::SystemError;
  }
}

OsResult<internal::ObjectRef> MakeProcessObject(std::uint32_t pid, std::uint64_t startTime,
                                                bool child) {
  return internal::CreateOrOpenObject(
      ObjectKind::Process, {},
      [pid, startTime, child](internal::SharedTable&, ObjectEntry& entry, std::uint32_t) {
        entry.ownerPid = pid;
        entry.startTime = startTime;
        if (child) entry.flags |= internal::kFlagChildProcess;
        return OsError::Ok;
      });
}

}  // namespace

Process::Process(Process&& other) noexcept : Waitable(std::move(other)) {
  processId_ = std::exchange(other.processId_, 0);
  isChild_ = std::exchange(other.isChild_, false);
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Close();
    Waitable::operator=(std::move(other));
    processId_ = std::exchange(other.processId_, 0);
    isChild_ = std::exchange(other.isChild_, false);
  }
  return *this;
}

Process::~Process() { Close(); }

void Process::OnClose() {
  if (processFd_ < 0) return;
  if (isChild_) {
    siginfo_t info{};
    const int reaped = ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(processFd_),
                                &info, WEXITED | WNOHANG);
    if (reaped == 0 && info.si_pid == 0) {
      // Still running: someone must reap it when it ends.
      internal::ReapWhenEnded(processFd_);
      processFd_ = -1;
      return;
    }
  }
  ::close(processFd_);
  processFd_ = -1;
}

OsResult<Process> Process::Start(const std::string& executablePath,
                                 const std::vector<std::string>& arguments,
                                 ProcessStartOptions options) {
  if (executablePath.empty()) return OsError::InvalidArgument;
  if (::access(executablePath.c_str(), F_OK) != 0) return OsError::NotFound;
  if (::access(executablePath.c_str(), X_OK) != 0) return OsError::AccessDenied;
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  argv.push_back(const_cast<char*>(executablePath.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid = 0;
  int result = SpawnChild(executablePath, argv.data(), options.realTimeClass, &pid);
  if (result == EPERM && options.realTimeClass) {
    result = SpawnChild(executablePath, argv.data(), false, &pid);
  }
  if (result != 0) return ErrorOfErrno(result);

  // The child cannot be reaped by anyone else, so its id stays valid for
  // pidfd_open even if it has ended already.
  const int pidfd = OpenPidfd(pid);
  if (pidfd < 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return OsError::SystemError;
  }
  auto ref = MakeProcessObject(static_cast<std::uint32_t>(pid),
                               internal::ProcessStartTime(static_cast<std::uint32_t>(pid)).value_or(0),
                               true);
  if (!ref) {
    internal::ReapWhenEnded(pidfd);
    return ref.error();
  }
  Process process = internal::MakeHandle<Process>(ObjectKind::Process, *ref);
  process.processFd_ = pidfd;
  process.processId_ = static_cast<std::uint32_t>(pid);
  process.isChild_ = true;
  return process;
}

OsResult<Process> Process::Open(std::uint32_t processId) {
  if (processId == 0) return OsError::InvalidArgument;
  const int pidfd = OpenPidfd(static_cast<pid_t>(processId));
  if (pidfd < 0) return errno == ESRCH ? OsError::NotFound : ErrorOfErrno(errno);
  const auto startTime = internal::ProcessStartTime(processId);
  if (!startTime) {
    ::close(pidfd);
    return OsError::NotFound;
  }
  auto ref = MakeProcessObject(processId, *startTime, false);
  if (!ref) {
    ::close(pidfd);
    return ref.error();
  }
  Process process = internal::MakeHandle<Process>(ObjectKind::Process, *ref);
  process.processFd_ = pidfd;
  process.processId_ = processId;
  return process;
}

OsError Process::Terminate(std::uint32_t exitCode) {
  if (!valid() || processFd_ < 0) return OsError::InvalidHandle;
  {
    TableLock lock;
    if (!lock.ok()) return lock.error();
    ObjectEntry* entry = internal::Resolve(lock.table(), slot(), serial(), ObjectKind::Process);
    if (entry == nullptr) return OsError::InvalidHandle;
    if (entry->signalled != 0) return OsError::Ok;
    if ((entry->flags & internal::kFlagTerminated) == 0) {
      entry->flags |= internal::kFlagTerminated;
      entry->terminateCode = exitCode;
    }
  }
  if (KillThroughPidfd(processFd_) != 0 && errno != ESRCH) {
    return ErrorOfErrno(errno);
  }
  return OsError::Ok;
}

std::optional<std::uint32_t> Process::exitCode() const {
  if (!valid()) return std::nullopt;
  internal::RefreshProcessEnd(*this);
  TableLock lock;
  if (!lock.ok()) return std::nullopt;
  const ObjectEntry* entry = internal::Resolve(lock.table(), slot(), serial(), ObjectKind::Process);
  if (entry == nullptr || entry->exitKnown == 0) return std::nullopt;
  return entry->exitCode;
}

std::uint32_t CurrentProcessId() { return internal::CachedProcessId(); }

namespace internal {

void RefreshProcessEnd(const Waitable& handle) {
  const int pidfd = handle.processFd();
  if (pidfd < 0) return;
  pollfd polled{pidfd, POLLIN, 0};
  if (::poll(&polled, 1, 0) <= 0 || (polled.revents & POLLIN) == 0) return;
  // Ended. A child is reaped here (once; later calls find nothing to reap).
  bool reaped = false;
  std::uint32_t exitCode = 0;
  siginfo_t info{};
  if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info,
               WEXITED | WNOHANG) == 0 &&
      info.si_pid != 0) {
    reaped = true;
    exitCode = info.si_code == CLD_EXITED ? static_cast<std::uint32_t>(info.si_status)
                                          : kSignalExitBase + static_cast<std::uint32_t>(info.si_status);
  }
  TableLock lock;
  if (!lock.ok()) return;
  ObjectEntry* entry = Resolve(lock.table(), handle.slot(), handle.serial(), ObjectKind::Process);
  if (entry == nullptr) return;
  if (entry->exitKnown == 0) {
    if ((entry->flags & kFlagTerminated) != 0) {
      entry->exitCode = entry->terminateCode;
      entry->exitKnown = 1;
    } else if (reaped) {
      entry->exitCode = exitCode;
      entry->exitKnown = 1;
    }
  }
  if (entry->signalled == 0) {
    entry->signalled = 1;
    lock.Changed(handle.slot());
  }
}

}  // namespace internal

}  // namespace vantor::os
