// What a driver request reports, on two levels.
//
// The request itself completes with a RequestCompletion: success with the
// table's output length, or one of the few refusals below with no data.
// The driver's outcome travels inside a successful request as a
// DriverStatus word (facility 2320) at the offset that the request table
// gives (driver_requests.h).
#pragma once

#include <cstdint>

#include "common/status_code.h"

namespace vantor::common {

// The driver's outcome word. Values: kDriverSuccess and the kDriver... codes
// of status_code.h; the drivers produce these situations:
//   kDriverClaimedByOther         the device is claimed by another handle
//   kDriverBaseDeviceMissing      the parallel-port device or channel-1 device is missing
//   kDriverBaseDeviceInUse        the parallel port is in use by another driver
//   kDriverInterruptConnectFailed connecting the interrupt failed / none connected
//   kDriverNoController           no CAN controller answers
//   kDriverRunNotStopped          channel 1 refused to switch channel 2's line off
//   kDriverNoRun                  no run is active
//   kDriverInvalidRunRecord       the RunRecord is invalid
//   kDriverRunActive              a run is already active
//   kDriverNotOwner               the handle does not own the run or the claim
//   kDriverBufferedRunRefused     set-point ring overflow or mixed start/active codes
//   kDriverBusOff                 the controller stays bus-off
//   kDriverLatencyNotMeasured     the run has no latency measurement
using DriverStatus = StatusCode;

constexpr bool IsDriverStatus(StatusCode code) noexcept {
  return StatusFacility(code) == kFacilityDriver;
}

// Completion of the request itself (the operating system's status values).
using RequestCompletion = std::uint32_t;
inline constexpr RequestCompletion kRequestSuccess = 0x00000000;
inline constexpr RequestCompletion kRequestPending = 0x00000103;
inline constexpr RequestCompletion kRequestNotImplemented = 0xC0000002;
inline constexpr RequestCompletion kRequestAccessViolation = 0xC0000005;   // open while claimed
inline constexpr RequestCompletion kRequestInvalidParameter = 0xC000000D;  // unknown function
inline constexpr RequestCompletion kRequestCancelled = 0xC0000120;
inline constexpr RequestCompletion kRequestInvalidBufferSize = 0xC0000206;  // length mismatch

}  // namespace vantor::common
