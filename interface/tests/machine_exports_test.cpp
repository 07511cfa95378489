// The machine-function exports against the scripted kernel: every payload
// as the kernel takes it, every answer as the caller gets it, and what the
// exports refuse before anything is sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "interface/tests/homing_holder.h"
#include "interface/tests/motion_log_fixture.h"

namespace linkora_test {
namespace {

constexpr std::int32_t kNoMove = 0x3FFFFFFF;
constexpr std::int64_t kNoMoveWire = 0x3FFFFFFFFFFFFFFF;
constexpr std::size_t kConfiguredCoordinateCountAt = 0x04;
constexpr std::size_t kCoordinateCountAt = 0x08;

class MachineExportsTest : public MotionLogTest {
 protected:
  // The complete status that code 24 answers: every software-limit OK word
  // 1, except the warnings named (coordinate, positive side).
  void ScriptLimitWarnings(std::vector<std::pair<std::size_t, bool>> warnings) {
    constexpr std::size_t kSoftwareLimitsAt = 0x128;
    std::vector<std::uint8_t> status(2484, 0);
    const auto put = [&](std::size_t at, std::uint32_t value) {
      std::memcpy(status.data() + at, &value, sizeof value);
    };
    for (std::size_t i = 0; i < 8; ++i) {
      put(kSoftwareLimitsAt + 8 * i, 1);
      put(kSoftwareLimitsAt + 8 * i + 4, 1);
    }
    for (const auto& [coordinate, positive] : warnings) {
      put(kSoftwareLimitsAt + 8 * coordinate + (positive ? 4 : 0), 0);
    }
    std::ofstream(Path("status"), std::ios::binary)
        .write(reinterpret_cast<const char*>(status.data()),
               static_cast<std::streamsize>(status.size()));
  }
  void SetCoordinateCount(std::uint32_t count) {
    ChannelMapping block(common::ChannelObject::CommunicationMapping);
    block.SetWord(kConfiguredCoordinateCountAt, count);
    block.SetWord(kCoordinateCountAt, count);
  }
};

Wire OneWord(std::uint32_t value) { return Wire().U32(value); }
Wire TwoWords(std::uint32_t first, std::uint32_t second) { return Wire().U32(first).U32(second); }

// Limits of coordinates 0 to 2 as the fixture's three coordinates send
// them; the slots behind them are never sent.
LinkoraSwlsRecord Limits() {
  LinkoraSwlsRecord record{};
  record.EnableMask = 0x5;
  record.NegWarningMask = 0xFF;
  record.PosWarningMask = 0xFF;
  const std::int32_t negative[9] = {-10, kNoMove, -2147483647 - 1, 7, 7, 7, 7, 7, 7};
  const std::int32_t positive[9] = {10, 20, kNoMove, 8, 8, 8, 8, 8, 8};
  std::copy(std::begin(negative), std::end(negative), record.NegLimit);
  std::copy(std::begin(positive), std::end(positive), record.PosLimit);
  record.LimitReached = 1;
  return record;
}

// Unused bytes filled, that must not reach the kernel.
LinkoraVelPropOutputRecord VelocityOutput() {
  LinkoraVelPropOutputRecord record;
  std::memset(&record, 0xEE, sizeof record);
  record.Mode = 2;
  record.DelayMicroseconds = 9000;
  record.Direction = 1;
  record.Guarding = 0;
  record.NodeId = 0x21;
  record.CobId = 0x3A5;
  record.DataLength = 2;
  record.Compare = 0;
  for (std::uint8_t k = 0; k < 8; ++k) {
    record.Mask[k] = static_cast<std::uint8_t>(0x10 + k);
    record.Expected[k] = static_cast<std::uint8_t>(0x20 + k);
  }
  record.AnswerTimeout = 40;
  record.Period = 3;
  return record;
}

struct PayloadCase {
  const char* name;
  std::function<LinkoraStatus()> call;
  std::uint32_t code;
  Wire payload;
  // The timer periods answer the kernel's own success.
  LinkoraStatus success = LINKORA_SUCCESS;
};

std::vector<PayloadCase> PayloadCases() {
  static std::uint32_t word = 0;
  static std::array<std::int32_t, 4> ramp = {};
  static const std::array<std::int32_t, 4> rampSent = {1, -2, kNoMove, 4};
  static const std::int32_t radius = -5;
  static LinkoraGearRatio ratio{};
  static const LinkoraGearRatio ratioSent = {3, 7};
  static LinkoraSynAxisGearRatio synRatio{};
  static const LinkoraSynAxisGearRatio synRatioSent = {1, 2, 3, 4};
  static LinkoraAxisRamp axisRamp{};
  static const LinkoraAxisRampOverride overrideSent = {{5, 10, 20, 30, 40, 50, 60, 70, 100}};
  static LinkoraSwlsRecord limits{};
  static const LinkoraSwlsRecord limitsSent = Limits();
  static const LinkoraVelPropOutputRecord output = VelocityOutput();
  static const LinkoraVelPropOutputWorkPar work = {1, -3, 4, -5, 900};
  static LinkoraVelPropOutputActPar actual{};
  static const LinkoraPlaneRotation rotationSent = {2, -45};
  static LinkoraPlaneRotation rotation{};

  Wire limitsWire;
  limitsWire.U32(0x5).Zeros(4).I64(-10).I64(kNoMoveWire).I64(-2147483648LL).Zeros(40);
  limitsWire.I64(10).I64(20).I64(kNoMoveWire).Zeros(40);
  Wire outputWire;
  outputWire.U32(2).U32(9000).U32(1).U32(0).U8(0x21).Zeros(1).U16(0x3A5).U8(2).Zeros(3).U32(0);
  outputWire.U32(0x13121110).U32(0x17161514).U32(0x23222120).U32(0x27262524).U32(40).U32(3);
  Wire overrideWire = OneWord(2);
  for (const std::uint32_t percent : overrideSent.Percent) overrideWire.U32(percent);

  return {
      {"HWLSBridge on", [] { return mctl_HWLSBridge(7); }, 30, OneWord(1)},
      {"HWLSBridge off", [] { return mctl_HWLSBridge(0); }, 30, OneWord(0)},
      {"GetPathCoor", [] { return mctl_GetPathCoor(&word); }, 40, Wire()},
      {"SetPathCoor", [] { return mctl_SetPathCoor(0x85); }, 41, OneWord(0x85)},
      {"GetAxisGearRatio", [] { return mctl_GetAxisGearRatio(2, &ratio, 8); }, 53, OneWord(2)},
      {"SetAxisGearRatio", [] { return mctl_SetAxisGearRatio(2, &ratioSent, 8); }, 54,
       Wire().U32(2).U32(3).U32(7)},
      {"GetRamp", [] { return mctl_GetRamp(ramp.data(), 16); }, 55, Wire()},
      {"SetRamp", [] { return mctl_SetRamp(rampSent.data(), 16); }, 56,
       Wire().I64(1).I64(-2).I64(kNoMoveWire).I64(4)},
      {"SetCylinderPar", [] { return mctl_SetCylinderPar(1, &radius, 4); }, 58,
       Wire().U32(1).Zeros(4).I64(-5)},
      {"GetSWLSStatus", [] { return mctl_GetSWLSStatus(&limits, 88); }, 59, Wire()},
      {"SetSWLS", [] { return mctl_SetSWLS(&limitsSent, 88); }, 60, limitsWire},
      {"EnableSWLS", [] { return mctl_EnableSWLS(0x3, 0x1); }, 61, TwoWords(3, 1)},
      {"ClearSWLS", [] { return mctl_ClearSWLS(); }, 62, Wire()},
      {"SetTestMode on", [] { return mctl_SetTestMode(9); }, 63, OneWord(1)},
      {"SetTestMode off", [] { return mctl_SetTestMode(0); }, 63, OneWord(0)},
      {"ChangeLookAheadBuffer 1 0", [] { return mctl_ChangeLookAheadBuffer(1, 0); }, 70,
       TwoWords(0, 1)},
      {"ChangeLookAheadBuffer 0 5", [] { return mctl_ChangeLookAheadBuffer(0, 5); }, 70,
       TwoWords(1, 0)},
      {"GetLookAheadBufferStatus 0", [] { return mctl_GetLookAheadBufferStatus(0, &word); }, 71,
       OneWord(1)},
      {"GetLookAheadBufferStatus 3", [] { return mctl_GetLookAheadBufferStatus(3, &word); }, 71,
       OneWord(0)},
      {"ExchangeInterAxis", [] { return mctl_ExchangeInterAxis(0, 1); }, 72, TwoWords(0, 1)},
      {"GetSynAxisGearRatio", [] { return mctl_GetSynAxisGearRatio(1, &synRatio, 16); }, 73,
       OneWord(1)},
      {"SetSynAxisGearRatio", [] { return mctl_SetSynAxisGearRatio(1, &synRatioSent, 16); }, 74,
       Wire().U32(1).U32(1).U32(2).U32(3).U32(4)},
      {"SetCncTimeLimitation", [] { return mctl_SetCncTimeLimitation(10, 20); }, 83,
       TwoWords(10, 20), 0x09130000},
      {"ResetReferenceFlag", [] { return mctl_ResetReferenceFlag(0x6); }, 84, OneWord(6)},
      {"GetAxisRamp", [] { return mctl_GetAxisRamp(3, &axisRamp, 52); }, 85, OneWord(3)},
      {"SetAxisRampOverride", [] { return mctl_SetAxisRampOverride(2, &overrideSent, 36); }, 86,
       overrideWire},
      {"ActivateVelPropOutputMode", [] { return mctl_ActivateVelPropOutputMode(&output, 52); }, 101,
       outputWire},
      {"DeactivateVelPropOutputMode", [] { return mctl_DeactivateVelPropOutputMode(); }, 102,
       Wire()},
      {"SetVelPropOutputWorkPar", [] { return mctl_SetVelPropOutputWorkPar(&work, 20); }, 103,
       Wire().U32(1).U32(0xFFFFFFFD).U32(4).U32(0xFFFFFFFB).U32(900)},
      {"GetVelPropOutputActPar", [] { return mctl_GetVelPropOutputActPar(&actual, 40); }, 104,
       Wire()},
      {"SetPlaneRotPar", [] { return mctl_SetPlaneRotPar(&rotationSent, 8); }, 105,
       TwoWords(2, 0xFFFFFFD3)},
      {"GetPlaneRotPar", [] { return mctl_GetPlaneRotPar(&rotation, 8); }, 106, Wire()},
      {"SetPathVelFac", [] { return mctl_SetPathVelFac(80); }, 107, OneWord(80)},
      {"GetPathVelFac", [] { return mctl_GetPathVelFac(&word); }, 108, Wire()},
  };
}

TEST_F(MachineExportsTest, PayloadsAreWrittenAsTheKernelTakesThem) {
  EnterCncMode(3, 4, 2);
  for (const auto& c : PayloadCases()) {
    ForgetLogged();
    ASSERT_EQ(c.call(), c.success) << c.name;
    const auto logged = Logged();
    ASSERT_EQ(logged.size(), 1u) << c.name;
    EXPECT_EQ(logged[0].code, c.code) << c.name;
    EXPECT_EQ(logged[0].payload, c.payload.Logged()) << c.name;
  }
}

TEST_F(MachineExportsTest, LimitsOfEveryCountedCoordinateAndNoOthersAreSent) {
  EnterCncMode(3, 4, 2);
  const LinkoraSwlsRecord limits = Limits();
  for (const std::uint32_t count : {1u, 8u}) {
    SetCoordinateCount(count);
    ForgetLogged();
    ASSERT_EQ(mctl_SetSWLS(&limits, sizeof limits), LINKORA_SUCCESS);
    Wire expected;
    expected.U32(0x5).Zeros(4);
    for (std::uint32_t i = 0; i < 8; ++i) {
      expected.I64(i < count ? (i == 1 ? kNoMoveWire : limits.NegLimit[i]) : 0);
    }
    for (std::uint32_t i = 0; i < 8; ++i) {
      expected.I64(i < count ? (i == 2 ? kNoMoveWire : limits.PosLimit[i]) : 0);
    }
    ASSERT_EQ(Logged().size(), 1u);
    EXPECT_EQ(Logged()[0].payload, expected.Logged()) << count;
  }
}

struct AnswerCase {
  const char* name;
  std::uint32_t code;
  std::size_t recordSize;
  std::function<LinkoraStatus(void*)> call;
  Wire answer;
  Wire expected;  // the caller's record afterwards
};

std::vector<AnswerCase> AnswerCases() {
  Wire axisRampAnswer = OneWord(3);
  Wire axisRamp;
  for (std::uint32_t i = 0; i < 13; ++i) {
    axisRampAnswer.U32(100 + i);
    axisRamp.U32(100 + i);
  }
  Wire actualAnswer;
  for (std::uint32_t i = 0; i < 10; ++i) actualAnswer.U32(i == 6 ? 0xFFFFFFFF : 50 + i);
  const auto u32 = [](void* p) { return static_cast<std::uint32_t*>(p); };
  return {
      {"GetPathCoor", 40, 4, [=](void* p) { return mctl_GetPathCoor(u32(p)); }, OneWord(0x5),
       OneWord(0x5)},
      {"GetAxisGearRatio", 53, 8,
       [](void* p) { return mctl_GetAxisGearRatio(1, static_cast<LinkoraGearRatio*>(p), 8); },
       Wire().U32(1).U32(3).U32(7), TwoWords(3, 7)},
      // 64-bit values saturate at +-2147483647.
      {"GetRamp", 55, 16, [](void* p) { return mctl_GetRamp(static_cast<std::int32_t*>(p), 16); },
       Wire().I64(1).I64(-3000000000LL).I64(3000000000LL).I64(-4),
       Wire().U32(1).U32(0x80000001).U32(0x7FFFFFFF).U32(0xFFFFFFFC)},
      {"GetLookAheadBufferStatus at 0", 71, 4,
       [=](void* p) { return mctl_GetLookAheadBufferStatus(0, u32(p)); }, TwoWords(0, 0),
       OneWord(1)},
      {"GetLookAheadBufferStatus raised", 71, 4,
       [=](void* p) { return mctl_GetLookAheadBufferStatus(0, u32(p)); }, TwoWords(0, 7),
       OneWord(0)},
      {"GetSynAxisGearRatio", 73, 16,
       [](void* p) {
         return mctl_GetSynAxisGearRatio(1, static_cast<LinkoraSynAxisGearRatio*>(p), 16);
       },
       Wire().U32(1).U32(1).U32(2).U32(3).U32(4), Wire().U32(1).U32(2).U32(3).U32(4)},
      {"GetAxisRamp", 85, 52,
       [](void* p) { return mctl_GetAxisRamp(3, static_cast<LinkoraAxisRamp*>(p), 52); },
       axisRampAnswer, axisRamp},
      {"GetVelPropOutputActPar", 104, 40,
       [](void* p) {
         return mctl_GetVelPropOutputActPar(static_cast<LinkoraVelPropOutputActPar*>(p), 40);
       },
       actualAnswer, actualAnswer},
      {"GetPlaneRotPar", 106, 8,
       [](void* p) { return mctl_GetPlaneRotPar(static_cast<LinkoraPlaneRotation*>(p), 8); },
       TwoWords(3, 0xFFFFFFD3), TwoWords(3, 0xFFFFFFD3)},
      {"GetPathVelFac", 108, 4, [=](void* p) { return mctl_GetPathVelFac(u32(p)); }, OneWord(80),
       OneWord(80)},
  };
}

TEST_F(MachineExportsTest, AnswersReachTheCallerOnlyAfterTheKernelsSuccess) {
  EnterCncMode(3, 4, 2);
  for (const auto& c : AnswerCases()) {
    ScriptAnswer(c.answer);
    std::vector<std::uint8_t> record(c.recordSize, 0x5A);
    ASSERT_EQ(c.call(record.data()), LINKORA_SUCCESS) << c.name;
    EXPECT_EQ(record, c.expected.bytes()) << c.name;

    ScriptResults(std::to_string(c.code) + " C9130027\n");
    std::fill(record.begin(), record.end(), std::uint8_t{0x5A});
    EXPECT_EQ(c.call(record.data()), 0xC9130027u) << c.name;
    EXPECT_EQ(record, std::vector<std::uint8_t>(c.recordSize, 0x5A)) << c.name << " kept";
  }
}

// The kernel's limits of the counted coordinates, and the warnings of the
// present status only, whatever the caller's record held.
TEST_F(MachineExportsTest, SoftwareLimitStatusJoinsTheLimitsAndThePresentWarnings) {
  EnterCncMode(3, 4, 2);
  Wire answer;
  answer.U32(0x6).Zeros(4).I64(-10).I64(-3000000000LL).I64(-30).Zeros(40);
  answer.I64(10).I64(3000000000LL).I64(kNoMoveWire).Zeros(40);
  ScriptAnswer(answer);
  constexpr std::int32_t kUntouched = static_cast<std::int32_t>(0xA5A5A5A5);
  const struct {
    const char* name;
    std::vector<std::pair<std::size_t, bool>> warnings;
    std::uint32_t negative;
    std::uint32_t positive;
    std::uint32_t reached;
  } cases[] = {
      {"none", {}, 0, 0, 0},
      {"negative of 1, positive of 2", {{1, false}, {2, true}}, 0x2, 0x4, 1},
      {"both of 0", {{0, false}, {0, true}}, 0x1, 0x1, 1},
      {"beyond the counted coordinates", {{3, false}, {7, true}}, 0, 0, 0},
  };
  for (const auto& c : cases) {
    ScriptLimitWarnings(c.warnings);
    LinkoraSwlsRecord record;
    std::memset(&record, 0xA5, sizeof record);
    ASSERT_EQ(mctl_GetSWLSStatus(&record, sizeof record), LINKORA_SUCCESS) << c.name;
    EXPECT_EQ(record.EnableMask, 0x6u);
    EXPECT_EQ(record.NegWarningMask, c.negative) << c.name;
    EXPECT_EQ(record.PosWarningMask, c.positive) << c.name;
    EXPECT_EQ(record.LimitReached, c.reached) << c.name;
    const std::int32_t negative[9] = {-10,        -2147483647, -30,        kUntouched, kUntouched,
                                      kUntouched, kUntouched,  kUntouched, kUntouched};
    const std::int32_t positive[9] = {10,         2147483647, 2147483647, kUntouched, kUntouched,
                                      kUntouched, kUntouched, kUntouched, kUntouched};
    EXPECT_EQ(std::memcmp(record.NegLimit, negative, sizeof negative), 0) << c.name;
    EXPECT_EQ(std::memcmp(record.PosLimit, positive, sizeof positive), 0) << c.name;
  }
}

TEST_F(MachineExportsTest, SoftwareLimitStatusKeepsTheRecordWhenEitherReadFails) {
  EnterCncMode(3, 4, 2);
  ScriptAnswer(Wire().U32(0x7));
  ScriptLimitWarnings({{0, false}});
  LinkoraSwlsRecord record;
  std::memset(&record, 0xA5, sizeof record);
  LinkoraSwlsRecord untouched = record;

  const int statusRequests = Requests(24);
  ScriptResults("59 C913000A\n");
  EXPECT_EQ(mctl_GetSWLSStatus(&record, sizeof record), 0xC913000Au);
  EXPECT_EQ(Requests(24), statusRequests) << "no status asked for after the failure";
  EXPECT_EQ(std::memcmp(&record, &untouched, sizeof record), 0);

  std::ofstream(Path("status-result")) << "C9130005\n";
  EXPECT_EQ(mctl_GetSWLSStatus(&record, sizeof record), 0xC9130005u);
  EXPECT_EQ(std::memcmp(&record, &untouched, sizeof record), 0);
}

TEST_F(MachineExportsTest, KernelResultsComeBackUnchanged) {
  EnterCncMode(3, 4, 2);
  ScriptResults("54 C913002B\n86 C913002C\n83 C9130039\n83 C9130039\n");
  const LinkoraGearRatio zero = {0, 1};
  EXPECT_EQ(mctl_SetAxisGearRatio(0, &zero, sizeof zero), 0xC913002Bu);
  const LinkoraAxisRampOverride tooLow = {{4, 50, 50, 50, 50, 50, 50, 50, 50}};
  EXPECT_EQ(mctl_SetAxisRampOverride(0, &tooLow, sizeof tooLow), 0xC913002Cu);
  EXPECT_EQ(mctl_SetCncTimeLimitation(0, 10), 0xC9130039u);
  EXPECT_EQ(mctl_SetCncTimeLimitation(10, 51), 0xC9130039u);
  // The timer periods answer the kernel's own success; every other export
  // the library's.
  EXPECT_EQ(mctl_SetCncTimeLimitation(1, 50), 0x09130000u);
  EXPECT_EQ(mctl_SetAxisGearRatio(0, &zero, sizeof zero), LINKORA_SUCCESS);
}

TEST_F(MachineExportsTest, WithoutCncModeOnlyTheTimerPeriodsAreSent) {
  for (const auto& c : PayloadCases()) {
    EXPECT_EQ(c.call(), c.code == 83 ? c.success : 0xC914000Bu) << c.name;
  }
  const auto logged = Logged();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].code, 83u);
}

