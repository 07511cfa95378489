// Deferred procedure calls: work that an interrupt handler hands to a
// device's worker thread.
//
// Each device has one worker; its calls run one after the other, in the
// order queued (a call queued as urgent goes to the head). Queueing a call
// that is already queued changes nothing and reports so, which keeps a
// second completion of the same request out. Queueing never allocates and
// never blocks on anything but the worker's short queue lock, so an
// interrupt handler may queue. The worker takes the deferred call's
// real-time role (platform/os/realtime_policy.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vantor::devhost {

class DeferredCallWorker;

enum class DeferredCallImportance { kNormal, kUrgent };

class DeferredCall {
 public:
  using Routine = std::function<void(void* argument1, void* argument2)>;

  DeferredCall(DeferredCallWorker& worker, Routine routine);
  // Takes the call off its queue and waits for a running call to end.
  ~DeferredCall();
  DeferredCall(const DeferredCall&) = delete;
  DeferredCall& operator=(const DeferredCall&) = delete;

  // False when the call was already queued (its arguments stay as they
  // were) or its worker has ended.
  bool Queue(void* argument1, void* argument2,
             DeferredCallImportance importance = DeferredCallImportance::kNormal);
  // True when the call was queued and is now taken off again.
  bool Remove();

 private:
  friend class DeferredCallWorker;
  struct QueueState;
  std::shared_ptr<QueueState> queue_;
  Routine routine_;
  // Guarded by the queue's lock.
  bool queued_ = false;
  void* argument1_ = nullptr;
  void* argument2_ = nullptr;
  DeferredCall* next_ = nullptr;
  DeferredCall* previous_ = nullptr;
};

// The queue a worker serves; shared with its thread and its calls, so that
// the worker may end from inside one of its own calls.
struct DeferredCall::QueueState {
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  DeferredCall* head = nullptr;
  DeferredCall* tail = nullptr;
  DeferredCall* running = nullptr;
  bool stopping = false;

  void Unlink(DeferredCall& call);
};

class DeferredCallWorker {
 public:
  explicit DeferredCallWorker(std::string name);
  // Runs what is still queued, then ends the thread. When the worker is
  // destroyed from one of its own calls the thread ends after that call.
  ~DeferredCallWorker();
  DeferredCallWorker(const DeferredCallWorker&) = delete;
  DeferredCallWorker& operator=(const DeferredCallWorker&) = delete;

  // Waits until nothing is queued or running; false at the deadline.
  bool WaitIdle(std::chrono::steady_clock::time_point deadline);

  const std::string& Name() const noexcept { return name_; }

 private:
  friend class DeferredCall;
  static void Run(const std::shared_ptr<DeferredCall::QueueState>& queue);

  const std::string name_;
  const std::shared_ptr<DeferredCall::QueueState> queue_;
  std::thread thread_;
};

}  // namespace vantor::devhost
