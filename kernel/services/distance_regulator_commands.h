// Commands 75 to 81: a drive's analogue input and its distance regulator.
// The conversion is switched on and off (75) and its value read from the
// CAN object that polls the drive's A/D PDO (76); the factor from the A/D
// value to a distance (77) and the regulator's working area and range (78)
// are written to the drive; the regulator is started and stopped (79), its
// state (80) and parameters (81) read. The repeated reset switches both off
// again (reset step 12).
#pragma once

#include "common/status_code.h"
#include "kernel/core/canopen/service_host.h"
#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleStartAdConversion(Kernel& kernel);
AfterCommand HandleGetAdValue(Kernel& kernel);
AfterCommand HandleSetAdToDistanceFactor(Kernel& kernel);
AfterCommand HandleSetDistanceRegulatorArea(Kernel& kernel);
AfterCommand HandleStartDistanceRegulator(Kernel& kernel);
AfterCommand HandleGetDistanceRegulatorStatus(Kernel& kernel);
AfterCommand HandleGetDistanceRegulatorPar(Kernel& kernel);

// Reset step 12: every node's conversion and regulator off, and the
// conversion's CAN objects dropped.
common::StatusCode SwitchAnalogueFunctionsOffStep(Kernel& kernel, canopen::ServiceContext& context);

}  // namespace vantor::kernel
