#include "kernel/services/reset_steps_unbound.h"

// PLACEHOLDERS: see the header. Every one answers success and touches
// nothing.
namespace vantor::kernel::unbound {
common::StatusCode ReadHoldPositions(canopen::ServiceContext&, HeldPositions&) {
  return common::kKernelSuccess;
}
common::StatusCode RestoreHeldPositions(canopen::ServiceContext&, const HeldPositions&) {
  return common::kKernelSuccess;
}
common::StatusCode ArmGlobalSlot(KernelData&, canopen::ServiceContext&, bool) {
  return common::kKernelSuccess;
}
common::StatusCode ReadMakerObject2047Support(canopen::ServiceContext&) {
  return common::kKernelSuccess;
}
common::StatusCode ReadAnalogueSupport(canopen::ServiceContext&) { return common::kKernelSuccess; }
common::StatusCode ReadHomeShiftSupport(canopen::ServiceContext&) { return common::kKernelSuccess; }
common::StatusCode ReadGantryHomingObjects(canopen::ServiceContext&) {
  return common::kKernelSuccess;
}
common::StatusCode CheckStopOnInputCapability(canopen::ServiceContext&) {
  return common::kKernelSuccess;
}
common::StatusCode ReadInputCapabilities(canopen::ServiceContext&) {
  return common::kKernelSuccess;
}
common::StatusCode IdentifyModules(KernelData&, canopen::ServiceContext&) {
  return common::kKernelSuccess;
}
common::StatusCode ReadGuardingParameters(canopen::ServiceContext&, canopen::CanObjectList&) {
  return common::kKernelSuccess;
}
void StartGuarding(canopen::ServiceContext&, canopen::CanObjectList&) {}
common::StatusCode ResetAllGantryHomingObjects(canopen::ServiceContext&) {
  return common::kKernelSuccess;
}
common::StatusCode DownloadGantryHomingParameters(canopen::ServiceContext&) {
  return common::kKernelSuccess;
}
common::StatusCode SetStartModes(canopen::ServiceContext&) { return common::kKernelSuccess; }
common::StatusCode ResetAllRpdos(canopen::ServiceContext&) { return common::kKernelSuccess; }
common::StatusCode MapControlwordRpdo(canopen::ServiceContext&, std::uint32_t) {
  return common::kKernelSuccess;
}
common::StatusCode MapSetpointRpdo(canopen::ServiceContext&, std::uint32_t) {
  return common::kKernelSuccess;
}
common::StatusCode MapTimeStampRpdo(canopen::ServiceContext&, std::uint32_t) {
  return common::kKernelSuccess;
}
common::StatusCode MapStateTpdoOnAxes(canopen::ServiceContext&, std::uint32_t) {
  return common::kKernelSuccess;
}
common::StatusCode ResetAllTpdos(canopen::ServiceContext&) { return common::kKernelSuccess; }
common::StatusCode MapFeedbackTpdo(canopen::ServiceContext&, std::uint32_t) {
  return common::kKernelSuccess;
}
common::StatusCode MapTimeStampTpdo(canopen::ServiceContext&, std::uint32_t) {
  return common::kKernelSuccess;
}
common::StatusCode ReadDriveParameters(canopen::ServiceContext&) { return common::kKernelSuccess; }
common::StatusCode WritePositionOption(canopen::ServiceContext&, std::uint32_t) {
  return common::kKernelSuccess;
}
common::StatusCode RestoreGearRatios(canopen::ServiceContext&) { return common::kKernelSuccess; }
common::StatusCode RestoreProfileParameters(canopen::ServiceContext&) {
  return common::kKernelSuccess;
}
common::StatusCode WriteBufferDepth(canopen::ServiceContext&, std::uint32_t) {
  return common::kKernelSuccess;
}
common::StatusCode WriteInterpolationPeriod(canopen::ServiceContext&) {
  return common::kKernelSuccess;
}
common::StatusCode WriteInterpolationSubMode(canopen::ServiceContext&) {
  return common::kKernelSuccess;
}
common::StatusCode SetLimitSwitchBridging(canopen::ServiceContext&, bool, bool) {
  return common::kKernelSuccess;
}

}  // namespace vantor::kernel::unbound
