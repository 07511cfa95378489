// Enabling and disabling every drive, and clearing and restoring the drive
// option around a reset or the exit, on the nodes and on their axes.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Brings every drive to operation enabled; a drive that was not enabled
// before gets its position re-read. With `synchronise` the homed nodes with
// axes are moved so that their axes stand where the node stands. Any
// failure disables every drive again before it is returned.
common::StatusCode EnableAllDrives(ServiceContext& context, bool synchronise) noexcept;

// Brings every drive to switch-on disabled.
common::StatusCode DisableAllDrives(ServiceContext& context) noexcept;

// Clears the drive option on the masked nodes and their axes where it is set
// and the drive runs; `SetDriveOption` restores it exactly there.
common::StatusCode ClearDriveOption(ServiceContext& context, NodeMask mask) noexcept;
common::StatusCode SetDriveOption(ServiceContext& context, NodeMask mask) noexcept;
common::StatusCode ClearDriveOptionOnAxes(ServiceContext& context, NodeMask mask,
                                          bool& anyChanged) noexcept;
common::StatusCode SetDriveOptionOnAxes(ServiceContext& context, NodeMask mask) noexcept;

// True when every node is homed in its current row (also with no nodes).
// The cycle reads it with the kernel data lock held.
bool AllNodesHomedNow(const NodeTable& nodes) noexcept;

}  // namespace vantor::canopen
