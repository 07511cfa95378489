// Settings that the CNC initialisation first made, read and changed while
// the machine runs: the configuration summary, the path ramp, a rotational
// coordinate's cylinder radius, the test mode, the exchange of two
// interpolated axes, the timer resolutions, the homed flags and the per-axis
// ramp overrides.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleGetConfiguration(Kernel& kernel);
AfterCommand HandleGetRamp(Kernel& kernel);
AfterCommand HandleSetRamp(Kernel& kernel);
AfterCommand HandleSetCylinderPar(Kernel& kernel);
AfterCommand HandleSetTestMode(Kernel& kernel);
AfterCommand HandleExchangeInterAxis(Kernel& kernel);
AfterCommand HandleSetCncTimeLimitation(Kernel& kernel);
AfterCommand HandleResetReferenceFlag(Kernel& kernel);
AfterCommand HandleGetAxisRamp(Kernel& kernel);
AfterCommand HandleSetAxisRampOverride(Kernel& kernel);

}  // namespace vantor::kernel
