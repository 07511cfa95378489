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

// Inside AllNodeLocks: gives every node's mutexes back for a wait and
// takes them again, in the same order, when the scope ends.
class NodeLocksReleased {
 public:
  explicit NodeLocksReleased(KernelData& data) : data_(data) {
    UnlockNodeAccessMutexes(data_.nodeConfiguration);
    UnlockNodeRequestMutexes(data_.nodeConfiguration);
  }
  NodeLocksReleased(const NodeLocksReleased&) = delete;
  NodeLocksReleased& operator=(const NodeLocksReleased&) = delete;
  // Mutexes the CNC exit closed meanwhile are not taken; giving them back
  // later fails harmlessly.
  ~NodeLocksReleased() {
    static_cast<void>(LockNodeRequestMutexes(data_.nodeConfiguration));
    static_cast<void>(LockNodeAccessMutexes(data_.nodeConfiguration));
  }

 private:
  KernelData& data_;
};

}  // namespace vantor::kernel
