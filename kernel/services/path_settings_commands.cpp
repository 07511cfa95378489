#include "kernel/services/path_settings_commands.h"

#include <algorithm>
#include <cmath>

#include "kernel/core/kernel_guards.h"
#include "kernel/core/plane_rotation_setting.h"
#include "kernel/services/path_command_frame.h"

namespace vantor::kernel {

namespace {

namespace cb = common::communication_block;
using common::StatusCode;
using G = MotionGuard;

constexpr std::int32_t kSmallestPercent = 1;
constexpr std::int32_t kLargestPercent = 10000;

constexpr MotionGuard kPlaneRotationGuards[] = {
    G::SyncInOrder, G::PeripheryPdoInOrder, G::NoPathModeOrStart, G::NoMotion,
    G::NoBreak,     G::NoQuickStop,         G::NodesReady,
};
constexpr MotionGuard kPathVelocityFactorGuards[] = {G::NoMotion, G::NoPathModeOrStart};

bool Failed(StatusCode result) { return result != common::kKernelSuccess; }

std::uint32_t PayloadWord(const Kernel& kernel, std::size_t at) {
  return kernel.Block().Load<std::uint32_t>(cb::PayloadAt(at)).value_or(0);
}

// The CAN state guard, then the kernel data and object list lock and the
// reset; `work` runs under the lock.
template <typename Work>
StatusCode UnderRotationLock(Kernel& kernel, Work work) {
  KernelData& data = kernel.data;
  if (const StatusCode refused = CheckCanState(data); Failed(refused)) return refused;
  KernelDataAndObjectListLock lock(data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  if (data.state.resetPending != 0) return common::kKernelResetNotDone;
  return work(data);
}

StatusCode SetPlaneRotation(Kernel& kernel) {
  const PlaneRotationRequest request{PayloadWord(kernel, 0),
                                     static_cast<std::int32_t>(PayloadWord(kernel, 4))};
  return UnderRotationLock(kernel, [&](KernelData& data) {
    if (const StatusCode refused = CheckMotionGuards(data, kPlaneRotationGuards); Failed(refused)) {
      return refused;
    }
    const PathPlanningView view(data, PathCoordinateCount(kernel));
    if (SetPlaneRotation(request, view.Context().coordinates, data.motion.path.AngleToRadianFac,
                         data.planeRotation) == 0) {
      return common::kKernelPlaneRotationParameterInvalid;
    }
    return common::kKernelSuccess;
  });
}

StatusCode GetPlaneRotation(Kernel& kernel) {
  return UnderRotationLock(kernel, [&](KernelData& data) {
    auto block = kernel.Block();
    static_cast<void>(block.Store<std::uint32_t>(cb::PayloadAt(0), data.planeRotation.plane));
    static_cast<void>(block.Store<std::int32_t>(cb::PayloadAt(4), data.planeRotation.angleValue));
    return common::kKernelSuccess;
  });
}

StatusCode SetPathVelocityFactor(Kernel& kernel) {
  const auto percent = static_cast<std::int32_t>(PayloadWord(kernel, 0));
  return UnderPathLock(kernel, [&](KernelData& data) {
    if (const StatusCode refused = CheckMotionGuards(data, kCommonMotionGuards); Failed(refused)) {
      return refused;
    }
    if (const StatusCode refused = CheckMotionGuards(data, kPathVelocityFactorGuards);
        Failed(refused)) {
      return refused;
    }
    if (percent < kSmallestPercent || percent > kLargestPercent) {
      return common::kKernelPathVelocityFactorInvalid;
    }
    data.motion.path.pathVelFacInverse = 1.0 / (percent * 0.01);
    // Kept as given: the inverse read back would lose a percent for some.
    data.motion.pathVelocityPercent = percent;
    return common::kKernelSuccess;
  });
}

// The percent that code 107 gave; before any, the configured factor's.
std::int32_t PathVelocityPercent(const MotionSettings& motion) {
  if (motion.pathVelocityPercent != 0) return motion.pathVelocityPercent;
  const double percent = std::trunc(100.0 / motion.path.pathVelFacInverse);
  if (!(percent >= kSmallestPercent)) return kSmallestPercent;
  return static_cast<std::int32_t>(std::min<double>(percent, kLargestPercent));
}

StatusCode GetPathVelocityFactor(Kernel& kernel) {
  if (const StatusCode refused = CheckCommandPreconditions(kernel.data); Failed(refused)) {
    return refused;
  }
  KernelDataLock lock(kernel.data);
  if (!lock.held()) return common::kKernelCncNotInitialized;
  static_cast<void>(kernel.Block().Store<std::int32_t>(cb::PayloadAt(0),
                                                       PathVelocityPercent(kernel.data.motion)));
  return common::kKernelSuccess;
}

}  // namespace

AfterCommand HandleSetPlaneRotPar(Kernel& kernel) {
  return AnswerPathCommand(kernel, SetPlaneRotation(kernel));
}
AfterCommand HandleGetPlaneRotPar(Kernel& kernel) {
  return AnswerPathCommand(kernel, GetPlaneRotation(kernel));
}
AfterCommand HandleSetPathVelFac(Kernel& kernel) {
  return AnswerPathCommand(kernel, SetPathVelocityFactor(kernel));
}
AfterCommand HandleGetPathVelFac(Kernel& kernel) {
  return AnswerPathCommand(kernel, GetPathVelocityFactor(kernel));
}

}  // namespace vantor::kernel
