// Every node's request mutex, then every access mutex, held for a scope:
// what a handler takes before it switches the drives.
#pragma once

#include "kernel/core/kernel_data.h"
#include "kernel/core/kernel_locks.h"

namespace vantor::kernel {

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
