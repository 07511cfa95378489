#include "kernel/services/path_mode_commands.h"

#include <bit>

#include "kernel/core/canopen/drive_parameters.h"
#include "kernel/core/motion/path_interpolation.h"
#include "kernel/services/kernel_service_host.h"
#include "kernel/services/node_lock_scopes.h"
#include "kernel/services/node_results.h"
#include "kernel/services/path_command_frame.h"
#include "kernel/services/path_drive_switch.h"
#include "kernel/services/timer_periods.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using common::StatusCode;
using G = MotionGuard;

constexpr std::size_t kRequestWord = cb::PayloadAt(0);
constexpr std::uint32_t kMaxPathCoordinates = 3;

// Path mode and the path's start and end switch the drives: no mode that
// holds the drives may be on.
constexpr MotionGuard kPathSwitchGuards[] = {
    G::CycleRunning,         G::BusInOrder,  G::SyncInOrder, G::PeripheryPdoInOrder, G::NoBreak,
    G::NoTeachMode,          G::NoPowerOff,  G::NoQuickStop, G::NoBridgeOutsideTest, G::NoMoveOut,
    G::NoStopOnInputRunning, G::NoHandwheel, G::NodesReady,
};
constexpr MotionGuard kPathCoordinateGuards[] = {G::NoMotion, G::NoPathModeOrStart};
constexpr MotionGuard kBufferStatusGuards[] = {G::CycleRunning, G::BusInOrder};

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

std::uint32_t RequestWord(const Kernel& kernel) {
  return kernel.Block().Load<std::uint32_t>(kRequestWord).value_or(0);
}

std::uint32_t ConfiguredCoordinates(const KernelData& data) {
  return static_cast<std::uint32_t>(
      std::clamp<std::int32_t>(data.coordinateCount, 0, motion::kMaxCoordinates));
}

void ClearQueue(KernelData& data) {
  motion::PathFlags flags;
  flags.pathActive = data.state.pathActive;
  motion::ClearSegmentQueue(data.motionRuntime.path, flags);
  data.state.pathActive = flags.pathActive;
}

StatusCode SetPathCoordinates(Kernel& kernel) {
  const std::uint32_t mask = RequestWord(kernel);
  return UnderPathLock(kernel, [&](KernelData& data) {
    if (const StatusCode refused = CheckMotionGuards(data, kCommonMotionGuards); Failed(refused)) {
      return refused;
    }
    if (const StatusCode refused = CheckMotionGuards(data, kPathCoordinateGuards);
        Failed(refused)) {
      return refused;
    }
    const std::uint32_t count = ConfiguredCoordinates(data);
    // Bits above the coordinates name nothing and are not counted.
    const std::uint32_t used = count >= 32 ? mask : mask & ((1u << count) - 1u);
    if (static_cast<std::uint32_t>(std::popcount(used)) > kMaxPathCoordinates) {
      return common::kKernelPathCoordinateCountInvalid;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      const bool onPath = (used >> i & 1u) != 0;
      data.coordinates[i].settings.onPath = onPath ? 1 : 0;
      data.motionRuntime.path.axes[i].onPath = onPath;
    }
    return common::kKernelSuccess;
  });
}

// The frame of codes 42 and 43: the node mutexes, then the kernel data
// lock with the node results reset and the switch guards; `decide` under
// the lock tells whether the drives are switched (nothing: answered as it
// is), `commit` under the lock takes the switched state over.
template <typename Decide, typename Write, typename Commit>
StatusCode SwitchPath(Kernel& kernel, Decide decide, Write write, Commit commit) {
  KernelData& data = kernel.data;
  if (const StatusCode refused = CheckCommandPreconditions(data); Failed(refused)) return refused;
  const AllNodeLocks nodes(data);
  KernelServiceHost host(data, kernel.canObjects);
  canopen::ServiceContext context = host.Context();
  {
    KernelDataLock lock(data);
    if (!lock.held()) return common::kKernelCncNotInitialized;
    FreeFinishedSegments(data);
    ResetNodeResults(data, context);
    if (const StatusCode refused = CheckMotionGuards(data, kPathSwitchGuards); Failed(refused)) {
      return refused;
    }
    if (const auto decided = decide(data)) return *decided;
  }
  const StatusCode switched = SwitchDrives(context, write);
  if (Failed(switched)) return switched;
  KernelDataLock lock(data);
  commit(data);
  return common::kKernelSuccess;
}

