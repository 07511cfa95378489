// The commands of the link itself: start-up ping, end, identification,
// opening the hardware, the driver's claim and port requests, latency
// and the data record.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

// The kernel's own version text, reported with the complete status.
inline constexpr char kKernelVersionText[] = "01.70.00.13";

AfterCommand HandlePing(Kernel& kernel);
AfterCommand HandleTerminateKernel(Kernel& kernel);
AfterCommand HandleIdentifyKernel(Kernel& kernel);
AfterCommand HandleOpenHardware(Kernel& kernel);
AfterCommand HandleGetDataRecord(Kernel& kernel);

}  // namespace vantor::kernel
