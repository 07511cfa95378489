// Control endpoint commands that look into and disturb the simulated
// machine (added to the host's built-in ones):
//
//   frame-log                          the frames on every bus since the
//                                      last read, candump lines
//   sim-now                            simulated time in nanoseconds
//   test-port <address>                the writes to a test port, one
//                                      "<time ns> <value>" line each
//   bus-fault <bus> error-frames <count> [<identifier>]
//                                      destroy the next frames by error frames
//   bus-fault <bus> no-ack <count>     the next frames find no acknowledge
//   adapter-stuck <port> on|off        the parallel-port adapter stops (or
//                                      resumes) answering its handshake
//   node <bus> <id> <command> ...      look into and disturb one node
//                                      (node_control.h)
#pragma once

#include "drivers/host/frame_log.h"
#include "drivers/host/simulated_machine.h"
#include "platform/devhost/driver_host.h"

namespace vantor::host {

// Every bus of the machine writes to `frames`; the commands then serve it.
// `machine` and `frames` must outlive the host's control endpoint.
void AddMachineControlCommands(devhost::DriverHost& host, SimulatedMachine& machine,
                               FrameLog& frames);

}  // namespace vantor::host
