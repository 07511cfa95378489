#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "kernel/core/motion/segment_preparation.h"
#include "kernel/core/motion/tests/machine_fixture.h"

namespace vantor::motion {
namespace {

using testing::kU;
using testing::kX;
using testing::kY;
using testing::Machine;

constexpr std::size_t kPathBufferRecordSize = 272;

class RecordingEventFactory : public PathEventFactory {
 public:
  std::optional<PathEventHandle> CreatePathEvent(std::string_view name) override {
    names.emplace_back(name);
    if (fail) return std::nullopt;
    return PathEventHandle{0x1234};
  }
  std::vector<std::string> names;
  bool fail = false;
};

struct Record {
  std::array<std::uint8_t, kPathBufferRecordSize> bytes{};

  explicit Record(std::uint32_t code) { common::StoreLittleEndian<std::uint32_t>(bytes.data(), code); }
  void Flag(std::uint32_t value) { common::StoreLittleEndian<std::uint32_t>(bytes.data() + 8, value); }
  void Value64(std::size_t index, std::uint64_t raw) {
    common::StoreLittleEndian<std::uint64_t>(bytes.data() + 16 + 8 * index, raw);
  }
  void Value32(std::size_t index, std::int32_t value) {
    common::StoreLittleEndian<std::int32_t>(bytes.data() + 16 + 4 * index, value);
  }
  std::span<const std::uint8_t> All() const { return bytes; }
};

constexpr std::uint64_t kMarkerOnes = 0x3FFFFFFFFFFFFFFFu;
constexpr std::uint64_t kMarkerPower = 0x4000000000000000u;

TEST(SegmentRecord, NoMoveMarkerIsRecognisedInBothForms) {
  for (const std::uint64_t marker : {kMarkerOnes, kMarkerPower}) {
    Machine machine;
    Record record(kMoveRecordCode);
    record.Flag(0);
    record.Value64(kX, marker);
    record.Value64(kY, 7);
    for (std::size_t i = 2; i < 5; ++i) record.Value64(i, marker);
    RecordingEventFactory events;
    PathSegment segment;
    ASSERT_TRUE(PrepareSegment(record.All(), nullptr, segment, machine.Context(), events)) << std::hex << marker;
    EXPECT_EQ(segment.axes[kX].factor, 0.0);
    EXPECT_EQ(segment.axes[kY].factor, 1.0);
    EXPECT_EQ(segment.length, 7.0);
  }
}

TEST(SegmentRecord, ThirtyTwoBitValuesUseTheirOwnMarker) {
  Machine machine;
  machine.parameters.int32Values = true;
  Record record(kMoveRecordCode);
  record.Value32(kX, 0x3FFFFFFF);
  record.Value32(kY, -3);
  for (std::size_t i = 2; i < 5; ++i) record.Value32(i, 0x3FFFFFFF);
  RecordingEventFactory events;
  PathSegment segment;
  ASSERT_TRUE(PrepareSegment(record.All(), nullptr, segment, machine.Context(), events));
  EXPECT_EQ(segment.axes[kX].factor, 0.0);
  EXPECT_EQ(segment.axes[kY].factor, -1.0);
}

TEST(SegmentRecord, AbsoluteFlagComesFromTheRecord) {
  Machine machine;
  machine.coordinates[kU].position = 2.0;
  Record record(kMoveRecordCode);
  record.Flag(1);
  for (std::size_t i = 0; i < 5; ++i) record.Value64(i, kMarkerPower);
  record.Value64(kU, 10);
  RecordingEventFactory events;
  PathSegment segment;
  ASSERT_TRUE(PrepareSegment(record.All(), nullptr, segment, machine.Context(), events));
  EXPECT_EQ(segment.length, 8.0);
  EXPECT_FALSE(segment.isPath);
}

TEST(SegmentRecord, UnknownOrShortRecordsAreRefused) {
  Machine machine;
  RecordingEventFactory events;
  for (const std::uint32_t code : {0u, 35u, 40u, 56u, 58u, 0xFFFFFFFFu}) {
    Record record(code);
    PathSegment segment;
    EXPECT_FALSE(PrepareSegment(record.All(), nullptr, segment, machine.Context(), events)) << code;
    EXPECT_EQ(segment.error, SegmentError::kGeometryOrRange) << code;
    EXPECT_FALSE(segment.isMotion);
  }
  // A line record cut off before its last coordinate.
  Record line(kMoveRecordCode);
  PathSegment segment;
  EXPECT_FALSE(PrepareSegment(std::span<const std::uint8_t>(line.bytes).first(16 + 8 * 4), nullptr,
                              segment, machine.Context(), events));
  EXPECT_EQ(segment.error, SegmentError::kGeometryOrRange);
  EXPECT_FALSE(PrepareSegment(std::span<const std::uint8_t>(line.bytes).first(4), nullptr, segment,
                              machine.Context(), events));
}

TEST(SegmentRecord, ArcRecordsReadTheirValues) {
  Machine machine;
  machine.coordinates[kX].position = 10.0;
  RecordingEventFactory events;
  Record byEnd(kArcByEndPointRecordCode);
  const std::int64_t endValues[] = {0, 1, 1, -10, 0, -10, 10};
  for (std::size_t i = 0; i < 7; ++i) byEnd.Value64(i, static_cast<std::uint64_t>(endValues[i]));
  for (std::size_t i = 7; i < 10; ++i) byEnd.Value64(i, kMarkerPower);
  PathSegment arc;
  ASSERT_TRUE(PrepareSegment(byEnd.All(), nullptr, arc, machine.Context(), events));
  EXPECT_NEAR(arc.length, 5.0 * std::acos(-1.0), 1e-12);

  Record bySweep(kArcBySweepRecordCode);
  const std::int64_t sweepValues[] = {0, 1, 1, 180, -10, 0};
  for (std::size_t i = 0; i < 6; ++i) bySweep.Value64(i, static_cast<std::uint64_t>(sweepValues[i]));
  for (std::size_t i = 6; i < 11; ++i) bySweep.Value64(i, kMarkerPower);
  PathSegment half;
  ASSERT_TRUE(PrepareSegment(bySweep.All(), nullptr, half, machine.Context(), events));
  EXPECT_NEAR(half.length, 10.0 * std::acos(-1.0), 1e-12);
  EXPECT_NEAR(half.axes[kX].end, -10.0, 1e-12);
}

struct VelocityCase {
  double a, b;
  bool accepted;
};

TEST(PathVelocitySegment, BothValuesMustBeAboveZero) {
  const VelocityCase cases[] = {{10, 20, true}, {0, 20, false}, {10, 0, false}, {-1, 5, false}, {NAN, 1, false}};
  for (const auto& c : cases) {
    PathSegment segment;
    EXPECT_EQ(PreparePathVelocitySegment(c.a, c.b, segment), c.accepted) << c.a << " " << c.b;
    if (c.accepted) {
      EXPECT_EQ(segment.velocityA, c.a);
      EXPECT_EQ(segment.velocityB, c.b);
      EXPECT_FALSE(segment.isMotion);
      EXPECT_TRUE(segment.passThroughA && segment.passThroughB);
      EXPECT_EQ(segment.segmentKind, SegmentKind::kMotionOrVelocity);
    } else {
      EXPECT_EQ(segment.error, SegmentError::kVelocityValue);
      EXPECT_EQ(ResultOfSegmentError(segment.error), 0xC9130028u);
    }
  }
}

TEST(PathVelocitySegment, RecordCarriesTwoInterfaceValues) {
  Machine machine;
  RecordingEventFactory events;
  Record record(kPathVelocityRecordCode);
  common::StoreLittleEndian<std::int64_t>(record.bytes.data() + 8, 250);
  common::StoreLittleEndian<std::int64_t>(record.bytes.data() + 16, 30);
  PathSegment segment;
  ASSERT_TRUE(PrepareSegment(record.All(), nullptr, segment, machine.Context(), events));
  EXPECT_EQ(segment.velocityA, 250.0);
  EXPECT_EQ(segment.velocityB, 30.0);
}

TEST(EventSegment, NameGoesToTheFactoryAndItsHandleIsKept) {
  Machine machine;
  RecordingEventFactory events;
  Record record(kEventRecordCode);
  const char name[] = "Drill point 7";
  std::memcpy(record.bytes.data() + 8, name, sizeof(name));
  PathSegment segment;
  ASSERT_TRUE(PrepareSegment(record.All(), nullptr, segment, machine.Context(), events));
  ASSERT_EQ(events.names.size(), 1u);
  EXPECT_EQ(events.names[0], "Drill point 7");
  EXPECT_EQ(segment.eventHandle, PathEventHandle{0x1234});
  EXPECT_EQ(segment.segmentKind, SegmentKind::kEvent);
  EXPECT_FALSE(segment.isMotion);
  EXPECT_TRUE(segment.passThroughA && segment.passThroughB);

  events.fail = true;
  PathSegment failed;
  EXPECT_FALSE(PrepareEventSegment("x", failed, events));
  EXPECT_EQ(failed.error, SegmentError::kGeometryOrRange);
}

TEST(EventSegment, NameWithoutTerminatorIsRefused) {
  Machine machine;
  RecordingEventFactory events;
  Record record(kEventRecordCode);
  std::memset(record.bytes.data() + 8, 'A', kPathBufferRecordSize - 8);
  PathSegment segment;
  EXPECT_FALSE(PrepareSegment(record.All(), nullptr, segment, machine.Context(), events));
  EXPECT_EQ(segment.error, SegmentError::kGeometryOrRange);
  EXPECT_TRUE(events.names.empty());
}

}  // namespace
}  // namespace vantor::motion
