// The positions of held drives over a repeated reset. A node is held while
// it keeps its position by itself (distance regulator, stop-on-input or
// handwheel in use) and is enabled and homed: the reset reads where its
// drive stands before the drives are reset and, once they are enabled
// again, moves node and axes back there.
#pragma once

#include <array>
#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Only the first nodes of the table can be held.
inline constexpr std::uint32_t kMaxHeldNodes = 6;

// Kept by the reset from the read to the restore.
struct HeldPositions {
  NodeMask mask = 0;                                // bit k: node k is held
  std::array<std::int32_t, kMaxNodes> positions{};  // position demand of node k
};

// Finds the held nodes and reads their position demand (0x6062). A failed
// read is the answer and leaves `held` empty.
common::StatusCode ReadHoldPositions(ServiceContext& context, HeldPositions& held) noexcept;

// Moves the held nodes that are still homed, with their axes, to the kept
// positions, which then become the nodes' positions and their coordinates'.
// Nothing held: success at once.
common::StatusCode RestoreHeldPositions(ServiceContext& context,
                                        const HeldPositions& held) noexcept;

}  // namespace vantor::canopen
