// The external handling axes as the module identification asks them: one
// entry per configured handling axis, its addressing taken from the
// initialisation and its description learned by the first reset.
#pragma once

#include <array>
#include <cstdint>

#include "kernel/core/canopen/module_identification.h"
#include "kernel/core/cnc_configuration.h"

namespace vantor::kernel {

using ExternalAxisTable = std::array<canopen::ExternalAxis, kMaxHandlingAxisRecords>;

// The configured part of an entry: asked only when its device-type flag
// is 1, through its own SDO pair and with its own answer time-out.
canopen::ExternalAxis ExternalAxisOf(const HandlingAxisSettings& settings) noexcept;

// Gives the first `count` entries their configured part again and keeps
// the descriptions they hold; the entries behind them are cleared.
void ConfigureExternalAxes(
    const std::array<HandlingAxisSettings, kMaxHandlingAxisRecords>& settings, std::int32_t count,
    ExternalAxisTable& table) noexcept;

}  // namespace vantor::kernel
