// The scheduling class and level of every thread of a process, read back
// from the system (the thread's name from /proc, class and level from the
// scheduler), for tests of the real-time policy.
#pragma once

#include <sched.h>
#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vantor::os::testing {

struct ThreadClass {
  pid_t threadId = 0;
  std::string name;
  int schedulingClass = -1;
  int level = -1;
};

inline std::vector<ThreadClass> ThreadClassesOf(pid_t pid) {
  std::vector<ThreadClass> threads;
  std::error_code error;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    const auto tid = static_cast<pid_t>(std::strtol(task.path().filename().c_str(), nullptr, 10));
    ThreadClass thread;
    thread.threadId = tid;
    std::ifstream comm(task.path() / "comm");
    std::getline(comm, thread.name);
    thread.schedulingClass = ::sched_getscheduler(tid);
    sched_param parameters{};
    if (::sched_getparam(tid, &parameters) == 0) thread.level = parameters.sched_priority;
    if (thread.schedulingClass >= 0) threads.push_back(thread);
  }
  return threads;
}

// The threads of `pid` named `name`.
inline std::vector<ThreadClass> ThreadsNamed(pid_t pid, const std::string& name) {
  std::vector<ThreadClass> named;
  for (ThreadClass& thread : ThreadClassesOf(pid)) {
    if (thread.name == name) named.push_back(std::move(thread));
  }
  return named;
}

// Whether this process may take real-time classes at all.
inline bool RealTimePermitted() {
  sched_param parameters{};
  parameters.sched_priority = sched_get_priority_min(SCHED_FIFO);
  int previousClass = ::sched_getscheduler(0);
  sched_param previous{};
  ::sched_getparam(0, &previous);
  if (::sched_setscheduler(0, SCHED_FIFO, &parameters) != 0) return false;
  ::sched_setscheduler(0, previousClass, &previous);
  return true;
}

}  // namespace vantor::os::testing
