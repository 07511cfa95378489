#include "platform/devhost/deferred_call.h"

#include <pthread.h>

#include "platform/os/realtime_policy.h"

namespace vantor::devhost {

void DeferredCall::QueueState::Unlink(DeferredCall& call) {
  if (call.previous_ != nullptr) call.previous_->next_ = call.next_;
  if (call.next_ != nullptr) call.next_->previous_ = call.previous_;
  if (head == &call) head = call.next_;
  if (tail == &call) tail = call.previous_;
  call.next_ = call.previous_ = nullptr;
  call.queued_ = false;
}

DeferredCall::DeferredCall(DeferredCallWorker& worker, Routine routine)
    : queue_(worker.queue_), routine_(std::move(routine)) {}

DeferredCall::~DeferredCall() {
  std::unique_lock lock(queue_->mutex);
  if (queued_) queue_->Unlink(*this);
  queue_->idle.wait(lock, [this] { return queue_->running != this; });
}

bool DeferredCall::Queue(void* argument1, void* argument2, DeferredCallImportance importance) {
  QueueState& queue = *queue_;
  {
    std::lock_guard lock(queue.mutex);
    if (queued_ || queue.stopping) return false;
    queued_ = true;
    argument1_ = argument1;
    argument2_ = argument2;
    if (importance == DeferredCallImportance::kUrgent) {
      next_ = queue.head;
      previous_ = nullptr;
      if (queue.head != nullptr) queue.head->previous_ = this;
      queue.head = this;
      if (queue.tail == nullptr) queue.tail = this;
    } else {
      previous_ = queue.tail;
      next_ = nullptr;
      if (queue.tail != nullptr) queue.tail->next_ = this;
      queue.tail = this;
      if (queue.head == nullptr) queue.head = this;
    }
  }
  queue.wake.notify_one();
  return true;
}

bool DeferredCall::Remove() {
  std::lock_guard lock(queue_->mutex);
  if (!queued_) return false;
  queue_->Unlink(*this);
  queue_->idle.notify_all();
  return true;
}

DeferredCallWorker::DeferredCallWorker(std::string name)
    : name_(std::move(name)), queue_(std::make_shared<DeferredCall::QueueState>()) {
  thread_ = std::thread([queue = queue_] {
    os::ApplyRealTimeRole(os::RealTimeRole::kDeferredCall);
    Run(queue);
  });
  // Thread names are limited to 15 bytes; a longer name is simply cut.
  pthread_setname_np(thread_.native_handle(), name_.substr(0, 15).c_str());
}

DeferredCallWorker::~DeferredCallWorker() {
  {
    std::lock_guard lock(queue_->mutex);
    queue_->stopping = true;
  }
  queue_->wake.notify_all();
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

bool DeferredCallWorker::WaitIdle(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(queue_->mutex);
  return queue_->idle.wait_until(
      lock, deadline, [this] { return queue_->head == nullptr && queue_->running == nullptr; });
}

void DeferredCallWorker::Run(const std::shared_ptr<DeferredCall::QueueState>& queue) {
  std::unique_lock lock(queue->mutex);
  for (;;) {
    queue->wake.wait(lock, [&] { return queue->head != nullptr || queue->stopping; });
    if (queue->head == nullptr) return;  // stopping with nothing left
    DeferredCall& call = *queue->head;
    void* argument1 = call.argument1_;
    void* argument2 = call.argument2_;
    queue->Unlink(call);
    queue->running = &call;
    lock.unlock();
    call.routine_(argument1, argument2);
    lock.lock();
    queue->running = nullptr;
    queue->idle.notify_all();
  }
}

}  // namespace vantor::devhost
