// Records of the kernel link's start-up: the CAN hardware parameters, the
// CAN start record that command 4 carries and the kernel identity that
// command 3 answers. Both travel in the payload of the communication block
// (from block offset 0x44); offsets here are from the record's start.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/communication_block.h"
#include "common/wire_record.h"

namespace vantor::common {

// ---- CanHardwareParameters (24 bytes) ------------------------------------------
// The first 24 bytes of both the CAN start record and the kernel identity.
inline constexpr std::size_t kCanHardwareParametersSize = 24;
using CanHardwareParameters = ByteRecord<kCanHardwareParametersSize>;
static_assert(sizeof(CanHardwareParameters) == 24);

namespace can_hardware_parameters {
inline constexpr Field<std::uint8_t, 0> kCanInterface{};    // InterfaceType
inline constexpr Field<std::uint8_t, 1> kKernelModus{};     // Channel
inline constexpr Field<std::uint8_t, 2> kBaudRateForCan{};  // bit-rate code 0..7
inline constexpr Field<std::uint32_t, 4> kMeasureLatenzTime{};
inline constexpr Field<std::int16_t, 8> kLookAheadDesPosiMaxNo{};
inline constexpr Field<std::uint32_t, 12> kInterruptCycle{};  // microseconds
inline constexpr Field<std::uint32_t, 16> kTimeForGlobalSynPeriod{};
inline constexpr Field<std::uint32_t, 20> kSynMaxWaitTime{};
static_assert(kSynMaxWaitTime.kEnd == kCanHardwareParametersSize);
}  // namespace can_hardware_parameters

// ---- CanStartRecord (64 bytes, payload of command 4) -----------------------------
inline constexpr std::size_t kCanStartRecordSize = 64;
using CanStartRecord = ByteRecord<kCanStartRecordSize>;
static_assert(sizeof(CanStartRecord) == 64);

namespace can_start_record {
// Bytes 0..23: the CanHardwareParameters, whose fields are named here too.
using namespace can_hardware_parameters;
inline constexpr Field<std::uint32_t, 24> kWatchProcessId{};
inline constexpr Field<std::uint32_t, 28> kWindowsTimerRes{};      // 0 = none
inline constexpr Field<std::uint32_t, 32> kPathWindowsTimerRes{};  // 0 = none
// The cycle's exchange time-out in milliseconds.
inline constexpr Field<std::uint32_t, 36> kRealTimeThreadIntWaitTime{};
inline constexpr std::uint32_t kDefaultRealTimeThreadIntWaitTime = 1500;
// At most 20 characters and the terminator; bytes 61..63 stay free.
inline constexpr std::size_t kMaxDeviceNameLength = 20;
inline constexpr TextField<40, kMaxDeviceNameLength + 1> kDeviceName{};
static_assert(kDeviceName.kEnd + 3 == kCanStartRecordSize);
static_assert(kWatchProcessId.kOffset == kCanHardwareParametersSize);
}  // namespace can_start_record

// ---- KernelIdentity (44 bytes: eleven 32-bit words, answer of command 3) ----------
inline constexpr std::size_t kKernelIdentitySize = 44;
using KernelIdentity = ByteRecord<kKernelIdentitySize>;
static_assert(sizeof(KernelIdentity) == 44);

namespace kernel_identity {
// Bytes 0..23: the kernel's CanHardwareParameters, whose fields are named here too.
using namespace can_hardware_parameters;
inline constexpr Field<std::uint32_t, 24> kWindowsTimerRes{};
inline constexpr Field<std::uint32_t, 28> kPathWindowsTimerRes{};
inline constexpr Field<std::uint32_t, 32> kRealTimeThreadIntWaitTime{};
inline constexpr Field<std::uint32_t, 36> kKernelProcessId{};
inline constexpr Field<std::uint32_t, 40> kWatchProcessId{};
static_assert(kWatchProcessId.kEnd == kKernelIdentitySize);
// Block offsets as the library reads them: 0x44 .. 0x6F.
static_assert(communication_block::PayloadAt(kKernelProcessId.kOffset) == 0x68);
static_assert(communication_block::PayloadAt(kWatchProcessId.kOffset) == 0x6C);
}  // namespace kernel_identity

}  // namespace vantor::common
