// The controller's and an axis's status against hand-built complete status
// images. The images are written at the record's literal offsets, so that
// the evaluation's own offset helpers are checked too.
#include "interface/status_evaluation.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace vantor::interface {
namespace {

class Image {
 public:
  // Every condition absent: all OK words 1, ordinary axes in position mode
  // that have reached their targets.
  static Image Healthy() {
    Image image;
    for (std::size_t offset : {0u, 20u, 128u}) image.Put(offset, 1);  // interface, PDOs, handwheel
    for (std::size_t offset = 148; offset < 172; offset += 4) image.Put(offset, 1);
    for (std::size_t offset = 232; offset < 360; offset += 4) image.Put(offset, 1);
    for (std::size_t axis = 0; axis < 8; ++axis) {
      image.Put(360 + 16 * axis + 4, 1);  // target reached
      image.Put(488 + 8 * axis + 4, 1);   // position mode
      for (std::size_t word = 0; word < 14; ++word) {
        image.Put(552 + 64 * axis + 4 * word, 1);
        image.Put(1064 + 64 * axis + 4 * word, 1);
      }
      for (std::size_t word = 0; word < 2; ++word) {
        image.Put(1672 + 12 * axis + 4 * word, 1);
        image.Put(1768 + 12 * axis + 4 * word, 1);
      }
    }
    return image;
  }

  void Put(std::size_t offset, std::uint32_t value) {
    std::memcpy(bytes_.data() + offset, &value, sizeof value);
  }
  void PutShort(std::size_t offset, std::int16_t value) {
    std::memcpy(bytes_.data() + offset, &value, sizeof value);
  }
  CompleteStatusView View() const { return CompleteStatusView(bytes_.data()); }

 private:
  std::array<std::uint8_t, 2484> bytes_{};
};

// Literal offsets of the record.
constexpr std::size_t kProcessVec = 28, kProcessPath = 32, kPathStart = 36, kMoveActive = 40,
                      kStopFlag = 48, kBreakFlag = 56, kTeachIn = 88, kHandModus = 92,
                      kTestModus = 96, kSoiInit = 108, kSoiActive = 112, kSoiInput = 116,
                      kHwInit = 120, kHwActive = 124, kHwOk = 128, kHwLatched = 132, kHwF1 = 136,
                      kHwF2 = 140, kVpo = 144;
constexpr std::size_t Latched(std::size_t axis, std::size_t word) {
  return 552 + 64 * axis + 4 * word;
}
constexpr std::size_t Current(std::size_t axis, std::size_t word) {
  return 1064 + 64 * axis + 4 * word;
}
constexpr std::size_t kNmt = 0, kTransmit = 1, kReceive = 2, kFault = 3, kNoOperation = 4,
                      kSwitchOnDisabled = 5, kNoAmplify = 6, kCurrentLimit = 7, kMainVoltage = 8,
                      kPosHwe = 9, kNegHwe = 10, kHoming = 11, kFollow = 12, kParInvalid = 13;
constexpr std::size_t SlaveCount(std::size_t axis) { return 1576 + 12 * axis + 4; }
constexpr std::size_t CurrentSlave(std::size_t axis) { return 1672 + 12 * axis; }
constexpr std::size_t LatchedSlave(std::size_t axis) { return 1768 + 12 * axis; }
constexpr std::size_t CurrentNegSwe(std::size_t c) { return 296 + 8 * c; }
constexpr std::size_t CurrentPosSwe(std::size_t c) { return 300 + 8 * c; }
constexpr std::size_t LatchedNegSwe(std::size_t c) { return 232 + 8 * c; }

using Mutation = std::function<void(Image&)>;
Mutation Clear(std::size_t offset) {
  return [=](Image& image) { image.Put(offset, 0); };
}
Mutation Set(std::size_t offset) {
  return [=](Image& image) { image.Put(offset, 1); };
}
Mutation Both(Mutation a, Mutation b) {
  return [=](Image& image) {
    a(image);
    b(image);
  };
}

// A record's 32-bit words, for comparing whole records.
template <typename Record>
std::vector<std::uint32_t> Words(const Record& record) {
  std::vector<std::uint32_t> words(sizeof record / 4);
  std::memcpy(words.data(), &record, sizeof record);
  return words;
}

struct Change {
  std::size_t word;  // word index in the application's record
  std::uint32_t value;
};

struct Case {
  const char* name;
  Mutation mutate;
  std::vector<Change> fields;  // besides the flag words
  std::uint32_t flagBits;      // toggled in flag word 1
  std::uint32_t flag2Bits;     // toggled in flag word 2
};

constexpr std::uint32_t Bit(int n) { return std::uint32_t{1} << n; }

// Expects `actual` to differ from `baseline` exactly by the case's changes.
void ExpectChanges(const Case& c, std::vector<std::uint32_t> expected,
                   const std::vector<std::uint32_t>& actual, std::size_t flags2Word) {
  for (const auto& change : c.fields) expected[change.word] = change.value;
  expected[0] ^= c.flagBits;
  expected[flags2Word] ^= c.flag2Bits;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actual[i], expected[i]) << c.name << ": word " << i << " (byte " << 4 * i << ")";
  }
}

