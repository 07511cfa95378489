// One devhost per namespace: a lock file in the namespace's runtime folder,
// held for the program's life. The kernel drops the lock when the holder
// ends, however it ends.
#pragma once

#include <string>

namespace vantor::host {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // False with a message when another devhost holds the namespace or the
  // runtime folder cannot be used.
  bool Acquire(std::string& error);

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace vantor::host
