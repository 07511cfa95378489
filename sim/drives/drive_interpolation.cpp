// Interpolated position: the set-points the kernel streams into 0x60C1 are
// buffered and taken one per SYNC; the axis crosses each in one
// interpolation period (0x60C2). Without SYNC frames the axis stands, and
// a drive that misses too many of them faults with a sync loss.
#include <algorithm>
#include <cmath>
#include <limits>

#include "sim/canopen/pdo_engine.h"
#include "sim/drives/drive_model.h"

namespace vantor::sim::drives {

SimTime DriveModel::InterpolationPeriod() const {
  const double units = UnsignedValue(object::kInterpolationPeriod, 1);
  const auto exponent = SignedValue(object::kInterpolationPeriod, 2);
  const double seconds = units * std::pow(10.0, static_cast<double>(exponent));
  return std::max<SimTime>(1, static_cast<SimTime>(std::llround(seconds * 1e9)));
}

bool DriveModel::InterpolationActive() const {
  return stateMachine_.State() == DriveState::kOperationEnabled &&
         Mode() == OperationMode::kInterpolatedPosition &&
         (controlword_ & controlword::kNewSetPoint) != 0;
}

void DriveModel::UpdateSyncWatch() {
  if (!InterpolationActive()) {
    syncDeadline_ = kNever;
    return;
  }
  // Armed from the moment interpolation starts, so a master that never
  // sends a SYNC is caught too.
  if (syncDeadline_ == kNever) {
    syncDeadline_ = now_ + InterpolationPeriod() * config_.behaviour.missedSyncLimit;
  }
}

void DriveModel::OnSync(SimTime now) {
  now_ = std::max(now_, now);
  if (!InterpolationActive()) return;
  syncDeadline_ = now_ + InterpolationPeriod() * config_.behaviour.missedSyncLimit;
  ConsumeSetPoint();
  Schedule();
  Publish();
}

std::size_t DriveModel::BufferedDepth() const {
  const std::size_t capacity = Objects().Unsigned(object::kInterpolationBuffer, 1);
  const std::size_t depth = Objects().Unsigned(object::kInterpolationBuffer, 2);
  return std::clamp<std::size_t>(depth, 1, std::max<std::size_t>(capacity, 1));
}

void DriveModel::QueueSetPoint(std::int64_t position) {
  if (position == kSetPointMarker || stoppedOnInput_) return;
  const std::size_t capacity = Objects().Unsigned(object::kInterpolationBuffer, 1);
  if (setPoints_.size() >= capacity) {
    ++droppedSetPoints_;
    return;
  }
  setPoints_.push_back(static_cast<std::int32_t>(
      std::clamp<std::int64_t>(position, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max())));
}

void DriveModel::AcceptSetPointRecord(int pdo) {
  const std::uint16_t mapping = canopen::PdoMappingIndex(canopen::PdoDirection::kReceive, pdo);
  const auto count = static_cast<std::uint8_t>(Objects().Unsigned(mapping, 0));
  bool first = false;
  bool deltas = false;
  bool handwheel = false;
  for (std::uint8_t sub = 1; sub <= count; ++sub) {
    const auto entry = static_cast<std::uint32_t>(Objects().Unsigned(mapping, sub));
    if (entry == canopen::MappingEntry(object::kInterpolationData, 1, 32)) first = true;
    if (entry == canopen::MappingEntry(object::kInterpolationData, 3, 16)) deltas = true;
    if (entry == canopen::MappingEntry(object::kHandwheel, handwheel::kCounter, 16))
      handwheel = true;
  }
  if (handwheel) OnHandwheelFrame();
  if (!first) return;
  const std::int64_t e0 = SignedValue(object::kInterpolationData, 1);
  // A header record carries no position.
  if (e0 == kSetPointMarker) return;
  if (!deltas) {
    // The absolute position frame: the interpolation starts over from it.
    setPoints_.clear();
    QueueSetPoint(e0);
    return;
  }
  const std::int64_t e1 = e0 + SignedValue(object::kInterpolationData, 2);
  const std::int64_t e2 = e1 + SignedValue(object::kInterpolationData, 3);
  QueueSetPoint(e0);
  QueueSetPoint(e1);
  QueueSetPoint(e2);
}

void DriveModel::OnRpdoApplied(int pdo, SimTime now) {
  now_ = std::max(now_, now);
  AcceptSetPointRecord(pdo);
  Schedule();
  Publish();
}

void DriveModel::ConsumeSetPoint() {
  // Whatever the last segment had left is done by now.
  if (segment_) StepInterpolation();
  if (setPoints_.empty()) return;
  InterpolationSegment segment;
  segment.from = axis_.position;
  segment.to = static_cast<double>(setPoints_.front()) + zero_;
  segment.start = now_;
  segment.duration = InterpolationPeriod();
  setPoints_.pop_front();
  segment_ = segment;
  axis_.velocity =
      (segment.to - segment.from) / (static_cast<double>(segment.duration) * kSecondsPerNanosecond);
}

void DriveModel::StepInterpolation() {
  if (!segment_) {
    axis_.velocity = 0.0;
    return;
  }
  const double elapsed = static_cast<double>(now_ - segment_->start);
  const double fraction = std::min(1.0, elapsed / static_cast<double>(segment_->duration));
  axis_.position = segment_->from + (segment_->to - segment_->from) * fraction;
  if (fraction >= 1.0) {
    axis_.position = segment_->to;
    axis_.velocity = 0.0;
    segment_.reset();
  }
}

}  // namespace vantor::sim::drives
