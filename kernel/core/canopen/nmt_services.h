// NMT commands to the nodes and their axes, with the waits a node needs to
// boot after a reset, and the maker object that tells a drive whether its
// reset keeps its run enable.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// The nodes that need an NMT command now: a node with axes that is not
// homed, a node that is not started and enabled, a node whose distance
// regulator runs, or every node while stop-on-input or the handwheel is
// initialised. The caller holds the kernel data lock.
NodeMask NodesNeedingNmt(ServiceContext& context) noexcept;

// Start (0x01), reset node (0x81) or reset communication (0x82) for the
// nodes that need it, each frame through the first node's slot; after a
// reset the nodes are given their boot time. With `clearOption` a reset
// node clears the drive option first.
common::StatusCode SendNmtCommand(ServiceContext& context, bool clearOption,
                                  std::uint8_t command) noexcept;

// The same command to every axis of the masked nodes, one frame at a time.
common::StatusCode SendNmtCommandToAxes(ServiceContext& context, NodeMask mask,
                                        std::uint8_t command) noexcept;

// Maker object 0x2047 sub 0 := 1 on the nodes of `mask`, 0 on the others,
// for every node that carries the object, and on its axes.
common::StatusCode WriteMakerObject2047(ServiceContext& context, NodeMask mask) noexcept;

}  // namespace vantor::canopen