// Controller record word indices.
// clang-format off
enum : std::size_t {
  kNegHwMask = 1, kPosHwMask = 2, kNegSwMask = 3, kPosSwMask = 4, kFlags2 = 5, kInMotion = 6,
  kInStop = 7, kInTeach = 8, kInTest = 9, kCurrentOff = 10, kInPath = 11, kIsMoving = 12,
  kNeedRef = 13, kBreakError = 14, kHwls = 15, kSwls = 16, kHwlsDuring = 17, kAfterRun = 18,
  kPowerFail = 19, kHardwareFail = 24, kCommFail = 25, kCtrlSpec = 27, kPathStartField = 28
};
// clang-format on

LinkoraMotionControlStatus Controller(const Image& image, StatusCounts counts) {
  LinkoraMotionControlStatus status{};
  BuildControllerStatus(image.View(), counts, status);
  return status;
}

TEST(StatusEvaluationTest, HealthyControllerShowsOnlyItsInitialisation) {
  const auto status = Controller(Image::Healthy(), {2, 1});
  auto expected = Words(LinkoraMotionControlStatus{});
  expected[kFlags2] = Bit(2);
  expected[22] = 1;  // IsInitialized
  EXPECT_EQ(Words(status), expected);
}

// Two axes and one coordinate: axis 2 and coordinate 1 lie past the counts.
TEST(StatusEvaluationTest, EachSourceSetsItsControllerFieldAndBit) {
  // clang-format off
  const Case cases[] = {
      {"ProcessVec", Set(kProcessVec), {{kInMotion, 1}}, Bit(0), 0},
      {"StopFlag", Set(kStopFlag), {{kInStop, 1}}, Bit(1), 0},
      {"TeachInModus", Set(kTeachIn), {{kInTeach, 1}}, Bit(2), 0},
      {"TestModus", Set(kTestModus), {{kInTest, 1}}, Bit(3), 0},
      {"ProcessPath", Set(kProcessPath), {{kInPath, 1}}, Bit(5), 0},
      {"MoveActive", Set(kMoveActive), {{kIsMoving, 1}}, Bit(6), 0},
      {"PathStart", Set(kPathStart), {{kPathStartField, 1}}, Bit(7), 0},
      {"SoiInit", Set(kSoiInit), {}, Bit(8), 0},
      {"SoiActive", Set(kSoiActive), {}, Bit(9), 0},
      {"SoiInputActive", Set(kSoiInput), {}, Bit(10), 0},
      {"handwheel Init", Set(kHwInit), {}, Bit(11), 0},
      {"handwheel Active", Set(kHwActive), {}, Bit(12), 0},
      {"handwheel not OK", Clear(kHwOk), {}, Bit(13), 0},
      {"handwheel Latched", Set(kHwLatched), {}, Bit(14), 0},
      {"VpoActive", Set(kVpo), {}, Bit(15), 0},
      {"handwheel F1", Set(kHwF1), {}, Bit(29), 0},
      {"handwheel F2", Set(kHwF2), {}, Bit(31), 0},
      {"BreakFlag", Set(kBreakFlag), {{kBreakError, 1}}, Bit(17), 0},
      {"latched homing of axis 1", Clear(Latched(1, kHoming)), {{kNeedRef, 1}}, Bit(16), 0},
      {"current homing of axis 0", Clear(Current(0, kHoming)), {{kNeedRef, 1}}, Bit(16), 0},
      {"homing of axis 2 past the count", Clear(Current(2, kHoming)), {}, 0, 0},
      {"negative switch of axis 1", Clear(Current(1, kNegHwe)),
       {{kNegHwMask, Bit(1)}, {kHwls, 1}}, Bit(18), 0},
      {"positive switch of axis 0", Clear(Current(0, kPosHwe)),
       {{kPosHwMask, Bit(0)}, {kHwls, 1}}, Bit(18), 0},
      {"latched switch of axis 1", Clear(Latched(1, kNegHwe)), {{kHwlsDuring, 1}}, Bit(20), 0},
      {"switch of a slave axis",
       Both(Set(SlaveCount(1)), Clear(CurrentSlave(1) + 4)),
       {{kNegHwMask, Bit(1)}, {kPosHwMask, Bit(1)}, {kHwls, 1}}, Bit(18), 0},
      {"latched switch of a slave axis", Both(Set(SlaveCount(0)), Clear(LatchedSlave(0))),
       {{kHwlsDuring, 1}}, Bit(20), 0},
      {"switch of a slave slot without a slave", Clear(CurrentSlave(1)), {}, 0, 0},
      {"slave count far past the slots",
       [](Image& image) { image.Put(SlaveCount(1), 0xFFFFFFFFu); }, {}, 0, 0},
      {"negative software limit", Clear(CurrentNegSwe(0)), {{kNegSwMask, Bit(0)}, {kSwls, 1}},
       Bit(19), 0},
      {"positive software limit", Clear(CurrentPosSwe(0)), {{kPosSwMask, Bit(0)}, {kSwls, 1}},
       Bit(19), 0},
      {"software limit of coordinate 1 past the count", Clear(CurrentNegSwe(1)), {}, 0, 0},
      {"latched software limit", Clear(LatchedNegSwe(0)), {}, 0, 0},
      {"latched following error", Clear(Latched(0, kFollow)), {{kAfterRun, 1}}, Bit(21), 0},
      {"current main voltage", Clear(Current(1, kMainVoltage)), {{kPowerFail, 1}}, Bit(25),
       Bit(6)},
      {"latched main voltage", Clear(Latched(1, kMainVoltage)), {{kPowerFail, 1}}, Bit(25), 0},
      {"CAN interface", Clear(0), {{kHardwareFail, 1}}, Bit(27), 0},
      {"latched NMT", Clear(Latched(0, kNmt)), {{kCommFail, 1}}, Bit(28), 0},
      {"current transmit", Clear(Current(1, kTransmit)), {{kCommFail, 1}}, Bit(28), 0},
      {"latched receive", Clear(Latched(1, kReceive)), {{kCommFail, 1}}, Bit(28), 0},
      {"latched SYNC", Clear(148), {{kCommFail, 1}}, Bit(28), 0},
      {"latched time stamp", Clear(152), {{kCommFail, 1}}, Bit(28), 0},
      {"current SYNC", Clear(156), {{kCommFail, 1}}, Bit(28), 0},
      {"current time stamp", Clear(160), {{kCommFail, 1}}, Bit(28), 0},
      {"latched CAN objects", Clear(164), {}, 0, 0},
      {"current CAN objects", Clear(168), {}, 0, 0},
      {"slave error latched", [](Image& image) { image.PutShort(Latched(1, 14), 28); }, {},
       Bit(30), 0},
      {"slave error current", [](Image& image) { image.PutShort(Current(0, 14), 28); }, {},
       Bit(30), 0},
      {"other drive error", [](Image& image) { image.PutShort(Current(0, 14), 27); }, {}, 0, 0},
      {"fault", Clear(Current(0, kFault)), {{kCtrlSpec, 1}}, 0, Bit(5)},
      {"no operation enable", Clear(Latched(1, kNoOperation)), {{kCtrlSpec, 1}}, 0, Bit(5)},
      {"switch-on disabled", Clear(Current(1, kSwitchOnDisabled)), {{kCtrlSpec, 1}}, 0, Bit(5)},
      {"no operation enable in hand operation",
       Both(Set(kHandModus), Clear(Latched(1, kNoOperation))), {{kCurrentOff, 1}}, Bit(4), 0},
      {"switch-on disabled in hand operation",
       Both(Set(kHandModus), Clear(Current(0, kSwitchOnDisabled))), {{kCurrentOff, 1}}, Bit(4),
       0},
      {"no amplifier enable", Clear(Latched(0, kNoAmplify)), {{kCtrlSpec, 1}}, 0, Bit(5)},
      {"current limit", Clear(Current(1, kCurrentLimit)), {{kCtrlSpec, 1}}, 0, Bit(5)},
      {"parameters invalid", Clear(Latched(1, kParInvalid)), {{kCtrlSpec, 1}}, 0, Bit(5)},
      {"periphery PDOs", Clear(20), {{kCtrlSpec, 1}}, 0, Bit(5)},
      {"drive fault past the count", Clear(Current(2, kFault)), {}, 0, 0},
  };
  // clang-format on
  const auto baseline = Words(Controller(Image::Healthy(), {2, 1}));
  for (const auto& c : cases) {
    Image image = Image::Healthy();
    c.mutate(image);
    ExpectChanges(c, baseline, Words(Controller(image, {2, 1})), kFlags2);
  }
}

