#include "kernel/core/drive_answer_watches.h"

#include <algorithm>
#include <cmath>

namespace vantor::kernel {

namespace {

// The stop-on-input inputs come in an answer of full length only.
constexpr std::uint8_t kInputAnswerLength = 8;
// Hand operation reaches the first six drives only.
constexpr std::uint32_t kHandwheelDrives = 6;
constexpr std::uint8_t kHandStepClearBit = 1u << 2;
constexpr std::uint8_t kHandFlagBit = 1u << 3;
constexpr std::uint8_t kLatchedBit = 1u << 4;
constexpr std::uint8_t kF1Bit = 1u << 5;
constexpr std::uint8_t kF2Bit = 1u << 6;
constexpr std::uint16_t kInternalLimitActiveBit = 1u << 11;

std::uint32_t NodeCount(const KernelData& data) noexcept {
  return data.nodeConfiguration.BoundedNodeCount();
}

std::uint32_t InterpolatedCount(const KernelData& data) noexcept {
  return std::min(data.nodeConfiguration.interpolatedNodeCount, NodeCount(data));
}

std::uint32_t CoordinateCount(const KernelData& data) noexcept {
  return std::min<std::uint32_t>(data.motionRuntime.path.axisCount, motion::kMaxCoordinates);
}

void ClearLowerFlags(CoordinateRecord& coordinate) noexcept {
  coordinate.negativeLimitOkLatched = 0;
  coordinate.negativeLimitOkCurrent = 0;
}

void ClearUpperFlags(CoordinateRecord& coordinate) noexcept {
  coordinate.positiveLimitOkLatched = 0;
  coordinate.positiveLimitOkCurrent = 0;
}

}  // namespace

void WatchStopOnInput(KernelData& data) noexcept {
  MotionRuntime& runtime = data.motionRuntime;
  const StopOnInputWatch& watch = runtime.stopOnInput;
  if (watch.armed == 0) return;
  KernelStateFlags& s = data.state;
  const std::uint32_t interpolated = InterpolatedCount(data);
  for (std::uint32_t i = 0; i < interpolated; ++i) {
    NodeAxisRuntime& axis = runtime.nodes[i];
    if (axis.answered != 0 && axis.answerLength == kInputAnswerLength) {
      axis.inputPort = axis.flagByte;
    }
  }
  if (s.stopOnInputActive == 0 || s.quickStopping != 0 || s.stopped != 0) return;
  const std::uint8_t pattern = watch.inputPattern & watch.inputMask;
  for (std::uint32_t i = 0; i < interpolated; ++i) {
    NodeAxisRuntime& axis = runtime.nodes[i];
    if ((axis.inputPort & watch.inputMask) == pattern) axis.inputHit = 1;
    if (axis.inputHit != 0) s.stopOnInputTriggered = 1;
  }
}

void ReadHandwheelFlagBytes(KernelData& data) noexcept {
  MotionRuntime& runtime = data.motionRuntime;
  KernelStateFlags& s = data.state;
  const std::uint32_t drives = std::min(NodeCount(data), kHandwheelDrives);
  if (runtime.handwheel.evaluate == 0) {
    s.handwheelLatched = 0;
    s.handwheelF1 = 0;
    s.handwheelF2 = 0;
    for (std::uint32_t i = 0; i < kHandwheelDrives; ++i) runtime.nodes[i].handFlag = 0;
    return;
  }
  for (std::uint32_t i = 0; i < drives; ++i) {
    if (runtime.nodes[i].answered == 0) return;
  }
  s.handwheelLatched = 1;
  s.handwheelF1 = 1;
  s.handwheelF2 = 1;
  for (std::uint32_t i = 0; i < drives; ++i) {
    NodeAxisRuntime& axis = runtime.nodes[i];
    const std::uint8_t flags = axis.flagByte;
    if ((flags & kHandStepClearBit) != 0) runtime.handwheel.handStep = 0;
    axis.handFlag = (flags & kHandFlagBit) != 0 ? 1 : 0;
    if ((flags & kLatchedBit) == 0) s.handwheelLatched = 0;
    if ((flags & kF1Bit) == 0) s.handwheelF1 = 0;
    if ((flags & kF2Bit) == 0) s.handwheelF2 = 0;
  }
}

void WatchDriveLimitStops(KernelData& data) noexcept {
  const MotionRuntime& runtime = data.motionRuntime;
  const std::uint32_t first = data.state.handwheelActive != 0 ? 0 : InterpolatedCount(data);
  const std::uint32_t last = std::min(NodeCount(data), CoordinateCount(data));
  for (std::uint32_t i = first; i < last; ++i) {
    const NodeObject* node = data.nodeConfiguration.Node(i);
    const NodeAxisRuntime& axis = runtime.nodes[i];
    if (node == nullptr || axis.answered == 0 || node->can->handlingLimitWord == 0) continue;
    CoordinateRecord& coordinate = data.coordinates[i];
    if ((axis.statusword & kInternalLimitActiveBit) == 0) {
      coordinate.negativeLimitOkCurrent = 1;
      coordinate.positiveLimitOkCurrent = 1;
      continue;
    }
    const double lower = node->can->softwareLimit1;
    const double upper = node->can->softwareLimit2;
    const double actual = axis.actual;
    if (actual <= lower) {
      ClearLowerFlags(coordinate);
    } else if (actual >= upper) {
      ClearUpperFlags(coordinate);
    } else if (actual - lower < upper - actual) {
      ClearLowerFlags(coordinate);
    } else {
      ClearUpperFlags(coordinate);
    }
  }
}

bool AllSoftwareLimitsOk(const KernelData& data) noexcept {
  for (std::uint32_t i = 0; i < CoordinateCount(data); ++i) {
    const CoordinateRecord& coordinate = data.coordinates[i];
    if (coordinate.settings.limitsEnabled == 0) continue;
    if (coordinate.negativeLimitOkLatched == 0 || coordinate.positiveLimitOkLatched == 0 ||
        coordinate.negativeLimitOkCurrent == 0 || coordinate.positiveLimitOkCurrent == 0) {
      return false;
    }
  }
  return true;
}

}  // namespace vantor::kernel
