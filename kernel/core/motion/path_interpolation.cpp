#include "kernel/core/motion/path_interpolation.h"

#include <algorithm>
#include <cmath>

#include "kernel/core/motion/header_entries.h"
#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/path_velocity_ramp.h"
#include "kernel/core/motion/tolerances.h"

namespace vantor::motion {

namespace {

namespace xb = common::exchange_buffer;

using Positions = std::array<double, kMaxCoordinates>;

// A path velocity at or below this (units/s) stands.
constexpr double kRestVelocity = kNegligibleMagnitude;

void SetEntryCount(common::ExchangeBuffer& exchange, std::int32_t count) noexcept {
  exchange.Set(xb::kSetpointCount, static_cast<std::int16_t>(count));
}

void SetEndFlag(common::ExchangeBuffer& exchange, bool end) noexcept {
  exchange.Set(xb::kPadRequest, end ? 1 : 0);
}

void StopRing(PathCycle& cycle) noexcept {
  if (cycle.flags.pathMode == 0) cycle.exchange.Set(xb::kRingControl, xb::kRingNotInUse);
}

double CycleMilliseconds(const PathCycle& cycle) noexcept { return cycle.cycleTime * 1000.0; }

void ReloadEndWait(PathMotion& motion, const PathCycle& cycle) noexcept {
  motion.endWait_ms = cycle.moveEndMaxWait_ms;
}

// The wait for the drives' reached report ends at the latest after the end
// wait and the time the drives' own buffers take to play.
void ReloadReachedWait(PathMotion& motion, const PathCycle& cycle) noexcept {
  motion.reachedWait_ms =
      cycle.moveEndMaxWait_ms + cycle.driveBufferDepth * CycleMilliseconds(cycle);
}

// Whether the drives count as having reached their set-points: they say so,
// or they kept silent past the reached wait.
bool DrivesReached(PathMotion& motion, const PathCycle& cycle) noexcept {
  if (cycle.allDrivesReached) return true;
  motion.reachedWait_ms -= CycleMilliseconds(cycle);
  return motion.reachedWait_ms <= 0.0;
}

void RampAtRest(PathVelocityProfile& ramp) noexcept {
  ramp.velocity = 0.0;
  ramp.acceleration = 0.0;
  ramp.targetVelocity = 0.0;
  ramp.stepDistance = 0.0;
  ramp.timeLeft = 0.0;
  ramp.brakingPlanned = false;
  ramp.phase = ProfilePhase::kConstantVelocity;
}

void Retire(PathMotion& motion, PathSegment* segment) noexcept {
  if (segment != nullptr) PushSegment(motion.retired, *segment);
}

// Takes the head out of the queue and returns it.
PathSegment* UnlinkHead(PathMotion& motion) noexcept {
  SegmentQueue& queue = motion.queue;
  PathSegment* head = queue.head;
  if (head == nullptr) return nullptr;
  queue.head = head == queue.tail ? nullptr : head->next;
  if (queue.head != nullptr) {
    queue.head->previous = nullptr;
  } else {
    queue.tail = nullptr;
  }
  queue.count = std::max(queue.count - 1, 0);
  queue.changed = true;
  head->next = nullptr;
  head->previous = nullptr;
  return head;
}

void UpdateTargetVelocity(PathMotion& motion, const PathCycle& cycle) noexcept {
  const PathFlags& flags = cycle.flags;
  const PathSegment* head = motion.queue.head;
  double target = motion.programmedVelocity * motion.override;
  if (flags.motionStop != 0 || flags.motionAbort != 0 || flags.holdWord != 0 ||
      (head != nullptr && head->isMotion && !head->mayMove)) {
    target = 0.0;
  }
  bool keepAsking = false;
  if (!cycle.nodesReady) {
    target = 0.0;
    keepAsking = true;
  }
  if (motion.newTarget || target != motion.requestedVelocity) {
    motion.requestedVelocity = target;
    motion.ramp.requestedVelocity = target;
    motion.ramp.targetChanged = true;
  }
  motion.newTarget = keepAsking;
}

double ProgrammedPathVelocity(const PathMotion& motion, const PathSegment& segment) noexcept {
  const double linear = motion.linearProcessVelocity;
  const double rotary = motion.rotaryProcessVelocity;
  if (linear != kNoMoveMarker64) {
    const bool rotaryAxisAlone = !segment.isPath && segment.singleAxis < motion.axisCount &&
                                 !motion.axes[segment.singleAxis].linear;
    const double v = rotaryAxisAlone ? rotary : linear;
    return LimitVelocityByAxes(v, linear, rotary, segment,
                               std::span<const PathAxis>(motion.axes.data(), motion.axisCount));
  }
  // The rotary value holds the move's time in microseconds.
  const double moveTime = rotary * 1e-6;
  return IsPositiveFinite(moveTime) ? segment.length / moveTime : 0.0;
}

void StartMotionSegment(PathMotion& motion, const PathCycle& cycle, PathSegment& segment) noexcept {
  motion.newTarget = true;
  if (cycle.flags.pathMode != 0)
    motion.programmedVelocity = ProgrammedPathVelocity(motion, segment);
  const double entryVelocity = SegmentStartVelocity(motion.ramp.velocity, motion.kept, segment);
  UpdateTargetVelocity(motion, cycle);
  StartSegmentProfile(motion.ramp, segment, entryVelocity, motion.requestedVelocity);
  motion.segmentFinished = false;
}

enum class Take { kStarted, kRunOut };

// Takes segments from the head until a line or arc starts interpolation or
// the queue runs out. Events go to the pending list with the time the
// entries before them take to play.
Take TakeNextSegment(PathMotion& motion, PathCycle& cycle, std::int32_t queued,
                     std::int32_t entry) noexcept {
  SegmentQueue& queue = motion.queue;
  const std::int32_t visits = std::max(queue.count, 0) + 1;
  for (std::int32_t visit = 0; visit <= visits; ++visit) {
    PathSegment* head = queue.head;
    if (head == nullptr) return Take::kRunOut;
    if (head->state != 0) {
      // A started head is the motion segment that just ended.
      if (head == queue.tail) return Take::kRunOut;
      Retire(motion, motion.kept);
      motion.kept = UnlinkHead(motion);
      continue;
    }
    head->state = 1;
    if (head->inLookAhead) motion.lookAhead = true;
    if (head->isMotion) {
      StartMotionSegment(motion, cycle, *head);
      Retire(motion, motion.kept);
      motion.kept = nullptr;
      motion.headerDue = motion.headerMode != 0;
      return Take::kStarted;
    }
    PathSegment* taken = UnlinkHead(motion);
    if (taken->segmentKind == SegmentKind::kEvent) {
      const double entries = static_cast<double>(queued) + entry + cycle.driveBufferDepth;
      taken->eventDelay_us = static_cast<std::int64_t>(entries * cycle.cycleTime * 1e6);
      PushSegment(motion.pending, *taken);
      continue;
    }
    if (taken->segmentKind == SegmentKind::kMotionOrVelocity) {
      motion.linearProcessVelocity = taken->velocityA;
      motion.rotaryProcessVelocity = taken->velocityB;
    }
    Retire(motion, taken);
  }
  return Take::kRunOut;
}

void RunOutOfSegments(PathMotion& motion, PathFlags& flags) noexcept {
  flags.pathActive = 0;
  ClearSegmentQueue(motion, flags);
}

double AxisPositionAt(const SegmentAxisPart& part, double travelled, bool finished) noexcept {
  if (finished) return part.end;
  if (part.shape == AxisShape::kLinear) return part.start + travelled * part.factor;
  const double turned = travelled * part.factor;
  const double angle = part.decreasing ? part.startAngle - turned : part.startAngle + turned;
  return part.centre + part.radius * (part.cosineAxis ? std::cos(angle) : std::sin(angle));
}

void AdvancePath(PathMotion& motion, Positions& work, double& timeLeft) noexcept {
  PathSegment* head = motion.queue.head;
  PathVelocityProfile& ramp = motion.ramp;
  // Exits raised by the look-ahead after the segment started are used.
  if (ramp.endVelocityRequest != head->exitVelocity) {
    ramp.endVelocityRequest = head->exitVelocity;
    ramp.replan = true;
  }
  ramp.timeLeft = timeLeft;
  const double before = ramp.travelled;
  static_cast<void>(RampPathVelocity(ramp));
  timeLeft = MaxOf(ramp.timeLeft, 0.0);
  if (ramp.endReached) motion.segmentFinished = true;
  if (ramp.travelled == before && !motion.segmentFinished) return;
  for (std::uint32_t axis = 0; axis < motion.axisCount; ++axis) {
    work[axis] = AxisPositionAt(head->axes[axis], ramp.travelled, motion.segmentFinished);
  }
}

// The step to `work` may be sent: every position is a number and no axis
// leaves its software range.
bool StepMaySend(const PathMotion& motion, const Positions& previous,
                 const Positions& work) noexcept {
  const PathSegment* head = motion.queue.head;
  const bool watchLimits = head != nullptr && head->isMotion && head->mayMove;
  for (std::uint32_t axis = 0; axis < motion.axisCount; ++axis) {
    if (!std::isfinite(work[axis])) return false;
    const PathAxis& limits = motion.axes[axis];
    if (watchLimits && limits.limitsEnabled &&
        !IsStepWithinLimits(limits.lowerLimit, limits.upperLimit, previous[axis], work[axis])) {
      return false;
    }
  }
  return true;
}

// The path stops where it stands: the step is dropped, the head may not
// move on and the ramp rests.
void StopAtLimit(PathMotion& motion, const Positions& previous, Positions& work) noexcept {
  work = previous;
  PathSegment* head = motion.queue.head;
  if (head != nullptr && head->isMotion) {
    head->mayMove = false;
    // The head stays the head: its end was not sent.
    motion.segmentFinished = false;
    motion.ramp.endReached = false;
  }
  RampAtRest(motion.ramp);
  motion.requestedVelocity = 0.0;
  motion.ramp.requestedVelocity = 0.0;
  motion.ramp.targetChanged = false;
}

void WriteEntry(PathMotion& motion, common::ExchangeBuffer& exchange, std::int32_t entry,
                const Positions& work) noexcept {
  for (std::uint32_t k = 0; k < motion.entryAxisCount; ++k) {
    EntryAxis& axis = motion.entryAxes[k];
    if (axis.coordinate >= motion.axisCount) continue;
    const double position = work[axis.coordinate];
    const double value = axis.scalingEnabled ? axis.scalingFactor * position : position;
    axis.lastSent = DriveValueOf(value);
    static_cast<void>(exchange.Store<std::int32_t>(
        xb::SetpointValueOffset(static_cast<std::size_t>(entry), axis.slot), axis.lastSent));
  }
}

// After an abort the axes stand where the drives were sent.
void AdoptSentPositions(PathMotion& motion) noexcept {
  for (std::uint32_t k = 0; k < motion.entryAxisCount; ++k) {
    const EntryAxis& axis = motion.entryAxes[k];
    if (axis.coordinate >= motion.axisCount) continue;
    const double sent = static_cast<double>(axis.lastSent);
    const bool scaled =
        axis.scalingEnabled && std::fabs(axis.scalingFactor) >= kNegligibleMagnitude;
    motion.axes[axis.coordinate].setPosition = scaled ? sent / axis.scalingFactor : sent;
  }
}

void EndAbortedPath(PathMotion& motion, PathCycle& cycle, bool adoptSent) noexcept {
  PathFlags& flags = cycle.flags;
  ClearSegmentQueue(motion, flags);
  RampAtRest(motion.ramp);
  motion.segmentFinished = true;
  flags.motionAbort = 0;
  flags.motionStop = 0;
  SetEntryCount(cycle.exchange, 0);
  SetEndFlag(cycle.exchange, true);
  flags.motionActive = 0;
  flags.moving = 0;
  StopRing(cycle);
  if (adoptSent) AdoptSentPositions(motion);
  cycle.signals.SignalMotionState();
}

// Returns true when it has handled the cycle.
bool CheckPathEnd(PathMotion& motion, PathCycle& cycle) noexcept {
  PathFlags& flags = cycle.flags;
  if (flags.motionAbort == 0 || motion.ramp.velocity > kRestVelocity) {
    ReloadEndWait(motion, cycle);
    ReloadReachedWait(motion, cycle);
    return false;
  }
  const PathSegment* head = motion.queue.head;
  if (head != nullptr && head->state == 0) {
    EndAbortedPath(motion, cycle, false);
    return true;
  }
  if (QueuedEntries(cycle.exchange) != 0) {
    ReloadEndWait(motion, cycle);
    SetEntryCount(cycle.exchange, 0);
    SetEndFlag(cycle.exchange, true);
    return true;
  }
  motion.endWait_ms -= CycleMilliseconds(cycle);
  if (DrivesReached(motion, cycle) && (flags.moving == 0 || motion.endWait_ms <= 0.0)) {
    EndAbortedPath(motion, cycle, true);
    return true;
  }
  SetEntryCount(cycle.exchange, 0);
  SetEndFlag(cycle.exchange, true);
  if (!cycle.allDrivesReached && cycle.entryObserver != nullptr) {
    cycle.entryObserver->WindDown();
  }
  return true;
}

void HoldAtStop(PathMotion& motion, PathCycle& cycle, std::int32_t queued,
                std::int32_t fill) noexcept {
  if (cycle.flags.motionStop == 0 || motion.ramp.velocity > kRestVelocity) {
    motion.holdCounter = fill;
    ReloadEndWait(motion, cycle);
    return;
  }
  const PathSegment* head = motion.queue.head;
  if (head != nullptr && head->state == 0) {
    cycle.signals.SignalMotionState();
    return;
  }
  if (motion.holdCounter > 0) {
    motion.holdCounter += queued - fill;
    return;
  }
  motion.endWait_ms -= CycleMilliseconds(cycle);
  if (cycle.flags.moving == 0 || motion.endWait_ms <= 0.0) cycle.signals.SignalMotionState();
}

}  // namespace

std::int32_t QueuedEntries(const common::ExchangeBuffer& exchange) noexcept {
  const std::int32_t queued = exchange.Get(xb::kSetpointCount);
  return std::clamp<std::int32_t>(queued, 0, static_cast<std::int32_t>(xb::kRingCapacity));
}

void CountDownPendingEvents(PathMotion& motion, PathSignals& signals,
                            std::uint32_t elapsed_us) noexcept {
  SegmentList& pending = motion.pending;
  SegmentList kept;
  PathSegment* segment = pending.first;
  for (std::uint32_t i = 0; i < pending.count && segment != nullptr; ++i) {
    PathSegment* next = segment->next;
    segment->eventDelay_us -= elapsed_us;
    if (segment->eventDelay_us < 1) {
      signals.SetPathEvent(segment->eventHandle);
      Retire(motion, segment);
    } else {
      PushSegment(kept, *segment);
    }
    segment = next;
  }
  pending = kept;
}

void DropPendingEvents(PathMotion& motion) noexcept {
  SpliceSegments(motion.retired, motion.pending);
}

void ClearSegmentQueue(PathMotion& motion, PathFlags& flags) noexcept {
  SegmentQueue& queue = motion.queue;
  if (queue.head != nullptr) {
    SegmentList queued{queue.head, queue.tail != nullptr ? queue.tail : queue.head,
                       static_cast<std::uint32_t>(std::max(queue.count, 1))};
    queued.last->next = nullptr;
    SpliceSegments(motion.retired, queued);
  }
  Retire(motion, motion.kept);
  motion.kept = nullptr;
  queue.head = nullptr;
  queue.tail = nullptr;
  queue.count = 0;
  queue.changed = true;
  flags.pathActive = 0;
}

void TruncateSegmentQueue(PathMotion& motion, PathFlags& flags, PathSegment* segment) noexcept {
  SegmentQueue& queue = motion.queue;
  if (segment == nullptr) {
    ClearSegmentQueue(motion, flags);
    return;
  }
  std::int32_t behind = 0;
  for (PathSegment* s = segment->next; s != nullptr && behind < queue.count; s = s->next) ++behind;
  if (segment->next != nullptr) {
    SegmentList dropped{segment->next, queue.tail, static_cast<std::uint32_t>(behind)};
    dropped.last->next = nullptr;
    SpliceSegments(motion.retired, dropped);
  }
  segment->next = nullptr;
  queue.tail = segment;
  queue.count = std::max(queue.count - behind, 1);
  queue.changed = true;
}

void StopPathAtOnce(PathMotion& motion, PathFlags& flags) noexcept {
  RampAtRest(motion.ramp);
  motion.segmentFinished = true;
  ClearSegmentQueue(motion, flags);
}

TailAction RunMotionTail(PathMotion& motion, PathCycle& cycle) noexcept {
  PathFlags& flags = cycle.flags;
  if (flags.motionActive == 0) return TailAction::kNothing;
  if (flags.stopOnInputActive != 0 && flags.stopOnInputTriggered != 0 && flags.resuming == 0) {
    StopPathAtOnce(motion, flags);
    SetEntryCount(cycle.exchange, 0);
  }
  if (motion.queue.head == nullptr && motion.segmentFinished) {
    if (QueuedEntries(cycle.exchange) != 0) {
      ReloadEndWait(motion, cycle);
      SetEntryCount(cycle.exchange, 0);
      return TailAction::kEntriesStillQueued;
    }
    if (cycle.exchange.Get(xb::kRingControl) != xb::kRingNotInUse &&
        !DrivesReached(motion, cycle)) {
      ReloadEndWait(motion, cycle);
      return TailAction::kAwaitingDrives;
    }
    if (flags.moving != 0 && motion.endWait_ms > 0.0) {
      motion.endWait_ms -= CycleMilliseconds(cycle);
      return TailAction::kSettling;
    }
    flags.motionActive = 0;
    flags.moving = 0;
    StopRing(cycle);
    if (flags.motionStop != 0 || flags.motionAbort != 0) {
      if (flags.motionAbort != 0) {
        flags.motionAbort = 0;
        flags.motionStop = 0;
      }
      cycle.signals.SignalMotionState();
    }
    ReloadReachedWait(motion, cycle);
    return TailAction::kMotionEnded;
  }
  ReloadReachedWait(motion, cycle);
  if (flags.pathMode != 0 && flags.pathStarted == 0) {
    ReloadEndWait(motion, cycle);
    SetEntryCount(cycle.exchange, 0);
    return TailAction::kHeldUntilStarted;
  }
  return TailAction::kInterpolate;
}

void InterpolationStep(PathMotion& motion, PathCycle& cycle) noexcept {
  if (CheckPathEnd(motion, cycle)) return;
  PathFlags& flags = cycle.flags;
  const std::int32_t queued = QueuedEntries(cycle.exchange);
  const std::int32_t fill =
      std::min<std::int32_t>(cycle.fillLevel, static_cast<std::int32_t>(xb::kRingCapacity));
  HoldAtStop(motion, cycle, queued, fill);

  Positions work{};
  for (std::uint32_t axis = 0; axis < motion.axisCount; ++axis) {
    work[axis] = motion.axes[axis].setPosition;
  }
  Positions previous = work;
  UpdateTargetVelocity(motion, cycle);

  const std::int32_t wanted = std::max(fill - queued, 0);
  const double cycleTime = cycle.cycleTime;
  double timeLeft = cycleTime;
  std::int32_t written = 0;
  if (cycle.entryObserver != nullptr && cycle.exchange.Get(xb::kRingControl) == xb::kRingStart) {
    written = std::clamp(cycle.entryObserver->WriteStartEntries(cycle.exchange, wanted), 0, wanted);
  }
  // Each pass writes an entry or uses up a segment; the bound only guards
  // against links that are not a list.
  const std::int32_t passes = wanted + std::max(motion.queue.count, 0) + 2;
  for (std::int32_t pass = 0; pass < passes && written < wanted; ++pass) {
    if (motion.segmentFinished) {
      if (timeLeft <= 0.0) timeLeft = cycleTime;
      if (TakeNextSegment(motion, cycle, queued, written) == Take::kRunOut) {
        RunOutOfSegments(motion, flags);
        if (timeLeft > 0.0 && timeLeft < cycleTime) timeLeft = 0.0;
      }
    }
    if (flags.pathActive == 0 && timeLeft >= cycleTime) break;
    if (motion.headerDue) {
      // The headers open an entry of their own; a segment that starts
      // inside an entry has none.
      if (timeLeft < cycleTime || motion.queue.head == nullptr) {
        motion.headerDue = false;
      } else if (wanted - written <= kHeaderEntryCount) {
        break;
      } else {
        WriteHeaderEntries(motion, cycle.exchange, written);
        for (std::int32_t k = 0; k < kHeaderEntryCount; ++k) {
          if (cycle.entryObserver != nullptr)
            cycle.entryObserver->EntryWritten(motion.ramp.velocity);
        }
        written += kHeaderEntryCount;
        motion.headerDue = false;
      }
    }
    if (timeLeft > 0.0 && motion.queue.head != nullptr && !motion.segmentFinished) {
      AdvancePath(motion, work, timeLeft);
    }
    if (timeLeft > 0.0 && motion.segmentFinished && flags.pathActive != 0) {
      // The segment ended inside the cycle: the next one goes on with the
      // same entry.
      continue;
    }
    if (!StepMaySend(motion, previous, work)) StopAtLimit(motion, previous, work);
    const bool lastEntry = written + 1 == wanted;
    PathSegment* head = motion.queue.head;
    if (motion.segmentFinished && flags.pathActive != 0 && lastEntry && head != nullptr &&
        head == motion.queue.tail && head->state != 0) {
      RunOutOfSegments(motion, flags);
    }
    WriteEntry(motion, cycle.exchange, written, work);
    if (cycle.entryObserver != nullptr) cycle.entryObserver->EntryWritten(motion.ramp.velocity);
    ++written;
    previous = work;
    timeLeft = cycleTime;
    if ((flags.motionAbort != 0 && motion.ramp.velocity <= kRestVelocity) ||
        flags.pathActive == 0) {
      break;
    }
  }
  SetEntryCount(cycle.exchange, written);
  SetEndFlag(cycle.exchange, flags.pathActive == 0 && motion.ramp.velocity <= kRestVelocity);
  for (std::uint32_t axis = 0; axis < motion.axisCount; ++axis) {
    motion.axes[axis].setPosition = work[axis];
  }
}

}  // namespace vantor::motion
