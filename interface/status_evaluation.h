// The controller's and one axis's status as applications see them, derived
// from the complete status that the kernel reports.
//
// The kernel's words are OK words (1 while a condition is absent); the
// application's records hold conditions (1 while present), each also as a
// bit of a flag word. The builders set or clear only the fields and bits
// they derive and leave the others as the caller set them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/complete_status_record.h"
#include "interface/include/linkora.h"

namespace vantor::interface {

using CompleteStatusView = common::ConstByteView<common::kCompleteStatusRecordSize>;

// The configured counts, as the communication block's header gives them.
struct StatusCounts {
  std::uint32_t axes = 0;
  std::uint32_t coordinates = 0;
};

// Counts from the header of a block that any process can write: never more
// than the record has room for.
StatusCounts BoundedStatusCounts(std::uint32_t axes, std::uint32_t coordinates);

// Bits of the controller's flag words.
namespace controller_bit {
inline constexpr int kInMotion = 0;
inline constexpr int kInStopMode = 1;
inline constexpr int kInTeachMode = 2;
inline constexpr int kInTestMode = 3;
inline constexpr int kCurrentOff = 4;
inline constexpr int kInPathMotion = 5;
inline constexpr int kIsMoving = 6;
inline constexpr int kPathStart = 7;
inline constexpr int kSoiInit = 8;
inline constexpr int kSoiActive = 9;
inline constexpr int kSoiInputActive = 10;
inline constexpr int kHandwheelInit = 11;
inline constexpr int kHandwheelActive = 12;
inline constexpr int kHandwheelNotOk = 13;
inline constexpr int kHandwheelLatched = 14;
inline constexpr int kVpoActive = 15;
inline constexpr int kNeedReferenceRun = 16;
inline constexpr int kBreakError = 17;
inline constexpr int kHwlsActive = 18;
inline constexpr int kSwlsActive = 19;
inline constexpr int kHwlsDuringMotion = 20;
inline constexpr int kAfterRunError = 21;
inline constexpr int kPowerFail = 25;
inline constexpr int kScFail = 26;
inline constexpr int kHardwareFail = 27;
inline constexpr int kCommunicationFail = 28;
inline constexpr int kHandwheelF1 = 29;
inline constexpr int kSlaveError = 30;
inline constexpr int kHandwheelF2 = 31;
// Flag word 2.
inline constexpr int kBusy = 0;
inline constexpr int kIsInitialized = 2;
inline constexpr int kDrillCycleActive = 4;
inline constexpr int kCtrlSpecError = 5;
inline constexpr int kPowerState = 6;
}  // namespace controller_bit

// Bits of an axis's flag words.
namespace axis_bit {
inline constexpr int kInMotion = 0;
inline constexpr int kInStopMode = 1;
inline constexpr int kCurrentOff = 2;
inline constexpr int kIsMoving = 3;
inline constexpr int kTargetReached = 4;
inline constexpr int kHwlsNegActive = 8;
inline constexpr int kHwlsPosActive = 9;
inline constexpr int kHwlsDuringMotion = 10;
inline constexpr int kSwlsNegActive = 12;
inline constexpr int kSwlsPosActive = 13;
inline constexpr int kNeedReferenceRun = 16;
inline constexpr int kAfterRunError = 17;
inline constexpr int kCommunicationFail = 18;
inline constexpr int kPowerFail = 20;
inline constexpr int kCurrentLimiter = 22;
// Flag word 2.
inline constexpr int kIsInitialized = 2;
inline constexpr int kReady = 3;
inline constexpr int kHardwareSpecError = 5;
inline constexpr int kSingleAxis = 28;
inline constexpr int kVelocityMode = 29;
inline constexpr int kSlaveError = 30;
}  // namespace axis_bit

// Sets or clears one bit of a status record's flag word.
constexpr void PutFlagBit(std::uint32_t& flags, int bit, bool value) {
  const std::uint32_t mask = std::uint32_t{1} << bit;
  flags = value ? (flags | mask) : (flags & ~mask);
}

void BuildControllerStatus(CompleteStatusView record, StatusCounts counts,
                           LinkoraMotionControlStatus& status);

// Whether a drilling cycle runs, as the drilling plug-in reports it: it
// makes the controller busy.
void MarkDrillCycle(bool drilling, LinkoraMotionControlStatus& status);

// `axis` must lie below counts.axes (the caller refuses any other).
void BuildAxisStatus(CompleteStatusView record, std::uint32_t axis, LinkoraAxisStatus& status);

}  // namespace vantor::interface
