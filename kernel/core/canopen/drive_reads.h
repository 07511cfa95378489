// What the complete status reads from the drives: the error number behind
// a drive's last emergency code, its digital inputs, and the arming of the
// node records for the cyclic exchange once the slots are free again.
#pragma once

#include <cstdint>

#include "common/status_code.h"
#include "kernel/core/canopen/node_services.h"

namespace vantor::canopen {

// The number a drive error is shown with, and what the error says of the
// node's state.
struct DriveError {
  std::int16_t number = 0;
  bool clearsHomed = false;      // flag D in both rows
  bool clearsStartWord = false;  // the node needs no reset before its start
};
inline constexpr std::int16_t kUnknownDriveError = -1;     // 0xFFFF
inline constexpr std::int16_t kDriveErrorReadFailed = -2;  // 0xFFFE
// The drive error numbers of a gantry slave's limit switches.
inline constexpr std::int16_t kNegativeLimitSwitchError = 24;
inline constexpr std::int16_t kPositiveLimitSwitchError = 25;

// The emergency error code's number (0x0000 is 0, an unlisted code
// kUnknownDriveError).
DriveError DriveErrorFor(std::uint16_t emergencyCode) noexcept;

// Reads 0x1003 sub 1 and writes the number into both rows' error words,
// kDriveErrorReadFailed when the read fails.
void DriveErrorStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// Reads 0x60FD sub 0; the record then holds a success flag in its first
// word and the input byte behind it.
void ReadDigitalInputsStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;
namespace digital_inputs_request {
inline constexpr common::Field<std::uint32_t, 0> kValid{};
inline constexpr common::Field<std::uint8_t, 4> kInputs{};
inline constexpr std::uint8_t kNegativeLimitSwitch = 0x01;
inline constexpr std::uint8_t kPositiveLimitSwitch = 0x02;
}  // namespace digital_inputs_request

// The node's two message records for the cyclic exchange, the step's
// number being the mode; both records are zeroed first.
namespace node_record_mode {
// The answer record takes the feedback PDO; the set-point ring is idle.
inline constexpr std::int32_t kArm = 1;
// Both records stay released; the set-point ring is idle.
inline constexpr std::int32_t kClear = 2;
// The answer record takes the feedback PDO from the next SYNC on.
inline constexpr std::int32_t kArmLate = 3;
}  // namespace node_record_mode
void NodeRecordStep(CycleContext& cycle, std::uint32_t nodeNumber) noexcept;

// Every node's error number from its drive. Node failures show only in the
// numbers: kKernelSuccess, or kCycleNotRunning.
common::StatusCode ReadDriveErrors(ServiceContext& context) noexcept;

enum class RecordArming { Arm, Clear };
// Mode 1 (arm) or 2 (clear) on every node; with `collect` the node results
// are collected (kKernelOperationFailed on a failure).
common::StatusCode ArmAllNodeRecords(ServiceContext& context, RecordArming arming,
                                     bool collect) noexcept;
// Mode 3 on one node or on the masked nodes; with `collect` each node's
// last result takes its result (kKernelOperationFailed on a failure).
common::StatusCode ArmNodeRecord(ServiceContext& context, bool collect,
                                 std::uint32_t nodeIndex) noexcept;
common::StatusCode ArmNodeRecordsMasked(ServiceContext& context, bool collect,
                                        NodeMask mask) noexcept;

}  // namespace vantor::canopen
