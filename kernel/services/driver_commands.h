// Commands that go to the CAN driver directly from the server thread: the
// driver's claim and release, the parallel-port driver's port requests and
// the latency figures. They use the link's synchronous device handle while
// the cycle exchanges on its own.
#pragma once

#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

AfterCommand HandleClaimDevice(Kernel& kernel);
AfterCommand HandleReleaseDevice(Kernel& kernel);
AfterCommand HandleDynPortIn(Kernel& kernel);
AfterCommand HandleDynPortOut(Kernel& kernel);
AfterCommand HandleStaPortReport(Kernel& kernel);
AfterCommand HandleStaPortAccess(Kernel& kernel);
AfterCommand HandleStaPortGetCon(Kernel& kernel);
AfterCommand HandleGetLatencyTime(Kernel& kernel);

}  // namespace vantor::kernel
