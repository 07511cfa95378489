// Moves started by process data: the motion values and the controlword
// are mapped one at a time into a receive PDO of the node and its axes
// (all on the node's identifier, so that one frame reaches the node and
// every axis), then sent as raw frames.
#pragma once

#include <cstdint>
#include <span>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// Transmission type of a receive PDO that the drive takes at once.
inline constexpr std::uint8_t kPdoOnReceipt = 0xFF;

// Maps one object (`bits` long) as the only entry of receive PDO `pdo` on
// the node and then on each of its axes, with the PDO on the node's
// identifier. Results go to the node's last result and the axes' results;
// any failure: kKernelOperationFailed. The node's SDO identifiers are back
// on every way out.
common::StatusCode MapObjectToRpdo(ServiceContext& context, std::uint32_t nodeIndex,
                                   std::uint16_t pdo, std::uint8_t transmissionType,
                                   std::uint8_t bits, std::uint16_t index,
                                   std::uint8_t subindex) noexcept;

// The same with several entries (`pdo_mapping_request::MappingEntry`
// words) in their order.
common::StatusCode MapObjectsToRpdo(ServiceContext& context, std::uint32_t nodeIndex,
                                    std::uint16_t pdo, std::uint8_t transmissionType,
                                    std::span<const std::uint32_t> entries) noexcept;

// Acceleration, velocity, end velocity 0 and target each through the
// node's motion PDO, then enable operation and the start through its
// control PDO: at once or after the running move, absolute or relative.
// The first failure ends the sequence with its result.
common::StatusCode ProfilePositionMoveByPdo(ServiceContext& context, bool changeImmediately,
                                            bool absolute, std::uint32_t nodeIndex,
                                            std::uint32_t acceleration, std::uint32_t velocity,
                                            std::int32_t target) noexcept;

// Acceleration and target velocity, then enable operation.
common::StatusCode ProfileVelocityMoveByPdo(ServiceContext& context, std::uint32_t nodeIndex,
                                            std::uint32_t acceleration,
                                            std::int32_t velocity) noexcept;

}  // namespace vantor::canopen
