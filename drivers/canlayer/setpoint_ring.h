// The driver's set-point ring of the buffered cycle: up to 500 entries of
// six set-point values, filled by the exchange requests and drained three
// entries per set-point frame by the tick.
#pragma once

#include <array>
#include <cstdint>

#include "common/exchange_buffer.h"

namespace vantor::canlayer {

using SetpointValues = std::array<std::int32_t, common::kSetpointAxisCount>;

class SetpointRing {
 public:
  static constexpr int kCapacity = static_cast<int>(common::exchange_buffer::kRingCapacity);

  int QueuedCount() const noexcept;
  bool Empty() const noexcept { return readIndex_ == writeIndex_; }
  void Clear() noexcept;

  // Appends the request's new entries at the write index (the caller has
  // checked the count against the fill limit).
  void Append(common::ConstExchangeBufferView exchange, int entries) noexcept;
  // Pads to a multiple of three by repeating the newest entry; false (and
  // nothing added) when the padding would pass `fillLimit`.
  bool PadToWholeFrames(int fillLimit) noexcept;

  // Taking entries for a frame: Take advances the read index; the caller
  // may go back to a remembered index when it consumes nothing.
  int ReadIndex() const noexcept { return readIndex_; }
  void RewindTo(int readIndex) noexcept { readIndex_ = static_cast<std::int16_t>(readIndex); }
  // The entry at the read index, or null when the ring is empty.
  SetpointValues* Take() noexcept;

 private:
  void Push(const SetpointValues& values) noexcept;

  std::array<SetpointValues, kCapacity> entries_{};
  std::int16_t readIndex_ = 0;
  std::int16_t writeIndex_ = 0;
};

}  // namespace vantor::canlayer
