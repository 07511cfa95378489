// The step function that configures one PDO of the drive its slot points
// at, from the slot's request record (`pdo_mapping_request`): the PDO's
// identifier, for a transmit PDO its inhibit time and event timer, its
// mapping entries and count, and last its transmission type. Every write
// is an SDO download; the first that fails ends the request with its
// result.
#pragma once

#include <cstdint>

#include "kernel/core/canopen/node_object.h"

namespace vantor::canopen {

namespace pdo_config_entry {
// The step a request starts at: the identifier is written first.
inline constexpr std::int32_t kIdentifierFirst = 3;
}  // namespace pdo_config_entry

void PdoConfigStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// The communication and mapping parameter indices of PDO n (1..4).
std::uint16_t PdoCommunicationIndex(bool transmit, std::uint16_t pdo) noexcept;
std::uint16_t PdoMappingIndex(bool transmit, std::uint16_t pdo) noexcept;

}  // namespace vantor::canopen
