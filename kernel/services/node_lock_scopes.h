// Scopes that hold the nodes' mutexes around a command that switches the
// drives: the request mutexes, then the access mutexes, given back in
// reverse.
#pragma once

#include "kernel/core/kernel_locks.h"

namespace vantor::kernel {

// Every node's request mutex, then every access mutex. With no nodes the
// waits fail at once and nothing is held, which is all there is to hold.
class AllNodeLocks {
 public:
  explicit AllNodeLocks(KernelData& data)
      : data_(data),
        requests_(LockNodeRequestMutexes(data.nodeConfiguration).acquired()),
        access_(LockNodeAccessMutexes(data.nodeConfiguration).acquired()) {}
  AllNodeLocks(const AllNodeLocks&) = delete;
  AllNodeLocks& operator=(const AllNodeLocks&) = delete;
  ~AllNodeLocks() {
    if (access_) UnlockNodeAccessMutexes(data_.nodeConfiguration);
    if (requests_) UnlockNodeRequestMutexes(data_.nodeConfiguration);
  }

 private:
  KernelData& data_;
  bool requests_;
  bool access_;
};

}  // namespace vantor::kernel