TEST(StatusEvaluationTest, RecordOfZerosShowsEveryAxisConditionOfTheConfiguredAxes) {
  const Image zeros;
  const auto two = Controller(zeros, {2, 0});
  EXPECT_EQ(two.NegHWLSMask, 3u);
  EXPECT_EQ(two.PosHWLSMask, 3u);
  for (const auto field : {two.NeedReferenceRun, two.HWLSActive, two.HWLSDuringMotion,
                           two.AfterRunError, two.PowerFail, two.CommunicationFail,
                           two.CtrlSpecError, two.HardwareFail, two.IsInitialized}) {
    EXPECT_EQ(field, 1u);
  }
  EXPECT_EQ(two.SCFail, 0u);
  EXPECT_EQ(two.SWLSActive, 0u);

  // Without axes the axis predicates find nothing; the controller's own
  // words still count.
  const auto none = Controller(zeros, {0, 0});
  EXPECT_EQ(none.NegHWLSMask | none.PosHWLSMask | none.NeedReferenceRun | none.HWLSActive |
                none.AfterRunError | none.PowerFail | none.SCFail,
            0u);
  EXPECT_EQ(none.CommunicationFail, 1u) << "the message words are 0";
  EXPECT_EQ(none.CtrlSpecError, 1u) << "PerPdoOK is 0";
  EXPECT_EQ(none.IsInitialized, 1u);

  // Counts past the record's room are cut to it.
  const auto many = Controller(zeros, {1000, 1000});
  EXPECT_EQ(many.NegHWLSMask, 0xFFu);
  EXPECT_EQ(many.NegSWLSMask, 0xFFu);
}

