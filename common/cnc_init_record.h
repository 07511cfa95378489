// The CNC initialisation record that command 12 carries, and the three
// packed lists behind it (coordinates, axes, CAN handling axes).
//
// On the wire the 880-byte fixed part starts at block offset 0x44; the lists
// follow it directly, each holding exactly as many entries as its count in
// the fixed part says. Offsets here are from the record's start.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/communication_block.h"
#include "common/wire_record.h"

namespace vantor::common {

inline constexpr std::size_t kCncInitRecordSize = 880;
using CncInitRecord = ByteRecord<kCncInitRecordSize>;
static_assert(sizeof(CncInitRecord) == 880);

namespace cnc_init_record {
inline constexpr Field<std::uint32_t, 0> kDeclareMode{};
inline constexpr Field<std::uint32_t, 4> kCncKernelShared{};
inline constexpr Field<std::uint32_t, 8> kCoor32BitFormat{};
inline constexpr Field<std::int32_t, 12> kStartUpMode{};
inline constexpr Field<std::uint32_t, 16> kDllPathPufVecMaxNo{};
inline constexpr Field<std::int32_t, 20> kMeasureCncCheckTime{};
// The position option: 1 lets the interpolated drives drop their own
// position option (0x60FB) while the path runs, for a smoother path at
// the cost of accuracy; 0 leaves the drives as they are. Only 0 and 1.
inline constexpr Field<std::int32_t, 24> kPathSmooth{};
inline constexpr Field<std::int32_t, 28> kCoorNo{};
static_assert(kPathSmooth.kOffset == 24 && kPathSmooth.kEnd == kCoorNo.kOffset);
inline constexpr Field<std::int32_t, 32> kInterAxisNo{};
inline constexpr Field<std::int32_t, 36> kAxisNo{};
inline constexpr Field<std::int32_t, 40> kHandlingAxisNo{};
inline constexpr Field<double, 48> kLinearTeachInVel{};
inline constexpr Field<double, 56> kRotationTeachInVel{};
inline constexpr Field<double, 64> kLinearFastVel{};
inline constexpr Field<double, 72> kRotationFastVel{};
inline constexpr Field<double, 80> kLinearProcessVel{};
inline constexpr Field<double, 88> kRotationProcessVel{};
inline constexpr Field<double, 96> kCircleVelFac{};
inline constexpr Field<double, 104> kRadiusRoundingError{};
inline constexpr Field<double, 112> kAngleRoundingError{};
inline constexpr Field<double, 120> kRadiusError{};
inline constexpr Field<double, 128> kPathVelFac{};
inline constexpr Field<double, 136> kCarryAxisVelFac{};
inline constexpr Field<double, 144> kPathError{};
inline constexpr Field<double, 152> kMaxOverride{};
inline constexpr Field<double, 160> kAngleToRadianFac{};
inline constexpr Field<double, 168> kNoMoveVel{};
inline constexpr Field<double, 176> kMoveEndMaxWaitTime{};       // milliseconds
inline constexpr Field<double, 184> kMaxTimeForCalAverageVel{};  // microseconds
inline constexpr Field<std::uint32_t, 192> kCalFollowError{};
inline constexpr Field<double, 200> kFollowErrorSafetyFac{};
inline constexpr Field<double, 208> kSafetyDistance{};
inline constexpr Field<std::int16_t, 216> kTeachInLookAheadDesPosiMaxNo{};
inline constexpr Field<std::int16_t, 218> kAmplifyMaxNoBufferedDesCoor{};
inline constexpr Field<std::int16_t, 220> kTeachInAmplifyMaxNoBufferedDesCoor{};
inline constexpr Field<std::int32_t, 224> kMaxNoBufferedPathVec{};
inline constexpr Field<double, 232> kCanMsgMaxWaitTime{};  // microseconds
inline constexpr Field<double, 240> kResetNodeDelayTime{};
inline constexpr Field<std::int32_t, 248> kSynNodeNo{};
// Request templates of the global slot and of every node; the library
// writes fixed values, the kernel copies them.
inline constexpr Field<std::uint16_t, 252> kGlobalRequestTemplateWord{};
inline constexpr Field<std::uint8_t, 254> kGlobalRequestTemplateByte{};
inline constexpr Field<std::uint16_t, 256> kNodeRequestTemplateWord0{};
inline constexpr Field<std::uint16_t, 258> kNodeRequestTemplateWord1{};
inline constexpr Field<std::uint16_t, 260> kNodeRequestTemplateWord2{};
inline constexpr BytesField<262, 4> kNodeRequestTemplateBytes{};
inline constexpr Field<std::uint32_t, 268> kHandwheelActive{};
// Written as a 32-bit value; only node ids 1..127 are meaningful.
inline constexpr Field<std::int32_t, 272> kHandwheelCanNodeNo{};
inline constexpr Field<std::int32_t, 276> kHandwheelInhibitTime{};
inline constexpr Field<std::int32_t, 280> kHandwheelGuardTime{};
inline constexpr TextField<284, 52> kHandwheelModell{};
inline constexpr Field<std::int32_t, 336> kCartesianCoor{};
inline constexpr Field<std::uint32_t, 340> kAxisCorrectionEnable{};
inline constexpr TextField<344, 260> kCanMCDLL{};
inline constexpr TextField<604, 260> kAxisCorrectionFile{};
// Where the library's own record keeps its list pointers; on the wire these
// bytes carry nothing (the lists follow the fixed part).
inline constexpr BytesField<864, 16> kListPointerSlots{};
static_assert(kListPointerSlots.kEnd == kCncInitRecordSize);
static_assert(kHandwheelModell.kEnd == kCartesianCoor.kOffset);
static_assert(kCanMCDLL.kEnd == kAxisCorrectionFile.kOffset);
static_assert(kAxisCorrectionFile.kEnd == kListPointerSlots.kOffset);

// Fixed values the library writes into the request templates.
inline constexpr std::uint16_t kGlobalRequestTemplateWordValue = 8275;
inline constexpr std::uint8_t kGlobalRequestTemplateByteValue = 0;
inline constexpr std::uint16_t kNodeRequestTemplateWord0Value = 2431;
inline constexpr std::uint16_t kNodeRequestTemplateWord1Value = 39;
inline constexpr std::uint16_t kNodeRequestTemplateWord2Value = 0x4000;
inline constexpr std::array<std::uint8_t, 4> kNodeRequestTemplateByteValues = {11, 8, 8, 8};

// Writes the fixed request templates into a record, or into a window onto
// one in the communication block.
template <typename Record>
void SetFixedRequestTemplates(Record& record) {
  record.Set(kGlobalRequestTemplateWord, kGlobalRequestTemplateWordValue);
  record.Set(kGlobalRequestTemplateByte, kGlobalRequestTemplateByteValue);
  record.Set(kNodeRequestTemplateWord0, kNodeRequestTemplateWord0Value);
  record.Set(kNodeRequestTemplateWord1, kNodeRequestTemplateWord1Value);
  record.Set(kNodeRequestTemplateWord2, kNodeRequestTemplateWord2Value);
  auto bytes = record.MutableBytes(kNodeRequestTemplateBytes);
  std::copy(kNodeRequestTemplateByteValues.begin(), kNodeRequestTemplateByteValues.end(),
            bytes.begin());
}

inline constexpr int kMaxCoordinates = 8;
inline constexpr int kMaxAxes = 8;
inline constexpr int kMaxInterpolatedAxes = 6;
inline constexpr int kMaxHandlingAxes = 6;
}  // namespace cnc_init_record

// ---- Packed list entries -------------------------------------------------------
inline constexpr std::size_t kCoordinateEntrySize = 32;
inline constexpr std::size_t kAxisEntrySize = 12;
inline constexpr std::size_t kHandlingAxisEntrySize = 8;

namespace coordinate_entry {
inline constexpr Field<std::int32_t, 0> kLinearCoor{};
inline constexpr Field<std::int32_t, 4> kPathCoor{};
inline constexpr Field<std::int32_t, 8> kSweEnable{};
inline constexpr Field<double, 16> kPosSwe{};
inline constexpr Field<double, 24> kNegSwe{};
static_assert(kNegSwe.kEnd == kCoordinateEntrySize);
}  // namespace coordinate_entry

namespace axis_entry {
inline constexpr Field<std::int32_t, 0> kCanNodeNo{};
inline constexpr Field<std::int32_t, 4> kGantry{};  // 1 with a gantry slave drive
inline constexpr Field<std::int32_t, 8> kSlaveCanNodeNo{};
static_assert(kSlaveCanNodeNo.kEnd == kAxisEntrySize);
}  // namespace axis_entry

namespace handling_axis_entry {
inline constexpr Field<std::int32_t, 0> kCanNodeNo{};
inline constexpr Field<std::int32_t, 4> kDeviceTypeFlag{};  // 1 when DeviceType is 1
static_assert(kDeviceTypeFlag.kEnd == kHandlingAxisEntrySize);
}  // namespace handling_axis_entry

// Where the three lists lie behind the fixed part, counted from the record's
// start, for the counts that the fixed part declares.
struct CncInitListLayout {
  std::size_t coordinatesOffset = 0;
  std::size_t axesOffset = 0;
  std::size_t handlingAxesOffset = 0;
  std::size_t totalSize = 0;  // fixed part and all three lists

