#include "drivers/canlayer/setpoint_ring.h"

namespace vantor::canlayer {
namespace {

namespace eb = common::exchange_buffer;
constexpr int kEntriesPerFrame = 3;

std::int16_t Next(std::int16_t index) noexcept {
  return static_cast<std::int16_t>((index + 1) % SetpointRing::kCapacity);
}

}  // namespace

int SetpointRing::QueuedCount() const noexcept {
  return ((writeIndex_ - readIndex_) % kCapacity + kCapacity) % kCapacity;
}

void SetpointRing::Clear() noexcept {
  readIndex_ = 0;
  writeIndex_ = 0;
}

void SetpointRing::Push(const SetpointValues& values) noexcept {
  entries_[static_cast<std::size_t>(writeIndex_)] = values;
  writeIndex_ = Next(writeIndex_);
}

void SetpointRing::Append(common::ConstExchangeBufferView exchange, int entries) noexcept {
  for (int i = 0; i < entries && i < static_cast<int>(common::kSetpointEntryCount); ++i) {
    SetpointValues values{};
    for (std::size_t axis = 0; axis < values.size(); ++axis)
      values[axis] = exchange.Load<std::int32_t>(eb::SetpointValueOffset(i, axis)).value_or(0);
    Push(values);
  }
}

bool SetpointRing::PadToWholeFrames(int fillLimit) noexcept {
  const int queued = QueuedCount();
  const int beyondWholeFrames = queued % kEntriesPerFrame;
  if (beyondWholeFrames == 0) return true;
  const int padding = kEntriesPerFrame - beyondWholeFrames;
  if (fillLimit < queued + padding) return false;
  const int newest = writeIndex_ == 0 ? kCapacity - 1 : writeIndex_ - 1;
  const SetpointValues repeated = entries_[static_cast<std::size_t>(newest)];
  for (int i = 0; i < padding; ++i) Push(repeated);
  return true;
}

SetpointValues* SetpointRing::Take() noexcept {
  if (Empty()) return nullptr;
  SetpointValues* entry = &entries_[static_cast<std::size_t>(readIndex_)];
  readIndex_ = Next(readIndex_);
  return entry;
}

}  // namespace vantor::canlayer
