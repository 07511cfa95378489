#include "platform/os/internal/child_reaper.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif

namespace vantor::os::internal {
namespace {

class ChildReaper {
 public:
  ChildReaper() { ::pthread_atfork(Prepare, Parent, Child); }

  static ChildReaper& Instance();

  void Add(int pidfd) {
    std::lock_guard guard(mutex_);
    if (!started_) {
      wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      try {
        std::thread([this] { Run(); }).detach();
        started_ = wakeFd_ >= 0;
      } catch (const std::system_error&) {
        started_ = false;
      }
      if (!started_) {
        // Without the helper the child is reaped as a zombie later by the
        // system when this process ends; nothing better is possible.
        ::close(pidfd);
        return;
      }
    }
    pending_.push_back(pidfd);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
  }

 private:
  static void Prepare() { Instance().mutex_.lock(); }
  static void Parent() { Instance().mutex_.unlock(); }
  // The helper thread does not exist in a forked child; start afresh there.
  static void Child() {
    ChildReaper& reaper = Instance();
    new (&reaper.mutex_) std::mutex();
    reaper.started_ = false;
    reaper.pending_.clear();
    reaper.wakeFd_ = -1;
  }

  void Run() {
    std::vector<int> watched;
    std::vector<pollfd> polled;
    for (;;) {
      {
        std::lock_guard guard(mutex_);
        watched.insert(watched.end(), pending_.begin(), pending_.end());
        pending_.clear();
      }
      polled.clear();
      polled.push_back(pollfd{wakeFd_, POLLIN, 0});
      for (const int fd : watched) polled.push_back(pollfd{fd, POLLIN, 0});
      if (::poll(polled.data(), polled.size(), -1) < 0 && errno != EINTR) return;
      if ((polled[0].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &count, sizeof count);
      }
      std::vector<int> stillRunning;
      for (std::size_t i = 1; i < polled.size(); ++i) {
        const int fd = polled[i].fd;
        if (polled[i].revents == 0) {
          stillRunning.push_back(fd);
          continue;
        }
        siginfo_t info{};
        if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(fd), &info,
                     WEXITED | WNOHANG) == 0 &&
            info.si_pid == 0) {
          stillRunning.push_back(fd);
        } else {
          ::close(fd);
        }
      }
      watched.swap(stillRunning);
    }
  }

  std::mutex mutex_;
  bool started_ = false;
  int wakeFd_ = -1;
  std::vector<int> pending_;
};

ChildReaper& ChildReaper::Instance() {
  // Never destroyed: the helper thread may still run at exit.
  static ChildReaper* reaper = new ChildReaper();
  return *reaper;
}

}  // namespace

void ReapWhenEnded(int pidfd) { ChildReaper::Instance().Add(pidfd); }

}  // namespace vantor::os::internal
