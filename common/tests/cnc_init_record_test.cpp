#include "common/cnc_init_record.h"

#include <gtest/gtest.h>

#include "common/tests/golden_bytes.h"

namespace vantor::common {
namespace {

using testing::GoldenField;
using testing::RawLittleEndian;

TEST(CncInitRecordTest, FieldsTheKernelReadsSitAtTheirOffsets) {
  namespace f = cnc_init_record;
  CncInitRecord record;
  record.Set(f::kStartUpMode, 0x0C);
  record.Set(f::kMeasureCncCheckTime, 0x14);
  record.Set(f::kPathSmooth, 0x18);
  record.Set(f::kCoorNo, 3);
  record.Set(f::kInterAxisNo, 2);
  record.Set(f::kAxisNo, 4);
  record.Set(f::kHandlingAxisNo, 1);
  record.Set(f::kLinearTeachInVel, 1.0);
  record.Set(f::kMaxTimeForCalAverageVel, 2.0);
  record.Set(f::kFollowErrorSafetyFac, -2.0);
  record.Set(f::kTeachInLookAheadDesPosiMaxNo, 0x0D8);
  record.Set(f::kAmplifyMaxNoBufferedDesCoor, 0x0DA);
  record.Set(f::kTeachInAmplifyMaxNoBufferedDesCoor, 0x0DC);
  record.Set(f::kMaxNoBufferedPathVec, 0xE0);
  record.Set(f::kResetNodeDelayTime, 0.5);
  record.Set(f::kSynNodeNo, 0xF8);
  record.Set(f::kGlobalRequestTemplateWord, f::kGlobalRequestTemplateWordValue);
  record.Set(f::kNodeRequestTemplateWord2, f::kNodeRequestTemplateWord2Value);
  record.Set(f::kHandwheelActive, 1);
  record.Set(f::kHandwheelCanNodeNo, 0x7F);
  record.Set(f::kHandwheelGuardTime, 0x118);
  ASSERT_TRUE(record.SetText(f::kHandwheelModell, "HW"));
  record.Set(f::kCartesianCoor, 0x150);

  const GoldenField golden[] = {
      {"StartUpMode", 12, 4, 0x0C},
      {"MeasureCncCheckTime", 20, 4, 0x14},
      {"PathSmooth", 24, 4, 0x18},
      {"CoorNo", 28, 4, 3},
      {"InterAxisNo", 32, 4, 2},
      {"AxisNo", 36, 4, 4},
      {"handling axes", 40, 4, 1},
      {"LinearTeachInVel", 48, 8, 0x3FF0000000000000},
      {"MaxTimeForCalAverageVel", 184, 8, 0x4000000000000000},
      {"FollowErrorSafetyFac", 200, 8, 0xC000000000000000},
      {"TeachInLookAheadDesPosiMaxNo", 216, 2, 0x0D8},
      {"AmplifyMaxNoBufferedDesCoor", 218, 2, 0x0DA},
      {"TeachInAmplifyMaxNoBufferedDesCoor", 220, 2, 0x0DC},
      {"MaxNoBufferedPathVec", 224, 4, 0xE0},
      {"ResetNodeDelayTime", 240, 8, 0x3FE0000000000000},
      {"SynNodeNo", 248, 4, 0xF8},
      {"global template", 252, 2, 8275},
      {"node template word 2", 260, 2, 0x4000},
      {"HandwheelActive", 268, 4, 1},
      {"HandwheelCanNodeNo", 272, 4, 0x7F},
      {"HandwheelGuardTime", 280, 4, 0x118},
      {"HandwheelModell", 284, 3, 0x005748},
      {"CartesianCoor", 336, 4, 0x150},
  };
  for (const auto& field : golden) {
    EXPECT_EQ(RawLittleEndian(record.Bytes(), field.offset, field.width), field.raw) << field.name;
  }
}

TEST(CncInitRecordTest, ListsArePackedBehindTheFixedPart) {
  const auto layout = LayoutCncInitLists(3, 2, 1);
  ASSERT_TRUE(layout.has_value());
  EXPECT_EQ(layout->coordinatesOffset, 880u);
  EXPECT_EQ(layout->axesOffset, 880u + 3 * 32);
  EXPECT_EQ(layout->handlingAxesOffset, 880u + 3 * 32 + 2 * 12);
  EXPECT_EQ(layout->totalSize, 880u + 3 * 32 + 2 * 12 + 8);
  EXPECT_EQ(layout->CoordinateOffset(2), 880u + 64);
  EXPECT_EQ(layout->CoordinateOffset(3), kNoOffset);
  EXPECT_EQ(layout->AxisOffset(1), 880u + 96 + 12);
  EXPECT_EQ(layout->AxisOffset(2), kNoOffset);
  EXPECT_EQ(layout->HandlingAxisOffset(0), 880u + 96 + 24);
  EXPECT_EQ(layout->HandlingAxisOffset(-1), kNoOffset);
  // Block offset of the first coordinate entry.
  EXPECT_EQ(communication_block::PayloadAt(layout->coordinatesOffset), 0x3B4u);
}

TEST(CncInitRecordTest, CountsOutsideTheirLimitsHaveNoLayout) {
  struct Case {
    int coordinates, axes, handling;
    bool valid;
  };
  const Case cases[] = {
      {0, 0, 0, true},  {8, 8, 6, true},   {9, 0, 0, false},  {0, 9, 0, false},
      {0, 0, 7, false}, {-1, 0, 0, false}, {0, -1, 0, false}, {0, 0, -1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LayoutCncInitLists(c.coordinates, c.axes, c.handling).has_value(), c.valid)
        << c.coordinates << " " << c.axes << " " << c.handling;
  }
  EXPECT_EQ(LayoutCncInitLists(8, 8, 6)->totalSize, kMaxCncInitPayloadSize);
}

TEST(CncInitRecordTest, ListEntriesGoldenLayout) {
  ByteRecord<kCoordinateEntrySize> coordinate;
  coordinate.Set(coordinate_entry::kLinearCoor, 1);
  coordinate.Set(coordinate_entry::kPathCoor, 2);
  coordinate.Set(coordinate_entry::kSweEnable, 3);
  coordinate.Set(coordinate_entry::kPosSwe, 1.0);
  coordinate.Set(coordinate_entry::kNegSwe, -1.0);
  EXPECT_EQ(RawLittleEndian(coordinate.Bytes(), 8, 4), 3u);
  EXPECT_EQ(RawLittleEndian(coordinate.Bytes(), 12, 4), 0u);
  EXPECT_EQ(RawLittleEndian(coordinate.Bytes(), 16, 8), 0x3FF0000000000000u);
  EXPECT_EQ(RawLittleEndian(coordinate.Bytes(), 24, 8), 0xBFF0000000000000u);

  ByteRecord<kAxisEntrySize> axis;
  axis.Set(axis_entry::kCanNodeNo, 5);
  axis.Set(axis_entry::kGantry, 1);
  axis.Set(axis_entry::kSlaveCanNodeNo, 6);
  EXPECT_EQ(RawLittleEndian(axis.Bytes(), 0, 4), 5u);
  EXPECT_EQ(RawLittleEndian(axis.Bytes(), 4, 4), 1u);
  EXPECT_EQ(RawLittleEndian(axis.Bytes(), 8, 4), 6u);

  ByteRecord<kHandlingAxisEntrySize> handling;
  handling.Set(handling_axis_entry::kCanNodeNo, 9);
  handling.Set(handling_axis_entry::kDeviceTypeFlag, 1);
  EXPECT_EQ(RawLittleEndian(handling.Bytes(), 0, 8), 0x0000000100000009u);
}

}  // namespace
}  // namespace vantor::common