TEST(StatusEvaluationTest, BuildersLeaveWhatTheyDoNotDerive) {
  LinkoraMotionControlStatus status{};
  status.Flags = Bit(22) | Bit(23) | Bit(24) | Bit(26);
  status.Flags2 = Bit(0) | Bit(4) | Bit(7);
  status.IsBusy = 7;
  status.Disabled = 8;
  status.DrillCycleActive = 9;
  BuildControllerStatus(Image::Healthy().View(), {2, 1}, status);
  EXPECT_EQ(status.Flags, 0u) << "the unused bits are cleared";
  EXPECT_EQ(status.Flags2, Bit(0) | Bit(2) | Bit(4) | Bit(7));
  EXPECT_EQ(status.IsBusy, 7u);
  EXPECT_EQ(status.Disabled, 8u);
  EXPECT_EQ(status.DrillCycleActive, 9u);

  LinkoraAxisStatus axis{};
  axis.IsBusy = 5;
  axis.HardwareFail = 6;
  axis.Flags2 = Bit(0);
  BuildAxisStatus(Image::Healthy().View(), 1, axis);
  EXPECT_EQ(axis.IsBusy, 5u);
  EXPECT_EQ(axis.HardwareFail, 6u);
  EXPECT_EQ(axis.Flags2, Bit(0) | Bit(2) | Bit(3));
}