  constexpr std::size_t CoordinateOffset(int index) const noexcept {
    return EntryOffset(coordinatesOffset, kCoordinateEntrySize, axesOffset, index);
  }
  constexpr std::size_t AxisOffset(int index) const noexcept {
    return EntryOffset(axesOffset, kAxisEntrySize, handlingAxesOffset, index);
  }
  constexpr std::size_t HandlingAxisOffset(int index) const noexcept {
    return EntryOffset(handlingAxesOffset, kHandlingAxisEntrySize, totalSize, index);
  }

 private:
  static constexpr std::size_t EntryOffset(std::size_t first, std::size_t size, std::size_t end,
                                           int index) noexcept {
    if (index < 0) return kNoOffset;
    const std::size_t offset = first + size * static_cast<std::size_t>(index);
    return offset + size <= end ? offset : kNoOffset;
  }
};

// The layout for the given counts, or nothing when a count is negative or
// above its maximum (8 coordinates, 8 axes, 6 handling axes).
constexpr std::optional<CncInitListLayout> LayoutCncInitLists(int coordinates, int axes,
                                                              int handlingAxes) noexcept {
  if (coordinates < 0 || coordinates > cnc_init_record::kMaxCoordinates) return std::nullopt;
  if (axes < 0 || axes > cnc_init_record::kMaxAxes) return std::nullopt;
  if (handlingAxes < 0 || handlingAxes > cnc_init_record::kMaxHandlingAxes) return std::nullopt;
  CncInitListLayout layout;
  layout.coordinatesOffset = kCncInitRecordSize;
  layout.axesOffset = layout.coordinatesOffset + kCoordinateEntrySize * coordinates;
  layout.handlingAxesOffset = layout.axesOffset + kAxisEntrySize * axes;
  layout.totalSize = layout.handlingAxesOffset + kHandlingAxisEntrySize * handlingAxes;
  return layout;
}

// The largest command-12 payload still fits the block.
inline constexpr std::size_t kMaxCncInitPayloadSize =
    kCncInitRecordSize + kCoordinateEntrySize * cnc_init_record::kMaxCoordinates +
    kAxisEntrySize * cnc_init_record::kMaxAxes +
    kHandlingAxisEntrySize * cnc_init_record::kMaxHandlingAxes;
static_assert(kMaxCncInitPayloadSize <= communication_block::kPayloadCapacity);
// The coordinate list starts at block offset 0x3B4.
static_assert(communication_block::PayloadAt(kCncInitRecordSize) == 0x3B4);

}  // namespace vantor::common
