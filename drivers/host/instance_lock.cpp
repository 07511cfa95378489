#include "drivers/host/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/os/runtime_dir.h"

namespace vantor::host {

namespace {
constexpr const char* kLockFileName = "devhost.lock";
// Rounds against devhosts that end while this one starts; each lost round
// means another devhost came and went meanwhile.
constexpr int kLockAttempts = 16;
}  // namespace

InstanceLock::~InstanceLock() {
  if (fd_ < 0) return;
  // Removed before the lock goes, so the next devhost makes a fresh file.
  ::unlink(path_.c_str());
  ::close(fd_);
}

bool InstanceLock::Acquire(std::string& error) {
  if (fd_ >= 0) return true;
  const auto folder = os::RuntimeDirectory();
  if (!folder) {
    error = "no runtime folder: " + std::string(os::OsErrorName(folder.error()));
    return false;
  }
  const std::string path = *folder + "/" + kLockFileName;
  // A devhost that ends unlinks the file it locked; one that opens that file
  // just before would lock a name nobody sees, so it looks again.
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      error = "cannot open " + path + ": " + std::strerror(errno);
      return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int reason = errno;
      ::close(fd);
      if (reason == EWOULDBLOCK) {
        error = "another devhost already runs in namespace \"" + os::CurrentNamespace() + "\"";
      } else {
        error = "cannot lock " + path + ": " + std::strerror(reason);
      }
      return false;
    }
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
        opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
      fd_ = fd;
      path_ = path;
      return true;
    }
    ::close(fd);
  }
  error = "cannot lock " + path + ": it keeps being replaced";
  return false;
}

}  // namespace vantor::host
