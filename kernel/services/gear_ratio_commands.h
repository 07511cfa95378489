// The gear ratios of single drives and of gantry pairs: read back, and
// written to the drives with the node's values and planning limits
// following the new ratio.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleGetAxisGearRatio(Kernel& kernel);
AfterCommand HandleSetAxisGearRatio(Kernel& kernel);
AfterCommand HandleGetSynAxisGearRatio(Kernel& kernel);
AfterCommand HandleSetSynAxisGearRatio(Kernel& kernel);

}  // namespace vantor::kernel
