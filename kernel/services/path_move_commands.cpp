#include "kernel/services/path_move_commands.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <string_view>

#include "kernel/core/canopen/stop_on_input_drives.h"
#include "kernel/core/motion/interpolation_rules.h"
#include "kernel/core/motion/wire_values.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/node_lock_scopes.h"
#include "kernel/services/path_command_frame.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using common::StatusCode;
using motion::PathSegment;

// A linear process velocity of 2^62 marks a timed move: the rotary process
// velocity then holds the move time in microseconds.
constexpr double kMoveTimeMarker = 4611686018427387904.0;

// Payload offsets: the flags, then the values (line: one per coordinate;
// arc: plane axes, direction, [sweep,] centre, then one per coordinate).
constexpr std::size_t kAbsoluteFlag = cb::PayloadAt(0);
constexpr std::size_t kRapidFlag = cb::PayloadAt(4);
constexpr std::size_t kMoveValues = cb::PayloadAt(8);
constexpr std::size_t kFirstVelocity = cb::PayloadAt(0);
constexpr std::size_t kSecondVelocity = cb::PayloadAt(8);
constexpr std::size_t kEventName = cb::PayloadAt(0);
constexpr std::size_t kEventNameRoom = 261;

using G = MotionGuard;
// Code 36: power off before the stop states, the bridge allowed in teach
// mode too, and the rapid move's own refusals.
constexpr MotionGuard kFeedMoveGuards[] = {
    G::CycleRunning, G::BusInOrder,          G::SyncInOrder, G::PeripheryPdoInOrder,
    G::NoBreak,      G::NoPowerOff,          G::NoQuickStop, G::NoBridgeOutsideTeachOrTest,
    G::NoMoveOut,    G::HasInterpolatedAxis, G::NodesReady,  G::NoStopOnInputStop,
    G::NoHandwheel,  G::QueueOpenForMove,
};
constexpr MotionGuard kRapidMoveGuards[] = {
    G::CycleRunning,
    G::BusInOrder,
    G::SyncInOrder,
    G::PeripheryPdoInOrder,
    G::NoBreak,
    G::NoPowerOff,
    G::NoQuickStop,
    G::NoBridgeOutsideTeachOrTest,
    G::NoMoveOut,
    G::HasInterpolatedAxis,
    G::NodesReady,
    G::NoTeachMode,
    G::NoPathModeOrStart,
    G::NoStopOnInputStop,
    G::NoStopOnInputRunning,
    G::NoHandwheel,
    G::QueueOpenForMove,
};
constexpr MotionGuard kCircleGuards[] = {
    G::CycleRunning,
    G::BusInOrder,
    G::SyncInOrder,
    G::PeripheryPdoInOrder,
    G::NoBreak,
    G::NoTeachMode,
    G::NoPowerOff,
    G::NoQuickStop,
    G::NoBridgeOutsideTest,
    G::NoMoveOut,
    G::HasInterpolatedPair,
    G::NodesReady,
    G::NoStopOnInputRunning,
    G::NoHandwheel,
    G::QueueOpenForMove,
};
constexpr MotionGuard kHelixGuards[] = {
    G::CycleRunning, G::BusInOrder,           G::SyncInOrder, G::PeripheryPdoInOrder, G::NoBreak,
    G::NoTeachMode,  G::NoPowerOff,           G::NoQuickStop, G::NoBridgeOutsideTest, G::NoMoveOut,
    G::NodesReady,   G::NoStopOnInputRunning, G::NoHandwheel, G::QueueOpenForMove,
};
constexpr MotionGuard kPathVelocityGuards[] = {
    G::CycleRunning, G::BusInOrder, G::SyncInOrder,  G::PeripheryPdoInOrder, G::NoBreak,
    G::NoQuickStop,  G::NoPowerOff, G::NoTeachMode,  G::NoBridgeOutsideTest, G::NoMoveOut,
    G::NodesReady,   G::PathModeOn, G::QueueHasRoom,
};
constexpr MotionGuard kEventGuards[] = {
    G::CycleRunning, G::BusInOrder, G::SyncInOrder,  G::PeripheryPdoInOrder, G::NoBreak,
    G::NoQuickStop,  G::NoPowerOff, G::NoTeachMode,  G::NoBridgeOutsideTest, G::NoMoveOut,
    G::NodesReady,   G::PathModeOn, G::QueueHasRoom,
};

enum class MoveKind { Feed, Rapid, Teach, Arc };

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

bool FlagAt(const Kernel& kernel, std::size_t offset) {
  return kernel.Block().Load<std::uint32_t>(offset).value_or(0) != 0;
}

