// The motion processing of the real-time cycle, in its order: the global
// slot's reply, the drives' answers, the measured velocities, the drive
// stop, the path events, the tail with the resumption of the drives and the
// interpolation. Runs on the cycle thread with every kernel lock held;
// allocates nothing and never waits beyond the 1 ms tries of the node
// mutexes.
#pragma once

#include <cstdint>

#include "common/exchange_buffer.h"
#include "kernel/core/kernel_data.h"
#include "kernel/core/motion/path_interpolation.h"

namespace vantor::kernel {

// What the path signals through the node configuration's events. Path
// events are set through `setPathEvent` (the maker of the events supplies
// it); without one they are only retired.
class KernelPathSignals final : public motion::PathSignals {
 public:
  explicit KernelPathSignals(NodeConfiguration& nodes) noexcept : nodes_(nodes) {}
  void SetPathEvent(motion::PathEventHandle handle) noexcept override;
  void SignalMotionState() noexcept override;
  void (*setPathEvent)(motion::PathEventHandle) noexcept = nullptr;

 private:
  NodeConfiguration& nodes_;
};

// Before the drives' answers are read: a node's answer record holds its
// cyclic data while its records are armed for the cyclic exchange and no
// request or stop step uses them.
void FollowCyclicAnswers(KernelData& data) noexcept;
// Step 1 of the order: the synchronised start's reply flags.
void TrackGlobalSlotReply(KernelData& data, common::ExchangeBuffer& exchange) noexcept;
// Steps 3 to 8 and the tail, after the CAN object list's answer step.
void ProcessPathCycle(KernelData& data, common::ExchangeBuffer& exchange) noexcept;
// Every pending event closed unset: the cycle stops or timed out.
void DropPathEvents(KernelData& data) noexcept;

// The steps, each usable on its own.
void UpdateAxesFromDrives(KernelData& data, common::ExchangeBuffer& exchange) noexcept;
void MeasureVelocities(KernelData& data) noexcept;
void SuperviseMotionStop(KernelData& data, common::ExchangeBuffer& exchange) noexcept;
void ResumeAfterStop(KernelData& data, common::ExchangeBuffer& exchange) noexcept;
// Every interpolated drive's statusword has bit 15 set.
bool AllDrivesReportBit15(const KernelData& data) noexcept;
// The drive stop's test over every node and the state words.
bool MotionAllowed(const KernelData& data) noexcept;

}  // namespace vantor::kernel
