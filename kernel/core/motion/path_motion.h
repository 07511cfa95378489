// The runtime record of the path: the segment queue, the velocity ramp, the
// programmed velocities and override, the end and hold countdowns, the
// pending and retired segments and the set positions of the motion axes.
// The kernel keeps one; the real-time cycle runs it through the tail and
// the interpolation (path_interpolation.h).
#pragma once

#include <array>
#include <cstdint>

#include "kernel/core/motion/interpolation_rules.h"
#include "kernel/core/motion/motion_inputs.h"
#include "kernel/core/motion/segment_list.h"
#include "kernel/core/motion/segment_queue.h"
#include "kernel/core/motion/velocity_profile.h"

namespace vantor::motion {

// One interpolated drive: which coordinate it follows and where its value
// stands in each set-point entry.
struct EntryAxis {
  std::uint32_t coordinate = 0;
  bool scalingEnabled = false;
  double scalingFactor = 1.0;  // drive increments per unit
  std::uint32_t slot = 0;      // 0..5, see EntrySlotOfAxis
  std::int32_t lastSent = 0;   // drive increments
  // What the velocity header entry makes of the axis's programmed velocity
  // (see header_entries.h); the defaults leave it in units/s.
  double velocityUnit = 0.0;
  double velocityFactor = 1.0;
  double velocityOffset = 0.0;
};

struct PathMotion {
  SegmentQueue queue;
  PathVelocityProfile ramp;
  // No segment is being interpolated: the next entry takes the queue's head.
  bool segmentFinished = true;
  // The programmed velocity or the segment changed: the target is asked anew.
  bool newTarget = false;
  // The last path velocity the interpolation asked the ramp for, units/s.
  double requestedVelocity = 0.0;
  double programmedVelocity = 0.0;     // units/s
  double linearTeachInVelocity = 0.0;  // units/s
  double rotaryTeachInVelocity = 0.0;  // units/s
  double linearRapidVelocity = 0.0;    // units/s
  double rotaryRapidVelocity = 0.0;    // units/s
  double linearProcessVelocity = 0.0;  // units/s, or the move-time marker
  double rotaryProcessVelocity = 0.0;  // units/s, or a move time in us
  double override = 1.0;
  double maxOverride = 1.0;
  // Countdowns of the end of a motion, ms.
  double endWait_ms = 0.0;
  // How long the end still waits for the drives to report their set-points
  // reached, ms; when it runs out the motion ends without that report.
  double reachedWait_ms = 0.0;
  // Entries still to be played before a stop counts as standing.
  std::int32_t holdCounter = 0;
  // The head segment's look-ahead flag when it was taken.
  bool lookAhead = false;
  // Each segment's entries begin with two header entries (nothing switches
  // it on so far).
  std::uint32_t headerMode = 0;
  // The head segment started and its header entries are still to come.
  bool headerDue = false;
  // The motion segment before the head, until the head took its velocity.
  PathSegment* kept = nullptr;
  SegmentList pending;
  SegmentList retired;
  std::uint32_t axisCount = 0;
  std::array<PathAxis, kMaxCoordinates> axes{};
  std::uint32_t entryAxisCount = 0;
  std::array<EntryAxis, kMaxInterpolatedAxes> entryAxes{};
};

}  // namespace vantor::motion
