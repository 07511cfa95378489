// Command 24: the complete status. In quick stop it first refreshes what
// only the drives can tell (error numbers, the gantry slaves' errors and
// limit inputs, the latter at most once a second), then copies the whole
// CNC state into the record at the block's payload.
#pragma once

#include <cstdint>
#include <functional>

#include "common/complete_status_record.h"
#include "kernel/services/command_dispatcher.h"

namespace vantor::kernel {

// How often the slave limit inputs are read again while the status is
// asked for in quick stop.
inline constexpr std::uint32_t kSlaveRefreshPeriodMs = 1000;

AfterCommand HandleGetStatus(Kernel& kernel);

// The copy alone: zeroed first, then every field from the kernel's
// records. The caller holds the status data lock.
void FillCompleteStatus(const Kernel& kernel, common::CompleteStatusRecord& record) noexcept;

}  // namespace vantor::kernel
