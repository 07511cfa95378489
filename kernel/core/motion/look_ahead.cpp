#include "kernel/core/motion/look_ahead.h"

#include "kernel/core/motion/numeric.h"
#include "kernel/core/motion/segment_transition.h"

namespace vantor::motion {

namespace {

// What the walk carries from a segment to the older one before it.
struct WalkState {
  double velocity = 0.0;  // velocity allowed at the start of the younger segment
  bool atTop = false;     // that velocity is the younger segment's own limit
  bool newest = true;     // no line or arc visited yet
  // Most segments one walk over the younger links may visit: more than are
  // queued means the links are not a list.
  std::int64_t visitLimit = 0;
  bool linksLoop = false;  // a walk over the younger links reached the limit
};

// Commits the pending lower exit velocities of the younger segments, up to
// the first line or arc without one.
void CommitYoungerCandidates(PathSegment& segment, WalkState& walk) noexcept {
  std::int64_t visits = 0;
  for (PathSegment* younger = segment.next; younger != nullptr; younger = younger->next) {
    if (++visits > walk.visitLimit) {
      walk.linksLoop = true;
      return;
    }
    if (!younger->isMotion) continue;
    if (!younger->candidatePending) return;
    younger->exitVelocity = younger->candidateExitVelocity;
    younger->candidatePending = false;
  }
}

// Sets the exit velocity, which settles any candidate of the segment itself,
// and commits the younger candidates.
void CommitExit(PathSegment& segment, double exitVelocity, WalkState& walk) noexcept {
  segment.exitVelocity = exitVelocity;
  segment.candidatePending = false;
  CommitYoungerCandidates(segment, walk);
}

// One line or arc that has an older segment. Returns true when the walk
// goes on to the older segment.
bool LookAheadStep(PathSegment& segment, WalkState& walk) noexcept {
  double u = walk.velocity;
  segment.candidatePending = false;
  bool limited = false;
  bool top = false;
  if (!walk.newest && segment.endVelocity <= u) {
    u = segment.endVelocity;
    limited = true;
  }
  if (segment.velocity <= u) {
    u = segment.velocity;
    limited = true;
    top = true;
  }
  if (walk.atTop || limited) {
    limited = true;
    if (segment.wasLimited) {
      // Bounded the same way as on the last pass: nothing older changes.
      CommitExit(segment, u, walk);
      return false;
    }
  }
  segment.wasLimited = limited;
  if (u < segment.exitVelocity) {
    segment.candidateExitVelocity = u;
    segment.candidatePending = true;
  } else {
    CommitExit(segment, u, walk);
  }
  if (segment.state != 0) {
    // The interpolation runs this segment and re-plans toward whatever end
    // velocity it is given; a lower exit left pending here would leave it
    // and the younger segments planned faster than they can brake.
    if (segment.candidatePending) CommitExit(segment, segment.candidateExitVelocity, walk);
    return false;
  }

  if (!top) {
    const double reachable = ReachableEndVelocity(segment.reach, u);
    if (reachable < segment.velocity) {
      walk.velocity = reachable;
      segment.reachedTop = false;
      walk.atTop = false;
      return true;
    }
  }
  if (segment.reachedTop) {
    CommitExit(segment, u, walk);
    return false;
  }
  segment.reachedTop = true;
  walk.atTop = true;
  walk.velocity = segment.velocity;
  return true;
}

// The oldest segment is not stepped; its exit velocity is committed with
// the younger candidates. A lower value is committed too: the exit that is
// reachable from a younger segment can fall when that segment must now end
// slower (a jerk-limited ramp covers more distance braking to a third of its
// start velocity than braking to standstill), and dropping it would leave
// the younger segments planned faster than they can brake.
void PlanOldestSegment(PathSegment& segment, WalkState& walk) noexcept {
  const double candidate = MinOf3(walk.velocity, segment.endVelocity, segment.velocity);
  segment.candidateExitVelocity = candidate;
  CommitExit(segment, candidate, walk);
}

}  // namespace

LookAheadEnd PlanSegmentLookAhead(SegmentQueue& queue, LookAheadLock& lock) noexcept {
  WalkState walk;
  walk.visitLimit = std::int64_t{queue.count > 0 ? queue.count : 0} + 1;
  PathSegment* oldestVisitedMotion = nullptr;
  std::int64_t visits = 0;
  for (PathSegment* segment = queue.tail; segment != nullptr; segment = segment->previous) {
    if (++visits > walk.visitLimit) return LookAheadEnd::kVisitLimit;
    bool goOn = true;
    if (segment->isMotion) {
      if (segment->previous == nullptr) {
        PlanOldestSegment(*segment, walk);
        return walk.linksLoop ? LookAheadEnd::kVisitLimit : LookAheadEnd::kFinished;
      }
      goOn = LookAheadStep(*segment, walk);
      if (walk.linksLoop) return LookAheadEnd::kVisitLimit;
      walk.newest = false;
      oldestVisitedMotion = segment;
    }
    segment->inLookAhead = true;
    queue.changed = false;
    lock.ReleaseAndRetake();
    if (queue.head == nullptr || queue.tail == nullptr || queue.changed) {
      // The segment may be gone by now: it is not touched again.
      queue.changed = false;
      return LookAheadEnd::kQueueChanged;
    }
    segment->inLookAhead = false;
    if (!goOn) return LookAheadEnd::kFinished;
  }
  // Only velocity and event segments are older: the oldest line or arc
  // commits what it proposed, as the oldest segment of the queue would.
  if (oldestVisitedMotion != nullptr && oldestVisitedMotion->candidatePending) {
    CommitExit(*oldestVisitedMotion, oldestVisitedMotion->candidateExitVelocity, walk);
  }
  return walk.linksLoop ? LookAheadEnd::kVisitLimit : LookAheadEnd::kFinished;
}

}  // namespace vantor::motion