TEST(StatusEvaluationTest, DrillingCycleMakesTheControllerBusy) {
  const struct {
    std::uint32_t flags2Before;
    bool drilling;
    std::uint32_t flags2, busy, drillCycle;
  } cases[] = {
      {Bit(2), false, Bit(2), 0, 0},
      {Bit(2), true, Bit(0) | Bit(2) | Bit(4), 1, 1},
      {Bit(0) | Bit(4), false, 0, 1, 0},  // busy as the record came, no longer drilling
  };
  for (const auto& c : cases) {
    LinkoraMotionControlStatus status{};
    status.Flags2 = c.flags2Before;
    MarkDrillCycle(c.drilling, status);
    EXPECT_EQ(status.Flags2, c.flags2) << c.flags2Before << c.drilling;
    EXPECT_EQ(status.IsBusy, c.busy) << c.flags2Before << c.drilling;
    EXPECT_EQ(status.DrillCycleActive, c.drillCycle) << c.flags2Before << c.drilling;
  }
}

// Axis record word indices.
// clang-format off
enum : std::size_t {
  kAxisFlags2 = 1, kAxisInMotion = 2, kAxisInStop = 3, kAxisCurrentOff = 4, kAxisIsMoving = 5,
  kAxisNeedRef = 6, kAxisHwlsNeg = 7, kAxisHwlsPos = 8, kAxisHwlsDuring = 9, kAxisSwlsNeg = 10,
  kAxisSwlsPos = 11, kAxisAfterRun = 12, kAxisCommFail = 13, kAxisPowerFail = 15,
  kAxisCurrentLimiter = 17, kAxisSpecError = 22
};
// clang-format on

LinkoraAxisStatus Axis(const Image& image, std::uint32_t axis) {
  LinkoraAxisStatus status{};
  BuildAxisStatus(image.View(), axis, status);
  return status;
}

TEST(StatusEvaluationTest, HealthyAxisIsReadyAtItsTarget) {
  const auto status = Axis(Image::Healthy(), 1);
  auto expected = Words(LinkoraAxisStatus{});
  expected[0] = Bit(4);
  expected[kAxisFlags2] = Bit(2) | Bit(3);
  expected[20] = 1;  // IsInitialized
  expected[21] = 1;  // Ready
  EXPECT_EQ(Words(status), expected);
}

