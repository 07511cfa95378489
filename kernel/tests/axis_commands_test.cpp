// What commands 17 to 26 and 33 to 35 answer and change: the values in the
// payload, byte for byte, against the kernel's records.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "common/path_buffer.h"
#include "kernel/tests/axis_kernel_stand_in.h"

namespace vantor::kernel {
namespace {

using common::StatusCode;
using testing::AxisKernel;
namespace cb = common::communication_block;

constexpr std::int64_t kMarker = common::kNoMoveWireValue;
constexpr std::uint8_t kUntouched = 0x5A;

void FillPayload(AxisKernel& k) {
  ASSERT_TRUE(k.Block().Fill(cb::kPayloadOffset, 256, kUntouched));
}

bool Untouched(AxisKernel& k, std::size_t payloadOffset) {
  return *k.Block().Load<std::uint8_t>(cb::PayloadAt(payloadOffset)) == kUntouched;
}

TEST(VelocityCommands, SixVelocitiesGoInAndComeBackInTheirOrder) {
  AxisKernel k;
  for (std::size_t v = 0; v < 6; ++v) k.PutValue(8 * v, 1000 * (v + 1));
  ASSERT_EQ(k.Run(18), common::kKernelSuccess);
  const motion::PathMotion& path = k.data().motionRuntime.path;
  EXPECT_EQ(path.linearProcessVelocity, 1000.0);
  EXPECT_EQ(path.rotaryProcessVelocity, 2000.0);
  EXPECT_EQ(path.linearTeachInVelocity, 3000.0);
  EXPECT_EQ(path.rotaryTeachInVelocity, 4000.0);
  EXPECT_EQ(path.linearRapidVelocity, 5000.0);
  EXPECT_EQ(path.rotaryRapidVelocity, 6000.0);
  FillPayload(k);
  ASSERT_EQ(k.Run(19), common::kKernelSuccess);
  for (std::size_t v = 0; v < 6; ++v) EXPECT_EQ(k.Value(8 * v), 1000 * (v + 1)) << v;
  EXPECT_EQ(k.Value(0x74 - 0x44), 0) << "no motion: the current velocities are zeroed";
  EXPECT_EQ(k.Value(0x7C - 0x44), 0);
  EXPECT_TRUE(Untouched(k, 64));
}

TEST(VelocityCommands, AVelocityNotAboveZeroStoresNone) {
  for (const std::int64_t bad : {std::int64_t{0}, std::int64_t{-1}, INT64_MIN}) {
    for (std::size_t at = 0; at < 6; ++at) {
      AxisKernel k;
      for (std::size_t v = 0; v < 6; ++v) k.PutValue(8 * v, v == at ? bad : 500);
      EXPECT_EQ(k.Run(18), common::kKernelVelocityInvalid) << bad << " at " << at;
      EXPECT_EQ(k.data().motionRuntime.path.linearProcessVelocity, 0.0);
      EXPECT_EQ(k.data().motionRuntime.path.rotaryRapidVelocity, 0.0);
    }
  }
}

TEST(VelocityCommands, CurrentVelocityByMotion) {
  struct Case {
    const char* name;
    std::function<void(KernelData&, motion::PathSegment&)> setUp;
    std::int64_t linear;
    std::int64_t rotary;
  };
  const auto moving = [](KernelData& d, motion::PathSegment& head) {
    d.state.motionActive = 1;
    d.motionRuntime.path.queue.head = &head;
    head.isMotion = true;
    d.motionRuntime.pathMeasure.velocity = 25.0;
    d.motionRuntime.axes[2].measure.velocity = 7.0;
    d.motionRuntime.axes[0].measure.velocity = 9.0;
  };
  const Case cases[] = {
      {"standing", [](KernelData&, motion::PathSegment&) {}, 0, 0},
      {"path",
       [&](KernelData& d, motion::PathSegment& h) {
         moving(d, h);
         h.isPath = true;
       },
       25, 0},
      {"single move of the rotary coordinate",
       [&](KernelData& d, motion::PathSegment& h) {
         moving(d, h);
         h.singleAxis = 2;
       },
       0, 7},
      {"single move of a linear coordinate",
       [&](KernelData& d, motion::PathSegment& h) {
         moving(d, h);
         h.singleAxis = 0;
       },
       9, 0},
      {"stopped path",
       [&](KernelData& d, motion::PathSegment& h) {
         moving(d, h);
         h.isPath = true;
         d.state.motionStop = 1;
       },
       0, 0},
      {"handwheel: the drives' measured velocities",
       [](KernelData& d, motion::PathSegment&) {
         d.state.handwheelActive = 1;
         d.coordinates[0].settings.onPath = d.coordinates[1].settings.onPath = 1;
         d.motionRuntime.nodes[0] = {.answerValid = 1, .measure = {.velocity = 3.0}};
         d.motionRuntime.nodes[1] = {.answerValid = 1, .measure = {.velocity = 4.0}};
       },
       5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AxisKernel k;
    motion::PathSegment head;
    c.setUp(k.data(), head);
    ASSERT_EQ(k.Run(19), common::kKernelSuccess);
    EXPECT_EQ(k.Value(0x30), c.linear);
    EXPECT_EQ(k.Value(0x38), c.rotary);
    k.data().motionRuntime.path.queue.head = nullptr;
  }
}

TEST(VelocityCommands, OverrideIsLimitedAndReadBackInPercent) {
  struct Case {
    std::int32_t percent;
    double stored;
    std::int32_t answered;
  };
  // The maximum is 1.2.
  const Case cases[] = {{50, 0.5, 50},    {1, 0.01, 1},    {0, 0.0, 0},     {-20, 0.0, 0},
                        {119, 1.19, 119}, {120, 1.2, 120}, {150, 1.2, 120}, {INT32_MIN, 0.0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.percent);
    AxisKernel k;
    k.PutWord(0, static_cast<std::uint32_t>(c.percent));
    ASSERT_EQ(k.Run(25), common::kKernelSuccess);
    EXPECT_DOUBLE_EQ(k.data().motionRuntime.path.override, c.stored);
    EXPECT_TRUE(k.data().motionRuntime.path.newTarget) << "the cycle takes the new override";
    k.PutWord(0, 0xFFFFFFFF);
    ASSERT_EQ(k.Run(26), common::kKernelSuccess);
    EXPECT_EQ(static_cast<std::int32_t>(k.Word(0)), c.answered);
  }
}

// Coordinates stand at actual {10, 20, 30} and set {11, 21, 31} with zero
// points {1, 2, 3}; node 0 at 100 (zero point 10), node 1 at -200 (20).
void PlaceAxes(KernelData& d) {
  for (std::uint32_t i = 0; i < 3; ++i) {
    d.motionRuntime.axes[i].actual = 10.0 * (i + 1);
    d.motionRuntime.path.axes[i].setPosition = 10.0 * (i + 1) + 1;
    d.coordinates[i].zeroOffset = i + 1.0;
  }
  d.motionRuntime.nodes[0].actual = 100.0;
  d.motionRuntime.nodes[1].actual = -200.0;
  d.nodeConfiguration.records[0].zeroPoint = 10.0;
  d.nodeConfiguration.records[1].zeroPoint = 20.5;
}

TEST(PositionCommands, PositionsAreAnsweredRelativeToTheirZeroPoints) {
  struct Case {
    std::uint32_t code;
    std::vector<std::int64_t> values;
  };
  const Case cases[] = {
      {20, {9, 18, 27}},
      {22, {10, 19, 28}},
      {21, {10, 19, 28}},  // no motion: the set positions
      {23, {90, -220}},    // one value per node, truncated toward zero
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    AxisKernel k;
    PlaceAxes(k.data());
    FillPayload(k);
    ASSERT_EQ(k.Run(c.code), common::kKernelSuccess);
    for (std::size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(k.Value(8 * i), c.values[i]) << i;
    EXPECT_TRUE(Untouched(k, 8 * c.values.size()));
  }
}

TEST(PositionCommands, ListsFollowTheCountInTheBlockBoundedByTheConfiguration) {
  for (const std::uint32_t count : {2u, 9u, 0xFFFFFFFFu}) {
    AxisKernel k;
    PlaceAxes(k.data());
    k.Block().Set(cb::kCurrentCoordinateCount, count);
    FillPayload(k);
    ASSERT_EQ(k.Run(20), common::kKernelSuccess);
    const std::size_t written = std::min(count, AxisKernel::kCoordinates);
    EXPECT_EQ(k.Value(8 * (written - 1)), 9 * static_cast<std::int64_t>(written)) << count;
    EXPECT_TRUE(Untouched(k, 8 * written)) << count;
  }
}

TEST(PositionCommands, LastResultsOneWordPerNode) {
  AxisKernel k;
  k.Node(0).request.lastResult = common::kKernelNodeInErrorState;
  k.Node(1).request.lastResult = common::kKernelSuccess;
  FillPayload(k);
  ASSERT_EQ(k.Run(17), common::kKernelSuccess);
  EXPECT_EQ(k.Word(0), common::kKernelNodeInErrorState);
  EXPECT_EQ(k.Word(4), common::kKernelSuccess);
  EXPECT_TRUE(Untouched(k, 8));
}

// A path buffer of one page: its header and up to 15 records.
struct BufferedMove {
  std::uint32_t code;
  std::uint32_t absolute;
  std::vector<std::int64_t> coordinates;
};

void PutPathBuffer(Kernel& kernel, std::uint32_t enabled, std::uint32_t count,
                   const std::vector<BufferedMove>& moves) {
  namespace pb = common::path_buffer;
  namespace pbr = common::path_buffer_record;
  kernel.link.pathBufferMapping = os::Mapping::CreateUnnamed(4096).take();
  auto* base = reinterpret_cast<std::uint8_t*>(kernel.link.pathBufferMapping.data());
  common::PathBufferHeaderView header(base);
  header.Set(pb::kEnabled, enabled);
  header.Set(pb::kCount, count);
  for (std::size_t r = 0; r < moves.size(); ++r) {
    common::PathBufferRecordView record(base + pb::RecordOffset(r));
    record.Set(pbr::kCommandCode, moves[r].code);
    record.Set(pbr::kAbsoluteFlag, moves[r].absolute);
    const std::size_t at = moves[r].code == 36   ? pbr::kLineCoordinatesOffset
                           : moves[r].code == 37 ? pbr::kArcByEndPointCoordinatesOffset
                                                 : pbr::kArcBySweepAngleCoordinatesOffset;
    for (std::size_t i = 0; i < moves[r].coordinates.size(); ++i) {
      static_cast<void>(record.Store<std::int64_t>(at + 8 * i, moves[r].coordinates[i]));
    }
  }
}

TEST(PositionCommands, DestinationByPathState) {
  struct Case {
    const char* name;
    std::function<void(AxisKernel&)> setUp;
    std::vector<std::int64_t> answer;
  };
  // Set positions {11, 21, 31}, zero points {1, 2, 3}; the head line ends
  // at {50, 60, 70}, the newest line at {80, 90, 100}, followed by a
  // velocity change.
  const Case cases[] = {
      {"single move: where the head ends",
       [](AxisKernel& k) { k.data().state.motionActive = 1; },
       {49, 58, 67}},
      {"single move ended", [](AxisKernel&) {}, {10, 19, 28}},
      {"path not started: the set positions",
       [](AxisKernel& k) { k.data().state.pathMode = 1; },
       {10, 19, 28}},
      {"path started: where the newest line ends",
       [](AxisKernel& k) { k.data().state.pathMode = k.data().state.pathStarted = 1; },
       {79, 88, 97}},
      {"path started, then the library's buffer in order",
       [](AxisKernel& k) {
         k.data().state.pathMode = k.data().state.pathStarted = 1;
         PutPathBuffer(k.kernel(), 1, 4,
                       {{36, 1, {5, kMarker, -5}},
                        {39, 0, {1000, 1000, 1000}},
                        {37, 0, {1, 2, kMarker}},
                        {38, 0, {10, 10, 10}}});
       },
       {16, 100, 5}},
      {"path started, buffer off",
       [](AxisKernel& k) {
         k.data().state.pathMode = k.data().state.pathStarted = 1;
         PutPathBuffer(k.kernel(), 0, 1, {{36, 1, {5, 5, 5}}});
       },
       {79, 88, 97}},
      {"a record count beyond the mapping reads what the mapping holds",
       [](AxisKernel& k) {
         k.data().state.pathMode = k.data().state.pathStarted = 1;
         PutPathBuffer(k.kernel(), 1, 0xFFFFFFFF, {{36, 0, {1, 1, 1}}});
       },
       {80, 89, 98}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AxisKernel k;
    PlaceAxes(k.data());
    motion::PathSegment head, newest, velocity;
    head.isMotion = newest.isMotion = true;
    for (std::uint32_t i = 0; i < 3; ++i) {
      head.axes[i].end = 50.0 + 10 * i;
      newest.axes[i].end = 80.0 + 10 * i;
    }
    head.next = &newest;
    newest.previous = &head;
    newest.next = &velocity;
    velocity.previous = &newest;
    motion::SegmentQueue& queue = k.data().motionRuntime.path.queue;
    queue.head = &head;
    queue.tail = &velocity;
    queue.count = 3;
    c.setUp(k);
    ASSERT_EQ(k.Run(21), common::kKernelSuccess);
    for (std::size_t i = 0; i < c.answer.size(); ++i) EXPECT_EQ(k.Value(8 * i), c.answer[i]) << i;
    queue = {};
  }
}

TEST(ZeroPointCommands, SetAbsoluteOrShiftedWithMarkers) {
  struct Case {
    const char* name;
    std::uint32_t absolute;
    std::vector<std::int64_t> values;
    std::vector<double> zeroPoints;
    bool int32Values = false;
  };
  // The zero points stand at {1, 2, 3}.
  const Case cases[] = {
      {"absolute", 1, {5, kMarker, -7}, {5, 2, -7}},
      {"absolute zeros clear the zero point", 1, {0, 0, 0}, {0, 0, 0}},
      {"relative", 0, {1, kMarker, 2}, {2, 2, 5}},
      {"relative, every coordinate at the marker", 0, {kMarker, kMarker, kMarker}, {1, 2, 3}},
      {"absolute, 32-bit marker", 1, {common::kNoMoveValue32, 4, 4}, {1, 4, 4}, true},
      {"the 64-bit marker is a value with 32-bit values",
       0,
       {kMarker, 0, 0},
       {1 + 4611686018427387904.0, 2, 3},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AxisKernel k;
    PlaceAxes(k.data());
    k.data().motion.path.int32Values = c.int32Values;
    k.PutWord(0, c.absolute);
    for (std::size_t i = 0; i < c.values.size(); ++i) k.PutValue(8 + 8 * i, c.values[i]);
    ASSERT_EQ(k.Run(34), common::kKernelSuccess);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_DOUBLE_EQ(k.data().coordinates[i].zeroOffset, c.zeroPoints[i]) << i;
    }
    EXPECT_DOUBLE_EQ(k.data().nodeConfiguration.records[0].zeroPoint, c.zeroPoints[0]);
    EXPECT_DOUBLE_EQ(k.data().nodeConfiguration.records[1].zeroPoint, c.zeroPoints[1]);
    FillPayload(k);
    ASSERT_EQ(k.Run(35), common::kKernelSuccess);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(k.Value(8 * i), static_cast<std::int64_t>(c.zeroPoints[i])) << i;
    }
    EXPECT_TRUE(Untouched(k, 24));
  }
}

TEST(ZeroPointCommands, ARelativeShiftTurnsWithTheRotatedPlane) {
  struct Case {
    const char* name;
    std::vector<std::int64_t> values;
    std::vector<double> zeroPoints;
  };
  // Plane of coordinates 0 and 1 turned by a quarter: (x, y) -> (-y, x).
  const Case cases[] = {
      {"both plane values", {1, 2, 5}, {1 - 2, 2 + 1, 8}},
      {"a marker in the plane counts as 0", {1, kMarker, 5}, {1, 3, 8}},
      {"every value at the marker", {kMarker, kMarker, kMarker}, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AxisKernel k;
    PlaceAxes(k.data());
    k.data().planeRotation = {.plane = 1, .axisA = 0, .axisB = 1, .angle = std::numbers::pi / 2};
    k.PutWord(0, 0);
    for (std::size_t i = 0; i < c.values.size(); ++i) k.PutValue(8 + 8 * i, c.values[i]);
    ASSERT_EQ(k.Run(34), common::kKernelSuccess);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_NEAR(k.data().coordinates[i].zeroOffset, c.zeroPoints[i], 1e-12) << i;
    }
  }
}

TEST(ZeroPointCommands, ActualPositionBecomesTheZeroPoint) {
  for (const bool powerOff : {false, true}) {
    SCOPED_TRACE(powerOff ? "power off: where the drives stand" : "the set positions");
    AxisKernel k;
    PlaceAxes(k.data());
    k.Node(0).position = 101.0;
    k.Node(1).position = -201.0;
    k.data().state.powerOff = powerOff ? 1 : 0;
    // With the power off the drives are expected switch-on-disabled.
    if (powerOff) {
      for (std::uint32_t n = 0; n < 2; ++n) {
        k.Node(n).latched.Set(StatusFlag::H, false);
        k.Node(n).current.Set(StatusFlag::H, false);
      }
    }
    ASSERT_EQ(k.Run(33), common::kKernelSuccess);
    for (std::uint32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(k.data().coordinates[i].zeroOffset, 10.0 * (i + 1) + (powerOff ? 0 : 1)) << i;
    }
    EXPECT_EQ(k.data().nodeConfiguration.records[0].zeroPoint, powerOff ? 100.0 : 101.0);
    EXPECT_EQ(k.data().nodeConfiguration.records[1].zeroPoint, powerOff ? -200.0 : -201.0);
    ASSERT_EQ(k.Run(20), common::kKernelSuccess);
    EXPECT_EQ(k.Value(0), powerOff ? 0 : -1);
  }
}

}  // namespace
}  // namespace vantor::kernel
