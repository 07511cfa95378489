// PLACEHOLDERS, to be replaced when the services below are merged: the
// reset's steps whose services are built on other branches. Each one here
// does nothing and answers success, so that the reset runs its whole table
// meanwhile. The real services take their place one for one (same name,
// their own header), and this file then goes.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/can_object_list.h"
#include "kernel/core/canopen/service_host.h"
#include "kernel/core/kernel_data.h"

namespace vantor::kernel::unbound {

// held_positions.h
struct HeldPositions {};
common::StatusCode ReadHoldPositions(canopen::ServiceContext& context, HeldPositions& held);
common::StatusCode RestoreHeldPositions(canopen::ServiceContext& context,
                                        const HeldPositions& held);

// global_slot.h
common::StatusCode ArmGlobalSlot(KernelData& data, canopen::ServiceContext& context, bool start);

// startup_probes.h
common::StatusCode ReadMakerObject2047Support(canopen::ServiceContext& context);
common::StatusCode ReadAnalogueSupport(canopen::ServiceContext& context);
common::StatusCode ReadHomeShiftSupport(canopen::ServiceContext& context);
common::StatusCode ReadGantryHomingObjects(canopen::ServiceContext& context);
common::StatusCode CheckStopOnInputCapability(canopen::ServiceContext& context);
common::StatusCode ReadInputCapabilities(canopen::ServiceContext& context);

// module_identification.h
common::StatusCode IdentifyModules(KernelData& data, canopen::ServiceContext& context);

// guarding_setup.h
common::StatusCode ReadGuardingParameters(canopen::ServiceContext& context,
                                          canopen::CanObjectList& canObjects);
void StartGuarding(canopen::ServiceContext& context, canopen::CanObjectList& canObjects);

// gantry_homing_objects.h
common::StatusCode ResetAllGantryHomingObjects(canopen::ServiceContext& context);
common::StatusCode DownloadGantryHomingParameters(canopen::ServiceContext& context);

// modes_of_operation.h
common::StatusCode SetStartModes(canopen::ServiceContext& context);

// pdo_layout.h
common::StatusCode ResetAllRpdos(canopen::ServiceContext& context);
common::StatusCode MapControlwordRpdo(canopen::ServiceContext& context, std::uint32_t pdo);
common::StatusCode MapSetpointRpdo(canopen::ServiceContext& context, std::uint32_t pdo);
common::StatusCode MapTimeStampRpdo(canopen::ServiceContext& context, std::uint32_t pdo);
common::StatusCode MapStateTpdoOnAxes(canopen::ServiceContext& context, std::uint32_t pdo);
common::StatusCode ResetAllTpdos(canopen::ServiceContext& context);
common::StatusCode MapFeedbackTpdo(canopen::ServiceContext& context, std::uint32_t pdo);
common::StatusCode MapTimeStampTpdo(canopen::ServiceContext& context, std::uint32_t pdo);

// drive_parameters.h
common::StatusCode ReadDriveParameters(canopen::ServiceContext& context);
common::StatusCode WritePositionOption(canopen::ServiceContext& context, std::uint32_t value);
common::StatusCode RestoreGearRatios(canopen::ServiceContext& context);
common::StatusCode RestoreProfileParameters(canopen::ServiceContext& context);
common::StatusCode WriteBufferDepth(canopen::ServiceContext& context, std::uint32_t value);
common::StatusCode WriteInterpolationPeriod(canopen::ServiceContext& context);
common::StatusCode WriteInterpolationSubMode(canopen::ServiceContext& context);
common::StatusCode SetLimitSwitchBridging(canopen::ServiceContext& context, bool on, bool collect);

}  // namespace vantor::kernel::unbound
