#include "kernel/services/termination_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>

namespace vantor::kernel {

namespace {

sigset_t TerminationSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  return signals;
}

}  // namespace

bool BlockTerminationSignals() {
  const sigset_t signals = TerminationSignals();
  return pthread_sigmask(SIG_BLOCK, &signals, nullptr) == 0;
}

TerminationSignalWatcher::TerminationSignalWatcher(const os::MessageLoop& loop) {
  const sigset_t signals = TerminationSignals();
  signalFd_ = signalfd(-1, &signals, SFD_CLOEXEC);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  if (signalFd_ < 0 || stopFd_ < 0) return;
  watcher_ = std::thread([this, &loop] { Watch(loop); });
}

TerminationSignalWatcher::~TerminationSignalWatcher() {
  if (watcher_.joinable()) {
    const std::uint64_t one = 1;
    while (write(stopFd_, &one, sizeof(one)) < 0 && errno == EINTR) {
    }
    watcher_.join();
  }
  if (signalFd_ >= 0) close(signalFd_);
  if (stopFd_ >= 0) close(stopFd_);
}

void TerminationSignalWatcher::Watch(const os::MessageLoop& loop) const {
  std::array<pollfd, 2> fds = {{{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}}};
  for (;;) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) return;
    if ((fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      if (read(signalFd_, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
        static_cast<void>(loop.Post({os::kExitCommand, 0}));
      }
    }
  }
}

}  // namespace vantor::kernel
