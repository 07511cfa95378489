#include "platform/os/realtime_policy.h"

#include <linux/capability.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include <array>
#include <atomic>
#include <mutex>

#include "platform/os/debug_output.h"
#include "platform/os/internal/table.h"

namespace vantor::os {

namespace {

struct RoleEntry {
  RealTimeRole role;
  std::string_view name;
  int schedulingClass;
  int level;
};

// The one table. Levels stay below the system's own interrupt threads (50)
// and leave room between the roles; the order is what matters.
constexpr std::array<RoleEntry, 6> kRoles{{
    {RealTimeRole::kProcessClass, "process class", SCHED_RR, 10},
    {RealTimeRole::kServerThread, "server thread", SCHED_FIFO, 20},
    {RealTimeRole::kKernelCycle, "kernel cycle", SCHED_FIFO, 30},
    {RealTimeRole::kRequestTransport, "request transport", SCHED_FIFO, 40},
    {RealTimeRole::kDeferredCall, "deferred call", SCHED_FIFO, 44},
    {RealTimeRole::kInterrupt, "interrupt", SCHED_FIFO, 48},
}};

constexpr const RoleEntry& EntryOf(RealTimeRole role) {
  for (const RoleEntry& entry : kRoles) {
    if (entry.role == role) return entry;
  }
  return kRoles[0];
}

static_assert(EntryOf(RealTimeRole::kInterrupt).level > EntryOf(RealTimeRole::kDeferredCall).level);
static_assert(EntryOf(RealTimeRole::kDeferredCall).level >
              EntryOf(RealTimeRole::kRequestTransport).level);
static_assert(EntryOf(RealTimeRole::kRequestTransport).level >
              EntryOf(RealTimeRole::kKernelCycle).level);
static_assert(EntryOf(RealTimeRole::kKernelCycle).level >
              EntryOf(RealTimeRole::kServerThread).level);
static_assert(EntryOf(RealTimeRole::kServerThread).level >
              EntryOf(RealTimeRole::kProcessClass).level);

std::string_view ReasonOf(int error) {
  switch (error) {
    case EPERM:
      return "not permitted";
    case ENOMEM:
      return "over the locked-memory limit";
    case EINVAL:
      return "not supported";
    case ESRCH:
      return "no such thread";
    default:
      return "system error";
  }
}

// What this process was granted; the report is written once.
struct ProcessRecord {
  std::mutex mutex;
  std::string report;
  bool memoryAsked = false;
  int memoryError = 0;
};

ProcessRecord& Record() {
  static ProcessRecord record;
  return record;
}

std::string MemoryPart(const ProcessRecord& record) {
  if (!record.memoryAsked) return "memory not locked";
  if (record.memoryError == 0) return "memory locked";
  return "memory not locked (" + std::string(ReasonOf(record.memoryError)) + ")";
}

void ReportFirst(const RoleEntry& entry, int error) {
  ProcessRecord& record = Record();
  std::string line;
  {
    std::lock_guard lock(record.mutex);
    if (!record.report.empty()) return;
    const std::string_view kind = entry.schedulingClass == SCHED_RR ? "SCHED_RR" : "SCHED_FIFO";
    record.report = "real-time scheduling " + std::string(kind) + " level " +
                    std::to_string(entry.level) + " for the " + std::string(entry.name) + ": ";
    record.report += error == 0 ? "granted"
                                : "refused (" + std::string(ReasonOf(error)) +
                                      "), threads run at normal priority";
    record.report += "; " + MemoryPart(record) + " (process " + std::to_string(::getpid()) + ")";
    line = record.report;
  }
  OutputDebugText(line);
}

}  // namespace

int RealTimeClassOf(RealTimeRole role) noexcept { return EntryOf(role).schedulingClass; }
int RealTimeLevelOf(RealTimeRole role) noexcept { return EntryOf(role).level; }
std::string_view RealTimeRoleName(RealTimeRole role) noexcept { return EntryOf(role).name; }

bool ApplyRealTimeRoleTo(std::uint32_t threadId, RealTimeRole role) noexcept {
  const RoleEntry& entry = EntryOf(role);
  sched_param parameters{};
  parameters.sched_priority = entry.level;
  const int result =
      ::sched_setscheduler(static_cast<pid_t>(threadId), entry.schedulingClass, &parameters);
  const int error = result == 0 ? 0 : errno;
  try {
    ReportFirst(entry, error);
  } catch (...) {
    // Out of memory for the report text: the thread's class stands anyway.
  }
  return error == 0;
}

bool ApplyRealTimeRole(RealTimeRole role) noexcept {
  return ApplyRealTimeRoleTo(internal::CachedThreadId(), role);
}

namespace {

// Locking every future mapping is only sound without a bound on locked
// memory: within a bound the lock itself succeeds while the process is
// small, and then every later thread stack or large allocation fails.
bool MayLockWithoutBound() noexcept {
  rlimit limit{};
  if (::getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY) return true;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> data{};
  if (::syscall(SYS_capget, &header, data.data()) != 0) return false;
  return (data[CAP_TO_INDEX(CAP_IPC_LOCK)].effective & CAP_TO_MASK(CAP_IPC_LOCK)) != 0;
}

}  // namespace

bool LockProcessMemory() noexcept {
  int error = EPERM;
  if (MayLockWithoutBound()) {
    error = ::mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) == 0 ? 0 : errno;
  }
  ProcessRecord& record = Record();
  std::lock_guard lock(record.mutex);
  record.memoryAsked = true;
  record.memoryError = error;
  return error == 0;
}

std::string RealTimeReport() {
  ProcessRecord& record = Record();
  std::lock_guard lock(record.mutex);
  return record.report;
}

}  // namespace vantor::os
