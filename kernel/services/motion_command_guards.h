// The state tests that the path and axis commands run before they act.
// Each command lists its guards in the order it tests them; the first that
// fails gives the command's answer.
#pragma once

#include <span>

#include "common/status_code.h"
#include "kernel/core/kernel_data.h"

namespace vantor::kernel {

enum class MotionGuard {
  CycleRunning,                // kCycleNotRunning
  BusInOrder,                  // kKernelCanBusDisturbed
  SyncInOrder,                 // kKernelSyncObjectFailed
  PeripheryPdoInOrder,         // kKernelPeripheryPdoInvalid
  NoBreak,                     // kKernelBreakModeActive
  NoMotionStop,                // `motionStop`: kKernelStopModeActive
  NoQuickStop,                 // `quickStopping` or `stopped`: kKernelQuickStopActive
  NoBridgeOutsideTest,         // bridge without test mode: kKernelLimitSwitchBridgeActive
  NoBridgeOutsideTeachOrTest,  // bridge without teach or test mode: the same
  NoBridge,                    // bridge at all: the same
  NoMoveOut,                   // kKernelLimitSwitchMoveOutActive
  MoveOutOn,                   // move-out mode off: the same
  NoPowerOff,                  // kKernelManualModeActive
  NoTeachMode,                 // kKernelTeachInModeActive
  NodesReady,  // every node ready and homed, node results set: kKernelNodeWasInErrorState
  NodesHomed,  // every node started, answering and homed (no results set): the same
  NoMotion,    // `motionActive`: kKernelMovementSegmentActive
  NoMotionOrHandlingMove,  // `motionActive` or a handling axis moving: the same
  NoHandlingMove,          // a handling axis moving: kKernelMovementSegmentActive
  NoSingleMove,            // `motionActive` (outside path mode): kKernelSegmentMotionAlreadyActive
  PathModeOn,              // kKernelPathModeError when off
  NoPathStarted,           // kKernelPathModeError
  NoPathModeOrStart,       // `pathMode` or `pathStarted`: kKernelPathModeError
  NoStopOnInputRunning,    // `stopOnInputActive`: kKernelStopOnInputInAction
  NoStopOnInputStop,       // `stopOnInputTriggered`: kKernelStopOnInputStopActive
  NoHandwheel,             // `handwheelActive`: kKernelHandwheelAlreadyActive
  NoHandwheelEvaluation,   // `handwheelInitialised`: kKernelHandwheelAlreadyInitialized
  NoDistanceControl,       // a drive holds its distance itself: kKernelDistanceControlActive
  NoVelocityOutput,        // kKernelVelPropOutputAlreadyActive
  HasInterpolatedAxis,     // no interpolated coordinate: kKernelMovementDataInvalid
  HasInterpolatedPair,     // fewer than two: the same
  // Path mode on: room in the segment queue, else kKernelPathBufferError.
  // Off: no single move running (kKernelSegmentMotionAlreadyActive) and no
  // path started (kKernelPathModeError).
  QueueOpenForMove,
  QueueHasRoom,  // queue full: kKernelPathBufferError
  // Path mode off: kKernelSegmentMotionAlreadyActive while a move runs,
  // else kKernelPathModeError.
  PathModeForTransfer,
};

// The checks every path command makes after the CNC initialisation and the
// reset, from the cycle to the node check.
inline constexpr MotionGuard kCommonMotionGuards[] = {
    MotionGuard::CycleRunning,        MotionGuard::BusInOrder, MotionGuard::SyncInOrder,
    MotionGuard::PeripheryPdoInOrder, MotionGuard::NoBreak,    MotionGuard::NoQuickStop,
    MotionGuard::NoBridgeOutsideTest, MotionGuard::NoMoveOut,  MotionGuard::NodesReady,
};

// The checks of a command that changes a setting the motion depends on:
// the cycle and the drives in order, no motion and no path.
inline constexpr MotionGuard kSettingChangeGuards[] = {
    MotionGuard::CycleRunning,        MotionGuard::BusInOrder, MotionGuard::SyncInOrder,
    MotionGuard::PeripheryPdoInOrder, MotionGuard::NoBreak,    MotionGuard::NoQuickStop,
    MotionGuard::NodesReady,          MotionGuard::NoMotion,   MotionGuard::NoPathModeOrStart,
};

// The answer of one guard: kKernelSuccess when it passes.
common::StatusCode CheckMotionGuard(KernelData& data, MotionGuard guard);

// The guards in order; the first failure, or kKernelSuccess. The caller
// holds the kernel data lock.
common::StatusCode CheckMotionGuards(KernelData& data, std::span<const MotionGuard> guards);

// Before the kernel data lock: the CNC initialisation, then the reset.
common::StatusCode CheckCommandPreconditions(const KernelData& data);

}  // namespace vantor::kernel