// The programmed path velocity of a single move, before it is queued.
// Nothing when a timed move has no usable time.
std::optional<double> SingleMoveVelocity(const motion::PathMotion& path, const PathSegment& segment,
                                         MoveKind kind) {
  double linear = path.linearProcessVelocity;
  double rotary = path.rotaryProcessVelocity;
  if (kind == MoveKind::Teach) {
    linear = path.linearTeachInVelocity;
    rotary = path.rotaryTeachInVelocity;
  } else if (kind == MoveKind::Rapid) {
    linear = path.linearRapidVelocity;
    rotary = path.rotaryRapidVelocity;
  } else if (linear == kMoveTimeMarker) {
    const double seconds = rotary * 1e-6;
    const double velocity = segment.length / seconds;
    // A move of no time, or of a time that is not a number, has no velocity.
    if (!(seconds > 0.0) || !std::isfinite(velocity)) return std::nullopt;
    return velocity;
  }
  const bool rotaryAxis = kind != MoveKind::Arc && !segment.isPath &&
                          segment.singleAxis < path.axisCount &&
                          !path.axes[segment.singleAxis].linear;
  const double programmed = rotaryAxis ? rotary : linear;
  return motion::LimitVelocityByAxes(programmed, linear, rotary, segment,
                                     std::span(path.axes.data(), path.axisCount));
}

// The prepared segment joins the queue: in path mode behind the tail for
// the look-ahead, else as a single move that starts at once.
StatusCode QueueMove(KernelData& data, PathSegment& segment, MoveKind kind) {
  motion::PathMotion& path = data.motionRuntime.path;
  KernelStateFlags& s = data.state;
  if (s.pathMode != 0) {
    motion::AppendSegment(path.queue, segment);
    JoinStartedPath(s);
    PlanQueuedPath(data);
    return common::kKernelSuccess;
  }
  const std::optional<double> velocity = SingleMoveVelocity(path, segment, kind);
  if (!velocity) {
    DiscardPathSegment(segment);
    return common::kKernelMovementDataInvalid;
  }
  motion::AppendSegment(path.queue, segment);
  path.ramp = motion::PathVelocityProfile{};
  path.segmentFinished = true;
  path.programmedVelocity = *velocity;
  s.motionActive = 1;
  s.pathActive = 1;
  return common::kKernelSuccess;
}

// Allocates and prepares a segment with `prepare`; a refused one is freed
// and its reason answered (a move of no length answers success and queues
// nothing).
template <typename Prepare>
StatusCode PrepareAndQueue(KernelData& data, MoveKind kind, Prepare prepare) {
  PathSegment* segment = NewPathSegment();
  if (segment == nullptr) return common::kKernelOutOfResources;
  if (!prepare(*segment)) {
    const StatusCode result = motion::ResultOfSegmentError(segment->error);
    DiscardPathSegment(*segment);
    return result;
  }
  return QueueMove(data, *segment, kind);
}

std::optional<motion::CommandValues> ReadValues(const Kernel& kernel, std::size_t count) {
  const auto bytes = kernel.Block().Bytes().subspan(kMoveValues);
  return motion::ReadCommandValues(bytes, count, kernel.data.motion.path.int32Values);
}

// What the drives' stop deceleration takes from a move (per interpolated
// axis its direction factor, and the path acceleration) while the
// stop-on-input mode is armed with its per-move flag.
struct StopValueOfMove {
  bool needed = false;
  std::array<double, canopen::kMaxNodes> perAxis{};
  double scale = 0.0;
};

bool WantsStopValuePerMove(const KernelData& data) {
  return data.state.stopOnInputActive != 0 && data.stopOnInputParameters.perMoveStopValue != 0;
}

// Code 36's guards, values and segment under the lock. With `plan` the
// move is only prepared to learn its stop values and then dropped: the
// drives take them without the lock, and the move is prepared again
// against the tail found then.
StatusCode LinearMove(Kernel& kernel, bool absolute, bool rapid, StopValueOfMove* plan) {
  return UnderPathLock(kernel, [&](KernelData& data) {
    if (const StatusCode refused = rapid ? CheckMotionGuards(data, kRapidMoveGuards)
                                         : CheckMotionGuards(data, kFeedMoveGuards);
        Failed(refused)) {
      return refused;
    }
    const std::size_t n = PathCoordinateCount(kernel);
    const auto values = ReadValues(kernel, n);
    if (!values) return common::kKernelMovementDataInvalid;
    const bool teach = data.state.teachMode != 0;
    const MoveKind kind = teach ? MoveKind::Teach : rapid ? MoveKind::Rapid : MoveKind::Feed;
    const PathPlanningView view(data, n);
    const auto prepare = [&](PathSegment& segment) {
      const motion::LinearMove move{teach, absolute, rapid, values->View()};
      return motion::PrepareLinearSegment(move, data.motionRuntime.path.queue.tail, segment,
                                          view.Context());
    };
    if (plan == nullptr || !WantsStopValuePerMove(data))
      return PrepareAndQueue(data, kind, prepare);
    PathSegment* trial = NewPathSegment();
    if (trial == nullptr) return common::kKernelOutOfResources;
    StatusCode result = common::kKernelSuccess;
    if (prepare(*trial)) {
      plan->needed = true;
      plan->scale = trial->acceleration;
      for (std::size_t a = 0; a < plan->perAxis.size() && a < trial->axes.size(); ++a) {
        plan->perAxis[a] = trial->axes[a].factor;
      }
    } else {
      result = motion::ResultOfSegmentError(trial->error);
    }
    DiscardPathSegment(*trial);
    return result;
  });
}

