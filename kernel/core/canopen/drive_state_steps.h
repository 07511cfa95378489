// The DS402 sequences that a node's slot runs on its current SDO
// identifiers: enable operation, disable voltage, and clearing and setting
// the drive option of object 0x6510 sub 7.
#pragma once

#include <cstdint>

#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {

// How long a drive is given after a fault reset before the sequence goes
// on, in the unit of the driver's elapsed-time word (microseconds).
inline constexpr std::int32_t kFaultResetWait = 100000;

// Brings the drive to operation enabled; the record (`enable_request`)
// tells afterwards whether it already was.
void DriveEnableStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;
// Brings the drive to switch-on disabled.
void DriveDisableStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;
// Clears the drive option where it is set and the drive runs, and records
// in `option_request` whether it did.
void ClearDriveOptionStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;
// Sets the drive option again.
void SetDriveOptionStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

}  // namespace vantor::canopen
