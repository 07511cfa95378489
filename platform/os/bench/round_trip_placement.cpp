#include "platform/os/bench/round_trip_placement.h"

#include <dirent.h>
#include <linux/futex.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>

namespace vantor::os::bench {
namespace {

// The CPUs of the process at its first use here, before any pinning.
const cpu_set_t& StartCpus() {
  static const cpu_set_t cpus = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    ::sched_getaffinity(0, sizeof set, &set);
    return set;
  }();
  return cpus;
}

// The n-th CPU (from 0) of the start set, or -1.
int NthStartCpu(int n) {
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &StartCpus()) && n-- == 0) return cpu;
  }
  return -1;
}

cpu_set_t CpusOf(Placement placement, bool thisSide) {
  if (placement == Placement::Unpinned) return StartCpus();
  cpu_set_t set;
  CPU_ZERO(&set);
  const int cpu = NthStartCpu(placement == Placement::TwoCpus && !thisSide ? 1 : 0);
  if (cpu >= 0) CPU_SET(cpu, &set);
  return set;
}

bool SetCpus(pid_t thread, const cpu_set_t& cpus) {
  return ::sched_setaffinity(thread, sizeof cpus, &cpus) == 0;
}

void FutexWait(std::uint32_t* word, std::uint32_t value) {
  timespec bound{1, 0};
  ::syscall(SYS_futex, word, FUTEX_WAIT, value, &bound, nullptr, 0);
}

void FutexWake(std::uint32_t* word) {
  ::syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

}  // namespace

const char* PlacementName(Placement placement) {
  switch (placement) {
    case Placement::Unpinned:
      return "unpinned";
    case Placement::TwoCpus:
      return "two pinned CPUs";
    case Placement::OneCpu:
      return "one CPU";
  }
  return "?";
}

bool PlacementPossible(Placement placement) {
  return placement != Placement::TwoCpus || NthStartCpu(1) >= 0;
}

bool PlaceThisSide(Placement placement) { return SetCpus(0, CpusOf(placement, true)); }

bool PlaceOtherSide(pid_t pid, Placement placement) {
  const cpu_set_t cpus = CpusOf(placement, false);
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* directory = ::opendir(tasks.c_str());
  if (directory == nullptr) return false;
  bool placed = true;
  while (const dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    placed &= SetCpus(static_cast<pid_t>(std::atoi(entry->d_name)), cpus);
  }
  ::closedir(directory);
  return placed;
}

LatencyFigures Summarise(std::vector<double>& samplesUs) {
  if (samplesUs.empty()) return {};
  std::sort(samplesUs.begin(), samplesUs.end());
  return LatencyFigures{samplesUs[samplesUs.size() / 2], samplesUs[samplesUs.size() * 99 / 100]};
}

double NowUs() {
  return std::chrono::duration<double, std::micro>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool MeasureFutexFloor(Placement placement, int rounds, LatencyFigures& figures) {
  // word counts the moves: odd after this side's, even after the other's.
  void* memory = ::mmap(nullptr, sizeof(std::uint32_t), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return false;
  auto* word = static_cast<std::uint32_t*>(memory);
  std::atomic_ref<std::uint32_t> moves(*word);
  moves.store(0);
  if (!PlaceThisSide(placement)) return false;
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    SetCpus(0, CpusOf(placement, false));
    for (std::uint32_t expected = 1;; expected += 2) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (moves.load() != expected) {
        if (std::chrono::steady_clock::now() > deadline) ::_exit(1);
        FutexWait(word, expected - 1);
      }
      moves.store(expected + 1);
      FutexWake(word);
      if (expected + 1 >= static_cast<std::uint32_t>(rounds) * 2) ::_exit(0);
    }
  }
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(rounds));
  bool ok = true;
  for (int round = 0; round < rounds && ok; ++round) {
    const double start = NowUs();
    const std::uint32_t mine = moves.fetch_add(1) + 1;
    FutexWake(word);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (moves.load() == mine) {
      if (std::chrono::steady_clock::now() > deadline) {
        ok = false;
        break;
      }
      FutexWait(word, mine);
    }
    samples.push_back(NowUs() - start);
  }
  if (!ok) ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::munmap(memory, sizeof(std::uint32_t));
  figures = Summarise(samples);
  return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace vantor::os::bench
