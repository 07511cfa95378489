// The per-cycle path-velocity ramp: decides from the request and the state
// of the profile whether the path accelerates, decelerates or holds, and
// whether braking to the end velocity must start; `StepProfile` then
// advances the profile by the cycle's time.
//
// Each cycle the caller loads the cycle time into `timeLeft`, sets
// `requestedVelocity` and `targetChanged` when the commanded velocity or the
// override changed, sets `endVelocityRequest` and `replan` from the segment
// queue, and calls `RampPathVelocity`.
#pragma once

#include "kernel/core/motion/velocity_profile.h"

namespace vantor::motion {

// The per-cycle entry.
ProfileStepResult RampPathVelocity(PathVelocityProfile& profile) noexcept;

// Adopts a changed `endVelocityRequest` (runs only while `replan` is set).
void PlanVelocityProfile(PathVelocityProfile& profile) noexcept;

// The three decisions; each ends by stepping the profile.
ProfileStepResult DecelerateTowardTarget(PathVelocityProfile& profile) noexcept;
ProfileStepResult AccelerateTowardTarget(PathVelocityProfile& profile) noexcept;
ProfileStepResult HoldVelocity(PathVelocityProfile& profile) noexcept;

}  // namespace vantor::motion
