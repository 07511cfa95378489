// The reset's steps bound to their services, in the order they run.
#pragma once

#include <span>

#include "kernel/services/reset_sequence.h"

namespace vantor::kernel {

std::span<const ResetStep> ResetSteps() noexcept;
ResetClosing ResetClosingSteps() noexcept;

}  // namespace vantor::kernel
