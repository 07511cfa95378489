// An SDO upload that may come in segments, into a bounded buffer of the
// caller's, run by a step function one cycle at a time.
//
// A server that breaks the protocol or sends more than the buffer holds is
// told so with an abort frame, so that it does not stay in the transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "kernel/core/canopen/node_object.h"
#include "kernel/core/canopen/sdo_client.h"

namespace vantor::canopen {

class SegmentedUpload {
 public:
  // Frames the initiate on the node's current SDO identifiers. False when
  // the node's records are unusable.
  bool Start(CycleContext& cycle, NodeObject& node, std::uint16_t index, std::uint8_t subindex,
             std::span<std::uint8_t> buffer) noexcept;

  // One cycle of the transfer. When done, the node's request result holds
  // the outcome and `Received` the bytes in the buffer.
  CheckState Step(CycleContext& cycle, NodeObject& node) noexcept;

  std::size_t Received() const noexcept { return offset_; }

 private:
  enum class Phase : std::uint8_t { Idle, Initiate, Segment, Aborting };

  CheckState Initiate(CycleContext& cycle, NodeObject& node) noexcept;
  CheckState Segment(CycleContext& cycle, NodeObject& node) noexcept;
  CheckState Abort(CycleContext& cycle, NodeObject& node, std::uint32_t abortCode) noexcept;
  CheckState RequestSegment(CycleContext& cycle, NodeObject& node) noexcept;

  Phase phase_ = Phase::Idle;
  std::uint16_t index_ = 0;
  std::uint8_t subindex_ = 0;
  bool toggle_ = false;
  std::uint32_t remaining_ = 0;
  std::size_t offset_ = 0;
  std::span<std::uint8_t> buffer_{};
};

}  // namespace vantor::canopen