StatusCode Move(Kernel& kernel) {
  const bool absolute = FlagAt(kernel, kAbsoluteFlag);
  const bool rapid = FlagAt(kernel, kRapidFlag);
  StopValueOfMove plan;
  const StatusCode first = LinearMove(kernel, absolute, rapid, &plan);
  if (!plan.needed || Failed(first)) return first;
  // The node mutexes come before the kernel data lock, and stay held until
  // the move is queued.
  const AllNodeLocks nodeLocks(kernel.data);
  KernelServiceHost host(kernel.data, kernel.canObjects);
  canopen::ServiceContext context = host.Context();
  if (const StatusCode written =
          canopen::UpdateStopOnInputStopValue(context, plan.perAxis, plan.scale);
      Failed(written)) {
    return written;
  }
  return LinearMove(kernel, absolute, rapid, nullptr);
}

StatusCode Arc(Kernel& kernel, bool byEndPoint) {
  const bool absolute = FlagAt(kernel, kAbsoluteFlag);
  return UnderPathLock(kernel, [&](KernelData& data) {
    if (const StatusCode refused = byEndPoint ? CheckMotionGuards(data, kCircleGuards)
                                              : CheckMotionGuards(data, kHelixGuards);
        Failed(refused)) {
      return refused;
    }
    const std::size_t n = PathCoordinateCount(kernel);
    const auto values = ReadValues(kernel, (byEndPoint ? 5 : 6) + n);
    if (!values) return common::kKernelMovementDataInvalid;
    const PathPlanningView view(data, n);
    return PrepareAndQueue(data, MoveKind::Arc, [&](PathSegment& segment) {
      const motion::ArcMove move{byEndPoint, absolute, values->View()};
      return motion::PrepareArcSegment(move, data.motionRuntime.path.queue.tail, segment,
                                       view.Context());
    });
  });
}

// Velocity changes and events pass through the path without moving: they
// are appended as they are, without look-ahead.
template <typename Prepare>
StatusCode QueuePassThrough(KernelData& data, Prepare prepare) {
  PathSegment* segment = NewPathSegment();
  if (segment == nullptr) return common::kKernelOutOfResources;
  if (!prepare(*segment)) {
    const StatusCode result = motion::ResultOfSegmentError(segment->error);
    DiscardPathSegment(*segment);
    return result;
  }
  motion::AppendSegment(data.motionRuntime.path.queue, *segment);
  JoinStartedPath(data.state);
  return common::kKernelSuccess;
}

StatusCode PathVelocity(Kernel& kernel) {
  const auto bytes = kernel.Block().Bytes();
  const double linear = motion::WireValueToReal(bytes.subspan<kFirstVelocity, 8>());
  const double rotary = motion::WireValueToReal(bytes.subspan<kSecondVelocity, 8>());
  return UnderPathLock(kernel, [&](KernelData& data) {
    if (const StatusCode refused = CheckMotionGuards(data, kPathVelocityGuards); Failed(refused)) {
      return refused;
    }
    return QueuePassThrough(data, [&](PathSegment& segment) {
      return motion::PreparePathVelocitySegment(linear, rotary, segment);
    });
  });
}

StatusCode EventToSet(Kernel& kernel) {
  const auto room = kernel.Block().Bytes().subspan<kEventName, kEventNameRoom>();
  const auto end = std::find(room.begin(), room.end(), std::uint8_t{0});
  return UnderPathLock(kernel, [&](KernelData& data) {
    if (const StatusCode refused = CheckMotionGuards(data, kEventGuards); Failed(refused)) {
      return refused;
    }
    // A name that fills its room without a terminator is no name.
    if (end == room.end()) return common::kKernelMovementDataInvalid;
    const std::string_view name(reinterpret_cast<const char*>(room.data()),
                                static_cast<std::size_t>(end - room.begin()));
    KernelPathEvents events;
    return QueuePassThrough(data, [&](PathSegment& segment) {
      return motion::PrepareEventSegment(name, segment, events);
    });
  });
}

}  // namespace

AfterCommand HandleMove(Kernel& kernel) {
  AnswerPathCommand(kernel, Move(kernel));
  return AfterCommand::KeepServing;
}

AfterCommand HandleCircle(Kernel& kernel) {
  AnswerPathCommand(kernel, Arc(kernel, true));
  return AfterCommand::KeepServing;
}

AfterCommand HandleHelix(Kernel& kernel) {
  AnswerPathCommand(kernel, Arc(kernel, false));
  return AfterCommand::KeepServing;
}

AfterCommand HandlePathVelocity(Kernel& kernel) {
  AnswerPathCommand(kernel, PathVelocity(kernel));
  return AfterCommand::KeepServing;
}

AfterCommand HandleEventToSet(Kernel& kernel) {
  AnswerPathCommand(kernel, EventToSet(kernel));
  return AfterCommand::KeepServing;
}

}  // namespace vantor::kernel
