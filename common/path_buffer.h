// The library-side path buffer: the per-channel mapping
// "Cnc High Speed Cutting Path Puffer" in which the library collects
// movement commands that the kernel takes over with command 52.
//
// Layout: a 16-byte header (enabled flag, capacity, record count), then
// 272-byte PathBufferRecords. The mapping is a whole number of pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/wire_record.h"

namespace vantor::common {

inline constexpr std::size_t kPathBufferHeaderSize = 16;
inline constexpr std::size_t kPathBufferRecordSize = 272;
inline constexpr std::size_t kPathBufferPageSize = 4096;

using PathBufferHeaderView = ByteView<kPathBufferHeaderSize>;
using PathBufferRecord = ByteRecord<kPathBufferRecordSize>;
using PathBufferRecordView = ByteView<kPathBufferRecordSize>;
static_assert(sizeof(PathBufferRecord) == 272);

namespace path_buffer {
inline constexpr Field<std::uint32_t, 4> kEnabled{};   // 0 or 1, set by command 51
inline constexpr Field<std::uint32_t, 8> kCapacity{};  // records, written by the library
inline constexpr Field<std::uint32_t, 12> kCount{};    // records stored
static_assert(kCount.kEnd == kPathBufferHeaderSize);

// Offset of record `index` from the start of the mapping.
constexpr std::size_t RecordOffset(std::size_t index) noexcept {
  return kPathBufferHeaderSize + kPathBufferRecordSize * index;
}

// Size of the mapping for `capacity` records: header and records rounded up
// to whole pages, or nothing when it does not fit the 32-bit size that the
// mapping is created with.
constexpr std::optional<std::uint32_t> MappingSize(std::uint32_t capacity) noexcept {
  const std::uint64_t bytes =
      kPathBufferHeaderSize + std::uint64_t{kPathBufferRecordSize} * capacity;
  const std::uint64_t pages = (bytes + kPathBufferPageSize - 1) / kPathBufferPageSize;
  const std::uint64_t size = pages * kPathBufferPageSize;
  if (size > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(size);
}

// How many whole records a mapping of `mappingSize` bytes can hold: the
// bound for a capacity or count read from the shared header.
constexpr std::size_t RecordsThatFit(std::size_t mappingSize) noexcept {
  if (mappingSize < kPathBufferHeaderSize) return 0;
  return (mappingSize - kPathBufferHeaderSize) / kPathBufferRecordSize;
}
}  // namespace path_buffer

namespace path_buffer_record {
// 36 line, 37 arc by end point, 38 arc by sweep angle, 39 path velocity, 57 event.
inline constexpr Field<std::uint32_t, 0> kCommandCode{};
// From here the payload exactly as in the standard request area from 0x44.
inline constexpr std::size_t kPayloadOffset = 8;
inline constexpr std::size_t kPayloadCapacity = kPathBufferRecordSize - kPayloadOffset;
inline constexpr Field<std::uint32_t, 8> kAbsoluteFlag{};  // codes 36 to 38
inline constexpr Field<std::uint32_t, 12> kRapidFlag{};    // code 36
// Where command 21 finds the target coordinates of each kind of record.
inline constexpr std::size_t kLineCoordinatesOffset = 16;
inline constexpr std::size_t kArcByEndPointCoordinatesOffset = 56;
inline constexpr std::size_t kArcBySweepAngleCoordinatesOffset = 64;
// Code 39: the velocities; code 57: the event name.
inline constexpr std::size_t kFirstVelocityOffset = 8;
inline constexpr std::size_t kSecondVelocityOffset = 16;
inline constexpr std::size_t kMaxEventNameLength = 260;
inline constexpr TextField<8, kMaxEventNameLength + 1> kEventName{};
static_assert(kEventName.kEnd <= kPathBufferRecordSize);
}  // namespace path_buffer_record

}  // namespace vantor::common
