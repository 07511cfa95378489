// The 4096-byte communication block that one channel's kernel and its
// applications share, and the conversion of numeric values between the
// library's 32-bit interface and the block's 64-bit wire values.
//
// Layout (little-endian, offsets from the start of the mapping):
//   0x00 header: heartbeat byte, coordinate and axis counts
//   0x18 SdoRequestArea: one CAN frame and its answer
//   0x3C StandardRequestArea: command code, result word, payload from 0x44
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/wire_record.h"

namespace vantor::common {

inline constexpr std::size_t kCommunicationBlockSize = 4096;

using CommunicationBlockView = ByteView<kCommunicationBlockSize>;
using ConstCommunicationBlockView = ConstByteView<kCommunicationBlockSize>;
using CommunicationBlockRecord = ByteRecord<kCommunicationBlockSize>;
static_assert(sizeof(CommunicationBlockRecord) == kCommunicationBlockSize);

namespace communication_block {

// ---- Header ----------------------------------------------------------------
// Toggled by the kernel's cycle every cycle between these two values.
inline constexpr Field<std::uint8_t, 0x00> kHeartbeat{};
inline constexpr std::uint8_t kHeartbeatLow = 0x00;
inline constexpr std::uint8_t kHeartbeatHigh = 0xFF;
// Written by the library after CNC initialisation. The kernel moves the
// current count when an interpolated axis becomes a handling axis and back,
// and the reset copies the configured count into it.
inline constexpr Field<std::uint32_t, 0x04> kConfiguredCoordinateCount{};
inline constexpr Field<std::uint32_t, 0x08> kCurrentCoordinateCount{};
inline constexpr Field<std::uint32_t, 0x0C> kAxisCount{};
inline constexpr Field<std::uint32_t, 0x10> kCoor32BitFormat{};
inline constexpr Field<std::uint32_t, 0x14> kHandlingAxisCount{};

// ---- SdoRequestArea (0x18 .. 0x3B) -----------------------------------------
inline constexpr std::size_t kSdoRequestAreaOffset = 0x18;
inline constexpr std::size_t kSdoRequestAreaSize = 36;
inline constexpr std::size_t kSdoFrameDataSize = 8;
// Written by the application. COB-ID 0 is an NMT command.
inline constexpr Field<std::uint16_t, 0x18> kSdoRequestCobId{};
inline constexpr BytesField<0x1A, kSdoFrameDataSize> kSdoRequestData{};
inline constexpr Field<std::uint8_t, 0x22> kSdoRequestLength{};
inline constexpr Field<std::uint16_t, 0x24> kSdoAnswerCobId{};
// Written by the kernel.
inline constexpr BytesField<0x26, kSdoFrameDataSize> kSdoAnswerData{};
inline constexpr Field<std::uint8_t, 0x2E> kSdoAnswerLength{};
// Written by the application.
inline constexpr Field<std::uint32_t, 0x30> kSdoTimeoutMicroseconds{};
// Written by the kernel.
inline constexpr Field<std::uint32_t, 0x34> kSdoElapsedMicroseconds{};
inline constexpr Field<std::uint32_t, 0x38> kSdoResult{};
inline constexpr std::uint16_t kNmtCobId = 0;

// ---- StandardRequestArea (0x3C .. end) -------------------------------------
inline constexpr std::size_t kStandardRequestAreaOffset = 0x3C;
inline constexpr Field<std::uint32_t, 0x3C> kCommandCode{};
// Preset to the kernel's success by the application before it signals.
inline constexpr Field<std::uint32_t, 0x40> kResult{};
inline constexpr std::size_t kPayloadOffset = 0x44;
inline constexpr std::size_t kPayloadCapacity = kCommunicationBlockSize - kPayloadOffset;
// While a standard request is served, the cycle reads the first payload word
// as the mask of handling axes whose stop the request awaits.
inline constexpr Field<std::uint32_t, 0x44> kAwaitedHandlingAxisMask{};

// Block offset of payload byte P+n.
constexpr std::size_t PayloadAt(std::size_t n) noexcept { return kPayloadOffset + n; }

static_assert(kSdoRequestCobId.kOffset == kSdoRequestAreaOffset);
static_assert(kSdoResult.kEnd == kSdoRequestAreaOffset + kSdoRequestAreaSize);
static_assert(kSdoRequestAreaOffset + kSdoRequestAreaSize == kStandardRequestAreaOffset);
static_assert(kHandlingAxisCount.kEnd == kSdoRequestAreaOffset);
static_assert(kResult.kEnd == kPayloadOffset);
static_assert(kPayloadCapacity == 4028);

}  // namespace communication_block

// ---- Wire values -------------------------------------------------------------

// A coordinate whose value is this marker is not programmed (not moved).
inline constexpr std::int64_t kNoMoveWireValue = 0x3FFFFFFFFFFFFFFF;
// The same marker with 32-bit command values.
inline constexpr std::int32_t kNoMoveValue32 = 0x3FFFFFFF;

// The library's 32-bit value as a wire value: the 32-bit no-move marker
// becomes the 64-bit marker, every other value is sign-extended.
constexpr std::int64_t Int32ToWire(std::int32_t value) noexcept {
  return value == kNoMoveValue32 ? kNoMoveWireValue : static_cast<std::int64_t>(value);
}

// A wire value for the library's 32-bit interface, saturated symmetrically
// to +-2147483647 (the most negative 32-bit value is never produced).
constexpr std::int32_t WireToInt32(std::int64_t value) noexcept {
  constexpr std::int64_t kLimit = 2147483647;
  if (value > kLimit) return static_cast<std::int32_t>(kLimit);
  if (value < -kLimit) return static_cast<std::int32_t>(-kLimit);
  return static_cast<std::int32_t>(value);
}

static_assert(Int32ToWire(kNoMoveValue32) == kNoMoveWireValue);
static_assert(WireToInt32(-2147483648LL) == -2147483647);

}  // namespace vantor::common
