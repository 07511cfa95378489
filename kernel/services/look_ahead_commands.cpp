#include "kernel/services/look_ahead_commands.h"

#include "kernel/core/canopen/drive_parameters.h"
#include "kernel/core/configuration_check.h"
#include "kernel/services/axis_command_support.h"
#include "kernel/services/node_locked_drive_change.h"

namespace vantor::kernel {

FillPair ConfiguredFillPair(const SetPointFill& configured, bool teach) noexcept {
  return {configured.FillLevelInForce(teach), configured.DriveBufferDepthInForce(teach)};
}

FillPair EnlargedFillPair(const SetPointFill& configured, bool teach) noexcept {
  if (teach) return ConfiguredFillPair(configured, false);
  return {static_cast<std::uint16_t>(kMaxLookAheadEntries),
          static_cast<std::uint16_t>(kMaxDriveBufferDepth)};
}

namespace {

namespace cb = common::communication_block;
using common::StatusCode;
using G = MotionGuard;

constexpr MotionGuard kFillChangeGuards[] = {
    G::CycleRunning, G::BusInOrder, G::SyncInOrder,       G::PeripheryPdoInOrder, G::NoQuickStop,
    G::NodesReady,   G::NoMotion,   G::NoPathModeOrStart, G::NoVelocityOutput,
};

AfterCommand Answer(Kernel& kernel, StatusCode result) {
  AnswerCommand(kernel, result);
  return AfterCommand::KeepServing;
}

// The pair goes into the motion settings, its depth into what the drives
// are written.
void TakeFillPair(KernelData& data, bool teach, const FillPair& pair) {
  SetPointFill& fill = data.motion.fill;
  (teach ? fill.teachFillLevel : fill.fillLevel) = pair.fillLevel;
  (teach ? fill.teachDriveBufferDepth : fill.driveBufferDepth) = pair.driveBufferDepth;
  (teach ? data.driveWorkingValues.teachInBufferDepth : data.driveWorkingValues.pathBufferDepth) =
      pair.driveBufferDepth;
}

StatusCode ChangeLookAhead(Kernel& kernel) {
  const bool teach = PayloadWord(kernel, 0) != 0;
  const bool enlarged = PayloadWord(kernel, 4) != 0;
  std::uint32_t teachMode = 0;
  return ChangeOnDrives(
      kernel, kFillChangeGuards,
      [&](KernelData& data) {
        const SetPointFill& configured = data.savedConfiguration.motion.fill;
        TakeFillPair(
            data, teach,
            enlarged ? EnlargedFillPair(configured, teach) : ConfiguredFillPair(configured, teach));
        teachMode = data.state.teachMode;
        return common::kKernelSuccess;
      },
      [&](canopen::ServiceContext& context) {
        return canopen::WriteBufferDepth(context, teachMode);
      },
      [](KernelData&) {});
}

StatusCode GetLookAheadStatus(Kernel& kernel) {
  const bool teach = PayloadWord(kernel, 0) != 0;
  return UnderKernelLock(kernel, ResetGate::Skip, {}, [&](KernelData& data) {
    const SetPointFill& configured = data.savedConfiguration.motion.fill;
    const bool enlarged = ConfiguredFillPair(data.motion.fill, teach).fillLevel ==
                          EnlargedFillPair(configured, teach).fillLevel;
    static_cast<void>(kernel.Block().Store<std::uint32_t>(cb::PayloadAt(4), enlarged ? 1 : 0));
    return common::kKernelSuccess;
  });
}

}  // namespace

AfterCommand HandleChangeLookAheadBuffer(Kernel& kernel) {
  return Answer(kernel, ChangeLookAhead(kernel));
}
AfterCommand HandleGetLookAheadBufferStatus(Kernel& kernel) {
  return Answer(kernel, GetLookAheadStatus(kernel));
}

}  // namespace vantor::kernel
