// SDO exchanges on a node's request slot: framed on the node's current SDO
// identifiers and records, checked with the retry rule, the outcome stored
// in the slot's request result.
#pragma once

#include <cstdint>
#include <span>

#include "kernel/core/canopen/node_object.h"
#include "kernel/core/canopen/sdo_client.h"

namespace vantor::canopen {

// Frame an upload or an expedited download and load the countdown. False
// when the node's record numbers are unusable.
bool FrameSlotUpload(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                     std::uint8_t subindex) noexcept;
bool FrameSlotDownload(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                       std::uint8_t subindex, std::uint8_t size, std::uint32_t value) noexcept;

// Check the answer; when done, the result is in the slot's request result.
CheckState AwaitSlotDownload(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                             std::uint8_t subindex) noexcept;
CheckState AwaitSlotUpload(CycleContext& cycle, NodeObject& node, std::uint16_t index,
                           std::uint8_t subindex, std::uint8_t size,
                           std::span<std::uint8_t> data) noexcept;

// An upload's little-endian value of up to four bytes.
std::uint32_t ValueOf(std::span<const std::uint8_t> data) noexcept;

}  // namespace vantor::canopen
