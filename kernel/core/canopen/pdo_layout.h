// The kernel's process-data layout of the drives' receive PDOs: the
// controlword and the set-point each in the PDO configured for it, on the
// nodes and their axes.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

common::StatusCode MapControlwordRpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept;
common::StatusCode MapSetpointRpdo(ServiceContext& context, std::uint16_t pdoNumber) noexcept;

}  // namespace vantor::canopen