TEST_F(MachineExportsTest, WhileAHomingRunHoldsTheChannelNothingIsSent) {
  EnterCncMode(3, 4, 2);
  const HomingHolder holder;
  for (const auto& c : PayloadCases()) EXPECT_EQ(c.call(), 0xC9130016u) << c.name;
  EXPECT_TRUE(Logged().empty());
}

TEST_F(MachineExportsTest, WrongSizesAndMissingRecordsAreRefusedFirst) {
  EnterCncMode(3, 4, 2);
  std::array<std::int32_t, 4> ramp{};
  LinkoraGearRatio ratio{};
  LinkoraSynAxisGearRatio synRatio{};
  LinkoraAxisRamp axisRamp{};
  LinkoraAxisRampOverride rampOverride{};
  LinkoraSwlsRecord limits{};
  LinkoraVelPropOutputRecord output{};
  LinkoraVelPropOutputWorkPar work{};
  LinkoraVelPropOutputActPar actual{};
  LinkoraPlaneRotation rotation{};
  const std::int32_t radius = 0;
  constexpr LinkoraStatus kSize = 0xC914000E, kNull = 0xC9140006;
  const struct {
    const char* name;
    std::function<LinkoraStatus()> call;
    LinkoraStatus result;
  } cases[] = {
      {"GetPathCoor null", [] { return mctl_GetPathCoor(nullptr); }, kNull},
      {"GetAxisGearRatio size", [&] { return mctl_GetAxisGearRatio(0, &ratio, 16); }, kSize},
      {"GetAxisGearRatio null", [] { return mctl_GetAxisGearRatio(0, nullptr, 8); }, kNull},
      {"SetAxisGearRatio size", [&] { return mctl_SetAxisGearRatio(0, &ratio, 4); }, kSize},
      {"SetAxisGearRatio null", [] { return mctl_SetAxisGearRatio(0, nullptr, 8); }, kNull},
      {"GetRamp size", [&] { return mctl_GetRamp(ramp.data(), 32); }, kSize},
      {"GetRamp null", [] { return mctl_GetRamp(nullptr, 16); }, kNull},
      {"SetRamp size", [&] { return mctl_SetRamp(ramp.data(), 8); }, kSize},
      {"SetRamp null", [] { return mctl_SetRamp(nullptr, 16); }, kNull},
      {"SetCylinderPar size", [&] { return mctl_SetCylinderPar(0, &radius, 8); }, kSize},
      {"SetCylinderPar null", [] { return mctl_SetCylinderPar(0, nullptr, 4); }, kNull},
      {"GetSWLSStatus size", [&] { return mctl_GetSWLSStatus(&limits, 84); }, kSize},
      {"GetSWLSStatus null", [] { return mctl_GetSWLSStatus(nullptr, 88); }, kNull},
      {"SetSWLS size", [&] { return mctl_SetSWLS(&limits, 136); }, kSize},
      {"SetSWLS null", [] { return mctl_SetSWLS(nullptr, 88); }, kNull},
      {"GetLookAheadBufferStatus null", [] { return mctl_GetLookAheadBufferStatus(0, nullptr); },
       kNull},
      {"GetSynAxisGearRatio size", [&] { return mctl_GetSynAxisGearRatio(0, &synRatio, 8); },
       kSize},
      {"GetSynAxisGearRatio null", [] { return mctl_GetSynAxisGearRatio(0, nullptr, 16); }, kNull},
      {"SetSynAxisGearRatio size", [&] { return mctl_SetSynAxisGearRatio(0, &synRatio, 20); },
       kSize},
      {"SetSynAxisGearRatio null", [] { return mctl_SetSynAxisGearRatio(0, nullptr, 16); }, kNull},
      {"GetAxisRamp size", [&] { return mctl_GetAxisRamp(0, &axisRamp, 48); }, kSize},
      {"GetAxisRamp null", [] { return mctl_GetAxisRamp(0, nullptr, 52); }, kNull},
      {"SetAxisRampOverride size", [&] { return mctl_SetAxisRampOverride(0, &rampOverride, 40); },
       kSize},
      {"SetAxisRampOverride null", [] { return mctl_SetAxisRampOverride(0, nullptr, 36); }, kNull},
      {"ActivateVelPropOutputMode size",
       [&] { return mctl_ActivateVelPropOutputMode(&output, 56); }, kSize},
      {"ActivateVelPropOutputMode null", [] { return mctl_ActivateVelPropOutputMode(nullptr, 52); },
       kNull},
      {"SetVelPropOutputWorkPar size", [&] { return mctl_SetVelPropOutputWorkPar(&work, 16); },
       kSize},
      {"SetVelPropOutputWorkPar null", [] { return mctl_SetVelPropOutputWorkPar(nullptr, 20); },
       kNull},
      {"GetVelPropOutputActPar size", [&] { return mctl_GetVelPropOutputActPar(&actual, 44); },
       kSize},
      {"GetVelPropOutputActPar null", [] { return mctl_GetVelPropOutputActPar(nullptr, 40); },
       kNull},
      {"SetPlaneRotPar size", [&] { return mctl_SetPlaneRotPar(&rotation, 4); }, kSize},
      {"SetPlaneRotPar null", [] { return mctl_SetPlaneRotPar(nullptr, 8); }, kNull},
      {"GetPlaneRotPar size", [&] { return mctl_GetPlaneRotPar(&rotation, 0); }, kSize},
      {"GetPlaneRotPar null", [] { return mctl_GetPlaneRotPar(nullptr, 8); }, kNull},
      {"GetPathVelFac null", [] { return mctl_GetPathVelFac(nullptr); }, kNull},
  };
  for (const auto& c : cases) EXPECT_EQ(c.call(), c.result) << c.name;
  EXPECT_TRUE(Logged().empty());
}

