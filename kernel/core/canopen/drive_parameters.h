// A drive's motion parameters: read once after an initialisation into the
// node objects and their axis records, and the kernel's working values
// written back on every reset (gear ratio, position option, buffered
// set-point depth, profile parameters, interpolation period and sub-mode,
// limit-switch bridging).
//
// Every service arms its step on the nodes, collects their results, then
// runs the same on the further axes (the `OnAxes` twin): kKernelSuccess,
// kCycleNotRunning, or kKernelOperationFailed with each node's and axis's
// own result saying why.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// ---- Steps ------------------------------------------------------------------------------
// Reads every drive parameter into the node's `uploadedDrive` and
// `uploadedGear`; kKernelNodeParameterInvalid when a limit, the position
// option parameter, the gear, a homing speed or acceleration is zero or
// the home-switch distance negative.
void DriveParameterUploadStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// The rule the read values must pass.
bool DriveParametersValid(const DriveParameters& drive, const GearRatio& gear) noexcept;

// ---- Read-out --------------------------------------------------------------------------
// Only while a reset is pending (else kKernelSuccess at once): every drive's
// parameters into its node object and axis records, then, when all were
// read, the gantry home-offset check (kKernelOperationFailed when it
// fails), and the reference copies.
common::StatusCode ReadDriveParameters(ServiceContext& context) noexcept;
// Each axis's values go into its own record; an axis whose gear or
// velocity scaling differs from its node's gets kKernelNodeParameterInvalid.
common::StatusCode ReadDriveParametersOnAxes(ServiceContext& context) noexcept;

// The home offset of node `nodeNumber` (1-based) or of its axis (-1: the
// node), plus the home-switch distance for homing methods 1, 2, 3 and 6.
// 0.0 for a node or axis that does not exist.
double HomePositionOffset(const NodeTable& nodes, std::uint32_t nodeNumber,
                          std::int32_t axis) noexcept;

// A gantry pair that homes with the gantry PDO waits on the drive that
// lies farthest out: the axis with the largest home position offset above
// the node's own (the first on ties), else the node itself. That drive
// must report the gantry homing phases; where it does not, its result
// (an axis's, or the node's last result) becomes
// kKernelNodeParameterInvalid and the answer is false. Pairs without
// the gantry PDO homing or without axes are not looked at. The caller
// holds the kernel data lock.
bool CheckGantryHomeOffsets(const NodeTable& nodes) noexcept;

// ---- Working values --------------------------------------------------------------------
// The interpolated nodes (when the initialisation asked for the position
// option): 0 for a non-zero `value`, else the option byte read at start-up.
common::StatusCode WritePositionOption(ServiceContext& context, std::uint32_t value) noexcept;
common::StatusCode WritePositionOptionOnAxes(ServiceContext& context, std::uint32_t value) noexcept;

// One node (0-based) takes a new gear; on success its and its axes' values
// in drive units follow the new ratio. A failure clears its run enable.
common::StatusCode SetGearRatio(ServiceContext& context, std::uint32_t nodeIndex,
                                std::uint32_t numerator, std::uint32_t denominator) noexcept;
// The nodes with a changed gear go back to the gear read at start-up.
common::StatusCode RestoreGearRatios(ServiceContext& context) noexcept;

common::StatusCode RestoreProfileParameters(ServiceContext& context) noexcept;
common::StatusCode RestoreProfileParametersOnAxes(ServiceContext& context) noexcept;

// The teach-in depth for a non-zero `value`, else the path-mode depth.
common::StatusCode WriteBufferDepth(ServiceContext& context, std::uint32_t value) noexcept;
common::StatusCode WriteBufferDepthOnAxes(ServiceContext& context, std::uint32_t value) noexcept;

common::StatusCode WriteInterpolationPeriod(ServiceContext& context) noexcept;
common::StatusCode WriteInterpolationPeriodOnAxes(ServiceContext& context) noexcept;
common::StatusCode WriteInterpolationSubMode(ServiceContext& context) noexcept;
common::StatusCode WriteInterpolationSubModeOnAxes(ServiceContext& context) noexcept;

// Bridges the hardware limit switches (`on`) or not; switching off marks
// both switches free on every node. With `collect` the node results are
// kept as their last results. Success stores `on` in the kernel's flag.
common::StatusCode SetLimitSwitchBridging(ServiceContext& context, bool on, bool collect) noexcept;
common::StatusCode SetLimitSwitchBridgingOnAxes(ServiceContext& context, bool on) noexcept;

}  // namespace vantor::canopen
