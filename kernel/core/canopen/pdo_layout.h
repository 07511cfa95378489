// The kernel's process-data layout on the drives: receive PDOs for the
// controlword, the interpolation set-points and the shared time stamp,
// transmit PDOs for the feedback and the time stamp's source, and the
// reset of all four PDOs each way.
//
// Every service fills the request record of each node concerned (record
// zeroed first, so fields it does not name are 0), runs `PdoConfigStep` on
// them, collects the node results and, where it has one, runs its axis
// twin. Receive PDOs of an axis take its node's identifiers (the axis takes
// its node's frames); transmit PDOs of an axis its own. Any failure:
// kKernelOperationFailed; a stopped cycle: kCycleNotRunning.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// PDO n emptied on every node: transmission type 0xF1 and, for a transmit
// PDO, inhibit time 65000. Nodes first, then their axes, for n = 1..4.
common::StatusCode ResetAllRpdos(ServiceContext& context) noexcept;
common::StatusCode ResetAllTpdos(ServiceContext& context) noexcept;
common::StatusCode ResetRpdosOnAxes(ServiceContext& context, std::uint16_t pdoNumber) noexcept;
common::StatusCode ResetTpdosOnAxes(ServiceContext& context, std::uint16_t pdoNumber) noexcept;
// The same on one node, without its axes.
common::StatusCode ResetNodeTpdo(ServiceContext& context, std::uint32_t nodeIndex,
                                 std::uint16_t pdoNumber) noexcept;

// Receive PDO n carries the controlword (type 0).
common::StatusCode MapControlwordRpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept;
common::StatusCode MapControlwordRpdoOnAxes(ServiceContext& context,
                                            std::uint16_t pdoNumber) noexcept;
// Receive PDO n carries the interpolation data record (type 0xFF).
common::StatusCode MapSetpointRpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept;
common::StatusCode MapSetpointRpdoOnAxes(ServiceContext& context, std::uint16_t pdoNumber) noexcept;
// The masked nodes' own control (or motion) receive PDO and that of their
// axes carry the controlword (or the set-points) again, after a move by
// process data used them for other objects.
common::StatusCode MapControlwordToRpdo(ServiceContext& context, NodeMask mask) noexcept;
common::StatusCode MapSetpointRpdoMasked(ServiceContext& context, NodeMask mask) noexcept;
// Receive PDO n of every node but the time stamp's source carries the
// time stamp on its identifier; a failing node loses its run enable.
common::StatusCode MapTimeStampRpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept;
common::StatusCode MapTimeStampRpdoOnAxes(ServiceContext& context,
                                          std::uint16_t pdoNumber) noexcept;
// Transmit PDO n of the nodes with axes and of their axes carries the
// chain's state (0x2043 sub 6, 32 bits, and sub 5, 16 bits).
common::StatusCode MapStateTpdoOnAxes(ServiceContext& context, std::uint16_t pdoNumber) noexcept;
// Transmit PDO n carries position, statusword and digital inputs (type 1,
// inhibit 10).
common::StatusCode MapFeedbackTpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept;
// Transmit PDO n of the time stamp's source carries the configured object,
// sent on remote request (type 0xFD). Only an interpolated node's failure
// counts.
common::StatusCode MapTimeStampTpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept;

// The node that sends the time stamp: the one the configuration names, or
// the first node when it names none. The caller holds the kernel data lock.
bool IsTimeStampSource(const NodeTable& nodes, std::uint32_t nodeIndex) noexcept;

// The identifier of the time stamp, from the first node of the table: its
// transmit PDO 2 when it is the source, else its receive PDO 3 (4 with the
// alternative option). 0 for an empty table. Takes the kernel data lock.
std::uint16_t TimeStampCobId(ServiceContext& context) noexcept;

}  // namespace vantor::canopen