StatusCode EnablePath(Kernel& kernel) {
  const bool on = RequestWord(kernel) != 0;
  if (!on) {
    // Off switches no drive, but holds the nodes as on does.
    if (const StatusCode refused = CheckCommandPreconditions(kernel.data); Failed(refused)) {
      return refused;
    }
    const AllNodeLocks nodes(kernel.data);
    return UnderPathLock(kernel, [&](KernelData& data) {
      KernelServiceHost host(data, kernel.canObjects);
      canopen::ServiceContext context = host.Context();
      ResetNodeResults(data, context);
      if (data.state.pathMode == 0) return common::kKernelSuccess;
      // A queue that no motion works on is dropped with the mode.
      if (data.state.motionActive == 0 && data.motionRuntime.path.queue.head != nullptr) {
        ClearQueue(data);
      }
      data.state.pathMode = 0;
      SelectTimerPeriod(kernel.settings, false);
      return common::kKernelSuccess;
    });
  }
  return SwitchPath(
      kernel,
      [](KernelData& data) -> std::optional<StatusCode> {
        if (data.state.pathMode != 0) return common::kKernelSuccess;
        if (data.state.motionActive != 0) return common::kKernelMovementSegmentActive;
        return std::nullopt;
      },
      [](canopen::ServiceContext& context) { return canopen::WritePositionOption(context, 1); },
      [&](KernelData& data) {
        data.state.pathMode = 1;
        if (data.motionRuntime.path.queue.head != nullptr) ClearQueue(data);
        data.motionRuntime.path.queue.count = 0;
        SelectTimerPeriod(kernel.settings, true);
      });
}

StatusCode StartPath(Kernel& kernel) {
  const bool start = RequestWord(kernel) != 0;
  return SwitchPath(
      kernel,
      [&](KernelData& data) -> std::optional<StatusCode> {
        KernelStateFlags& s = data.state;
        if ((s.pathStarted != 0) == start) return common::kKernelSuccess;
        if (s.motionActive != 0) return common::kKernelMovementSegmentActive;
        if (!start) return std::nullopt;
        motion::PathMotion& path = data.motionRuntime.path;
        s.pathStarted = 1;
        path.ramp = motion::PathVelocityProfile{};
        path.programmedVelocity = path.linearProcessVelocity;
        path.segmentFinished = true;
        if (path.queue.head != nullptr) {
          s.motionActive = 1;
          s.pathActive = 1;
        }
        return common::kKernelSuccess;
      },
      [](canopen::ServiceContext& context) { return canopen::WritePositionOption(context, 0); },
      [](KernelData& data) { data.state.pathStarted = 0; });
}

StatusCode SetBufferSize(Kernel& kernel) {
  const auto capacity = static_cast<std::int32_t>(RequestWord(kernel));
  return UnderPathLock(kernel, [&](KernelData& data) {
    if (const StatusCode refused = CheckMotionGuards(data, kCommonMotionGuards); Failed(refused)) {
      return refused;
    }
    if (capacity <= 0) return common::kKernelPathBufferError;
    data.motionRuntime.path.queue.capacity = capacity;
    return common::kKernelSuccess;
  });
}

StatusCode GetBufferStatus(Kernel& kernel) {
  KernelData& data = kernel.data;
  if (!data.state.IsCncInitialised()) return common::kKernelCncNotInitialized;
  KernelDataLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  if (const StatusCode refused = CheckMotionGuards(data, kBufferStatusGuards); Failed(refused)) {
    return refused;
  }
  const motion::SegmentQueue& queue = data.motionRuntime.path.queue;
  auto block = kernel.Block();
  block.Store<std::uint32_t>(cb::PayloadAt(0), data.state.pathMode);
  block.Store<std::uint32_t>(cb::PayloadAt(4), data.state.pathStarted);
  block.Store<std::uint32_t>(cb::PayloadAt(8), static_cast<std::uint32_t>(queue.capacity));
  block.Store<std::uint32_t>(cb::PayloadAt(12), static_cast<std::uint32_t>(queue.count));
  return common::kKernelSuccess;
}

StatusCode GetPathCoordinates(Kernel& kernel) {
  KernelData& data = kernel.data;
  if (!data.state.IsCncInitialised()) return common::kKernelCncNotInitialized;
  KernelDataLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  std::uint32_t mask = 0;
  for (std::uint32_t i = 0; i < ConfiguredCoordinates(data); ++i) {
    if (data.coordinates[i].settings.onPath != 0) mask |= 1u << i;
  }
  kernel.Block().Store<std::uint32_t>(cb::PayloadAt(0), mask);
  return common::kKernelSuccess;
}

}  // namespace

AfterCommand HandleGetPathCoor(Kernel& kernel) {
  return AnswerPathCommand(kernel, GetPathCoordinates(kernel));
}
AfterCommand HandleSetPathCoor(Kernel& kernel) {
  return AnswerPathCommand(kernel, SetPathCoordinates(kernel));
}
AfterCommand HandleEnablePath(Kernel& kernel) {
  return AnswerPathCommand(kernel, EnablePath(kernel));
}
AfterCommand HandleStartPath(Kernel& kernel) {
  return AnswerPathCommand(kernel, StartPath(kernel));
}
AfterCommand HandleSetBufferSize(Kernel& kernel) {
  return AnswerPathCommand(kernel, SetBufferSize(kernel));
}
AfterCommand HandleGetBufferStatus(Kernel& kernel) {
  return AnswerPathCommand(kernel, GetBufferStatus(kernel));
}

}  // namespace vantor::kernel
