// The control endpoint's node commands: one family through which tests look
// into and disturb a single simulated CANopen node, without any traffic on
// its bus. Every line names the bus and the node id first:
//
//   node <bus> <id> read <index> <subindex>
//       "ok <value>": integers in decimal (signed types with their sign),
//       visible strings as they are, octet strings as hexadecimal bytes
//   node <bus> <id> write <index> <subindex> <value>
//       stores the value as the device itself would: no access rights, no
//       reaction of the device; integers in decimal or "0x" hexadecimal
//       (hexadecimal is the raw pattern for signed types), octet strings as
//       hexadecimal bytes, a visible string is the rest of the line
//   node <bus> <id> fault <emergency code>
//       a drive falls into fault; any node records the code and sends its
//       emergency frame where its state allows
//   node <bus> <id> silent on|off
//       the node neither answers nor sends anything (off: every service
//       speaks again)
//   node <bus> <id> sdo-abort <index> <subindex> <abort code>|off
//       every SDO transfer of that object ends in the abort code
//   node <bus> <id> following-error                         (drive)
//   node <bus> <id> refuse-enable on|off                    (drive)
//   node <bus> <id> switch negative-limit|positive-limit|home <position>|none
//       moves the drive's switch on the machine's scale, or removes it
//   node <bus> <id> analogue <value>                        (drive, A/D reading)
//   node <bus> <id> inputs <byte> <value>                   (I/O module)
//   node <bus> <id> wheel <pulses>                          (handwheel gateway)
//   node <bus> <id> buttons <first> <second>                (handwheel gateway)
//
// Success answers "ok" (read: "ok <value>"); anything else answers
// "error: <why>", naming the bus, node, object or value that was wrong.
#pragma once

#include <string>
#include <string_view>

#include "drivers/host/simulated_machine.h"

namespace vantor::host {

// Runs one node command (the line after "node") on the simulation's own
// time: the models are reached under the pump's model lock.
std::string RunNodeCommand(SimulatedMachine& machine, std::string_view arguments);

}  // namespace vantor::host