// Axis 1 with its coordinate 1; axis 0's and coordinate 0's words do not
// concern it.
TEST(StatusEvaluationTest, EachSourceSetsItsAxisFieldAndBit) {
  constexpr std::size_t kSingle = 488 + 8, kPositionMode = 488 + 8 + 4;
  constexpr std::size_t kMoving = 360 + 16, kTarget = 360 + 16 + 4;
  // clang-format off
  const Case cases[] = {
      {"ProcessVec", Set(kProcessVec), {{kAxisInMotion, 1}}, Bit(0), 0},
      {"StopFlag", Set(kStopFlag), {{kAxisInStop, 1}}, Bit(1), 0},
      {"HandModus", Set(kHandModus), {{kAxisCurrentOff, 1}}, Bit(2), 0},
      {"own moving word", Set(kMoving), {{kAxisIsMoving, 1}}, Bit(3), 0},
      {"moving word of axis 0", Set(360), {}, 0, 0},
      {"target not reached", Clear(kTarget), {}, Bit(4), 0},
      {"single axis at its target", Set(kSingle), {}, 0, Bit(28)},
      {"single axis on its way", Both(Set(kSingle), Clear(kTarget)), {{kAxisInMotion, 1}},
       Bit(0) | Bit(4), Bit(28)},
      {"single axis ignores the path's motion", Both(Set(kSingle), Set(kProcessVec)), {}, 0,
       Bit(28)},
      {"single axis ignores the path's stop", Both(Set(kSingle), Set(kStopFlag)), {}, 0,
       Bit(28)},
      {"velocity mode", Clear(kPositionMode), {}, 0, Bit(29)},
      {"latched homing", Clear(Latched(1, kHoming)), {{kAxisNeedRef, 1}}, Bit(16), 0},
      {"current homing", Clear(Current(1, kHoming)), {{kAxisNeedRef, 1}}, Bit(16), 0},
      {"homing of axis 0", Clear(Current(0, kHoming)), {}, 0, 0},
      {"negative switch", Clear(Current(1, kNegHwe)), {{kAxisHwlsNeg, 1}}, Bit(8), 0},
      {"positive switch", Clear(Current(1, kPosHwe)), {{kAxisHwlsPos, 1}}, Bit(9), 0},
      {"switch of the slave axis", Both(Set(SlaveCount(1)), Clear(CurrentSlave(1))),
       {{kAxisHwlsNeg, 1}, {kAxisHwlsPos, 1}}, Bit(8) | Bit(9), 0},
      {"latched switch", Clear(Latched(1, kPosHwe)), {{kAxisHwlsDuring, 1}}, Bit(10), 0},
      {"latched switch of the slave axis", Both(Set(SlaveCount(1)), Clear(LatchedSlave(1) + 4)),
       {{kAxisHwlsDuring, 1}}, Bit(10), 0},
      {"negative software limit", Clear(CurrentNegSwe(1)), {{kAxisSwlsNeg, 1}}, Bit(12), 0},
      {"positive software limit", Clear(CurrentPosSwe(1)), {{kAxisSwlsPos, 1}}, Bit(13), 0},
      {"software limit of coordinate 0", Clear(CurrentNegSwe(0)), {}, 0, 0},
      {"following error", Clear(Latched(1, kFollow)), {{kAxisAfterRun, 1}}, Bit(17), 0},
      {"NMT", Clear(Current(1, kNmt)), {{kAxisCommFail, 1}}, Bit(18), 0},
      {"receive", Clear(Latched(1, kReceive)), {{kAxisCommFail, 1}}, Bit(18), 0},
      {"current SYNC", Clear(156), {{kAxisCommFail, 1}}, Bit(18), 0},
      {"NMT of axis 0", Clear(Current(0, kNmt)), {}, 0, 0},
      {"main voltage", Clear(Current(1, kMainVoltage)), {{kAxisPowerFail, 1}}, Bit(20), 0},
      {"current limit", Clear(Latched(1, kCurrentLimit)),
       {{kAxisCurrentLimiter, 1}, {kAxisSpecError, 1}}, Bit(22), Bit(5)},
      {"fault", Clear(Current(1, kFault)), {{kAxisSpecError, 1}}, 0, Bit(5)},
      {"no amplifier enable", Clear(Current(1, kNoAmplify)), {{kAxisSpecError, 1}}, 0, Bit(5)},
      {"no operation enable", Clear(Current(1, kNoOperation)), {{kAxisSpecError, 1}}, 0, Bit(5)},
      {"no operation enable in hand operation",
       Both(Set(kHandModus), Clear(Current(1, kNoOperation))), {{kAxisCurrentOff, 1}}, Bit(2),
       0},
      {"parameters invalid", Clear(Current(1, kParInvalid)), {{kAxisSpecError, 1}}, 0, Bit(5)},
      {"fault of axis 0", Clear(Current(0, kFault)), {}, 0, 0},
      {"slave error", [](Image& image) { image.PutShort(Latched(1, 14), 28); }, {}, 0, Bit(30)},
  };
  // clang-format on
  const auto baseline = Words(Axis(Image::Healthy(), 1));
  for (const auto& c : cases) {
    Image image = Image::Healthy();
    c.mutate(image);
    ExpectChanges(c, baseline, Words(Axis(image, 1)), kAxisFlags2);
  }
}

}  // namespace
}  // namespace vantor::interface
