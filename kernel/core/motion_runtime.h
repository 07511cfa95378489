// The motion record's run-time part: the path (queue, ramp, set positions,
// pending events), the measured positions and velocities of the motion
// axes and the nodes, and the halt states of the drive stop.
#pragma once

#include <array>
#include <cstdint>

#include "kernel/core/canopen/node_object.h"
#include "kernel/core/motion/motion_inputs.h"
#include "kernel/core/motion/path_motion.h"

namespace vantor::kernel {

struct KernelData;

// Distance summed over a window; at the window's end the velocity is taken.
struct VelocityMeasure {
  double clock_s = 0.0;
  double window_s = 0.0;
  double distance = 0.0;  // units
  double velocity = 0.0;  // units/s
};

// Adds a cycle's distance; once the clock has reached the window the
// velocity is taken (0 over a clock too short to divide by) and the sums
// start again.
void MeasureDistance(VelocityMeasure& measure, double change) noexcept;

struct MotionAxisRuntime {
  double actual = 0.0;  // units
  double change = 0.0;  // units in the last cycle
  VelocityMeasure measure;
};

// What the cycle keeps of each node's cyclic answer.
struct NodeAxisRuntime {
  // The answer record holds the node's cyclic data.
  std::uint32_t answerValid = 0;
  double actual = 0.0;  // units
  double change = 0.0;  // units in the last cycle
  VelocityMeasure measure;
  std::uint32_t inMotion = 0;
  std::uint32_t targetReached = 1;
  std::uint16_t statusword = 0;
  std::uint8_t inputByte = 0;
  std::uint8_t flagByte = 0;
  // This cycle's answer held cyclic data and the synchronisation replied.
  std::uint32_t answered = 0;
  std::uint8_t answerLength = 0;
  // The drive's digital inputs as the stop-on-input watch last took them.
  std::uint8_t inputPort = 0;
  // The watched inputs matched their pattern.
  std::uint32_t inputHit = 0;
  // The drive reports hand operation (its flag byte's bit 3).
  std::uint32_t handFlag = 0;
};

// What the stop-on-input commands set for the cycle's watch of the
// drives' inputs.
struct StopOnInputWatch {
  std::uint32_t armed = 0;
  std::uint8_t inputMask = 0;
  std::uint8_t inputPattern = 0;
};

// What the handwheel commands set for the cycle's reading of the drives'
// flag bytes, and what the cycle reads from them.
struct HandwheelFlags {
  // The flag bytes are evaluated.
  std::uint32_t evaluate = 0;
  // Cleared by a flag byte's bit 2.
  std::uint32_t handStep = 0;
};

// The wait for handling axes to stand: the nodes the waiting request
// selected (bit k = node k; its handler sets them before it waits) and the
// settle countdown, ms.
struct HandlingAxesWait {
  canopen::NodeMask selected = 0;
  double settle_ms = 0.0;
};

struct MotionRuntime {
  motion::PathMotion path;
  // Sets the event behind a path event's handle on the cycle thread; given
  // by whoever makes the events. Without it reached events are only
  // retired.
  void (*setPathEvent)(motion::PathEventHandle) noexcept = nullptr;
  std::uint32_t holdWord = 0;
  // An application's raw request is on the bus (the cycle notes it before
  // the motion steps): a drive stop or resumption waits for its end, since
  // the request may hold the nodes' access mutexes on this very thread.
  std::uint32_t applicationRequestPending = 0;
  std::uint32_t halting = 0;
  std::uint32_t halted = 0;
  StopOnInputWatch stopOnInput;
  HandwheelFlags handwheel;
  HandlingAxesWait handlingWait;
  VelocityMeasure pathMeasure;
  std::array<MotionAxisRuntime, motion::kMaxCoordinates> axes{};
  std::array<NodeAxisRuntime, canopen::kMaxNodes> nodes{};
};

// At the CNC initialisation and the reset: the path empty and at rest (the
// queue and the pending events go to the retired list), the settings of
// axes and drives taken over, the set positions kept.
void SetUpMotionRuntime(KernelData& data) noexcept;

// Under the kernel data lock: coordinate k's set position takes node k's
// position, for every k below both the coordinate and the node count (after
// homing, the zero is where the drives report).
void TakeNodePositionsIntoSetPositions(KernelData& data) noexcept;
// ... for node `nodeIndex` alone.
void TakeNodePositionIntoSetPosition(KernelData& data, std::uint32_t nodeIndex) noexcept;
// Under the kernel data lock: node `nodeIndex`'s coordinate set position
// moves by `shift` units with its home (a home shift of -`shift`).
void MoveSetPositionWithHome(KernelData& data, std::uint32_t nodeIndex, double shift) noexcept;

// Server thread, under the kernel data lock: frees what the cycle retired.
void FreeRetiredSegments(KernelData& data, motion::PathEventCloser& events) noexcept;
// Server thread, between commands: takes the kernel data lock only to take
// the retired list over in one splice, and frees it after releasing the
// lock, so a long list never holds up the cycle. Does nothing before the
// CNC initialisation or when the lock cannot be taken.
void SweepRetiredSegments(KernelData& data, motion::PathEventCloser& events) noexcept;

}  // namespace vantor::kernel
