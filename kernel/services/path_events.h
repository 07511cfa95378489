// The named events of event segments: made when the segment is prepared,
// set by the cycle when the drives pass the segment's point, closed when
// the retired segment is freed.
#pragma once

#include "kernel/core/motion/event_factory.h"
#include "kernel/core/motion/segment_list.h"

namespace vantor::kernel {

class KernelPathEvents final : public motion::PathEventFactory, public motion::PathEventCloser {
 public:
  // The event exists not signalled afterwards, also when an earlier path
  // left it set: a waiter must not see it before the drives pass the point.
  std::optional<motion::PathEventHandle> CreatePathEvent(std::string_view name) override;
  void ClosePathEvent(motion::PathEventHandle handle) noexcept override;
};

// Cycle thread: sets the event behind a handle of `KernelPathEvents`.
void SetKernelPathEvent(motion::PathEventHandle handle) noexcept;

}  // namespace vantor::kernel
