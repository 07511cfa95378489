// The process data of the stop-on-input mode: the input source sends its
// input byte on the parameters' COB-ID (modes 2 and 3: the input drive's
// transmit PDO 3; mode 1: the I/O module, configured elsewhere), every
// stopping drive receives it into its stop-on-input object (receive PDO
// 4), and the feedback transmit PDO of every interpolated drive carries the
// drive's input byte as a fourth entry for the cycle's watch.
//
// Run without the kernel data lock, the node mutexes held. The first
// failure is the result: kKernelOperationFailed, or kCycleNotRunning.
#pragma once

#include "common/status_code.h"
#include "kernel/core/canopen/service_host.h"
#include "kernel/core/canopen/stop_on_input_plan.h"

namespace vantor::canopen {

common::StatusCode ConfigureStopOnInputPdos(ServiceContext& context,
                                            const StopOnInputParameters& parameters,
                                            bool on) noexcept;

// The interpolated axes whose drives receive the input byte.
NodeMask StoppingDrivesOfInput(const StopOnInputParameters& parameters,
                               const StopOnInputMachine& machine) noexcept;

}  // namespace vantor::canopen