TEST_F(MachineExportsTest, WithTheDllPathBufferOnThePathSettingsAreRefused) {
  EnterCncMode(3, 4, 2);
  ChannelMapping buffer(common::ChannelObject::PathBufferMapping);
  constexpr std::size_t kEnabledAt = 4;
  buffer.SetWord(kEnabledAt, 1);
  const std::string_view refused[] = {"HWLSBridge on",
                                      "HWLSBridge off",
                                      "GetPathCoor",
                                      "SetPathCoor",
                                      "ChangeLookAheadBuffer 1 0",
                                      "ChangeLookAheadBuffer 0 5",
                                      "ExchangeInterAxis",
                                      "ResetReferenceFlag"};
  std::size_t sent = 0;
  const auto cases = PayloadCases();
  for (const auto& c : cases) {
    const std::string_view name = c.name;
    const bool refuses =
        std::find(std::begin(refused), std::end(refused), name) != std::end(refused);
    ForgetLogged();
    EXPECT_EQ(c.call(), refuses ? 0xC914000Du : c.success) << name;
    EXPECT_EQ(Logged().size(), refuses ? 0u : 1u) << name;
    if (!refuses) ++sent;
  }
  EXPECT_EQ(sent, cases.size() - std::size(refused));
  buffer.SetWord(kEnabledAt, 0);
}

}  // namespace
}  // namespace linkora_test
