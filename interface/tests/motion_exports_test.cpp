// The motion exports against the scripted kernel: every payload as the
// kernel takes it, every answer as the caller gets it, and what the
// exports refuse before anything is sent.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "interface/tests/motion_log_fixture.h"

namespace linkora_test {
namespace {

constexpr std::uint32_t kNoMove = 0x3FFFFFFF;
constexpr std::int64_t kNoMoveWire = 0x3FFFFFFFFFFFFFFF;
constexpr std::size_t kCoordinateCountAt = 0x08;
constexpr std::size_t kConfiguredCoordinateCountAt = 0x04;
constexpr std::size_t kAxisCountAt = 0x0C;

class MotionExportsTest : public MotionLogTest {};

// Nine slots of which the fixture's three coordinates are used: a plain
// value, a negative one that must be sign-extended and the no-move marker.
constexpr std::array<std::int32_t, 9> kTarget = {10, -1, kNoMove, 99, 99, 99, 99, 99, 99};

Wire& TargetWire(Wire& wire) { return wire.I64(10).I64(-1).I64(kNoMoveWire); }

LinkoraCircleRecord Circle(std::int32_t plane, std::int32_t direction) {
  return {plane, direction, {500, -7}, {10, -1, kNoMove, 99, 99, 99, 99, 99, 99}};
}

LinkoraHelixRecord Helix(std::int32_t plane, std::int32_t direction) {
  return {plane, direction, {500, -7, 3}, {10, -1, kNoMove, 99, 99, 99, 99, 99, 99}};
}

// Circle payload: flag, axis pair, direction, two values, end coordinates.
Wire CircleWire(std::uint32_t absolute, std::int64_t first, std::int64_t second,
                std::int64_t direction) {
  Wire wire;
  wire.U32(absolute).U32(0).I64(first).I64(second).I64(direction).I64(500).I64(-7);
  return TargetWire(wire);
}

Wire HelixWire(std::uint32_t absolute, std::int64_t first, std::int64_t second,
               std::int64_t direction) {
  Wire wire;
  wire.U32(absolute).U32(0).I64(first).I64(second).I64(direction).I64(500).I64(-7).I64(3);
  return TargetWire(wire);
}

Wire LineWire(std::uint32_t absolute, std::uint32_t rapid) {
  Wire wire;
  wire.U32(absolute).U32(rapid);
  return TargetWire(wire);
}

Wire OneWord(std::uint32_t value) { return Wire().U32(value); }

struct PayloadCase {
  const char* name;
  std::function<LinkoraStatus()> call;
  std::uint32_t code;
  Wire payload;
};

std::vector<PayloadCase> PayloadCases() {
  static const LinkoraCircleRecord circles[] = {Circle(0, 1), Circle(1, 0), Circle(2, 5),
                                                Circle(3, 1), Circle(3, 0), Circle(7, 1)};
  static const LinkoraHelixRecord helices[] = {Helix(0, 1), Helix(1, 0), Helix(2, 1), Helix(3, 1)};
  static const LinkoraVelocityRecord velocity = {1, 2, 3, 4, 5, kNoMove, 7, 8};
  const auto size = LINKORA_POSITION_ARRAY_SIZE;
  return {
      {"MoveRel", [=] { return mctl_MoveRel(kTarget.data(), size); }, 36, LineWire(0, 0)},
      {"MoveAbs", [=] { return mctl_MoveAbs(kTarget.data(), size); }, 36, LineWire(1, 0)},
      {"FastRel", [=] { return mctl_FastRel(kTarget.data(), size); }, 36, LineWire(0, 1)},
      {"FastAbs", [=] { return mctl_FastAbs(kTarget.data(), size); }, 36, LineWire(1, 1)},
      {"CircleAbs XY", [] { return mctl_CircleAbs(&circles[0], 52); }, 37, CircleWire(1, 0, 1, 1)},
      {"CircleRel XZ", [] { return mctl_CircleRel(&circles[1], 52); }, 37, CircleWire(0, 0, 2, 0)},
      {"CircleAbs YZ", [] { return mctl_CircleAbs(&circles[2], 52); }, 37, CircleWire(1, 1, 2, 1)},
      {"CircleAbs XZ turned", [] { return mctl_CircleAbs(&circles[3], 52); }, 37,
       CircleWire(1, 0, 2, 0)},
      {"CircleAbs XZ turned back", [] { return mctl_CircleAbs(&circles[4], 52); }, 37,
       CircleWire(1, 0, 2, 1)},
      {"CircleAbs no plane", [] { return mctl_CircleAbs(&circles[5], 52); }, 37,
       CircleWire(1, 0, 0, 1)},
      {"HelixAbs XY", [] { return mctl_HelixAbs(&helices[0], 56); }, 38, HelixWire(1, 0, 1, 1)},
      {"HelixRel XZ", [] { return mctl_HelixRel(&helices[1], 56); }, 38, HelixWire(0, 0, 2, 0)},
      {"HelixAbs YZ", [] { return mctl_HelixAbs(&helices[2], 56); }, 38, HelixWire(1, 1, 2, 1)},
      {"HelixAbs plane 3 names no pair", [] { return mctl_HelixAbs(&helices[3], 56); }, 38,
       HelixWire(1, 0, 0, 1)},
      {"SetWNPAbs", [=] { return mctl_SetWNPAbs(kTarget.data(), size); }, 34, LineWire(1, 0)},
      {"SetWNPRel", [=] { return mctl_SetWNPRel(kTarget.data(), size); }, 34, LineWire(0, 0)},
      {"ClearWNP", [] { return mctl_ClearWNP(); }, 34, Wire().U32(1).U32(0).I64(0).I64(0).I64(0)},
      {"SetActPosWNP", [] { return mctl_SetActPosWNP(); }, 33, Wire()},
      // Processing, teach-in, rapid; the current velocities go as zeros.
      {"SetVelocity", [] { return mctl_SetVelocity(&velocity, 32); }, 18,
       Wire().I64(1).I64(2).I64(5).I64(kNoMoveWire).I64(3).I64(4).I64(0).I64(0)},
      {"SetOverride", [] { return mctl_SetOverride(150); }, 25, OneWord(150)},
      {"SetMotionState continue", [] { return mctl_SetMotionState(0); }, 27, OneWord(0)},
      {"SetMotionState stop", [] { return mctl_SetMotionState(1); }, 27, OneWord(1)},
      {"SetMotionState break", [] { return mctl_SetMotionState(2); }, 27, OneWord(2)},
      {"SetMotionState abort", [] { return mctl_SetMotionState(3); }, 27, OneWord(3)},
      {"SetMotionState other", [] { return mctl_SetMotionState(9); }, 27, OneWord(3)},
      {"SetPowerState on", [] { return mctl_SetPowerState(1); }, 28, OneWord(0)},
      {"SetPowerState off", [] { return mctl_SetPowerState(0); }, 28, OneWord(1)},
      {"SetPowerState any on", [] { return mctl_SetPowerState(7); }, 28, OneWord(0)},
      {"SetTeachMode on", [] { return mctl_SetTeachMode(5); }, 29, OneWord(1)},
      {"SetTeachMode off", [] { return mctl_SetTeachMode(0); }, 29, OneWord(0)},
      {"HwlsMoveOut", [] { return mctl_HwlsMoveOut(0x85); }, 32, OneWord(0x85)},
  };
}

TEST_F(MotionExportsTest, PayloadsAreWrittenAsTheKernelTakesThem) {
  EnterCncMode(3, 4, 2);
  for (const auto& c : PayloadCases()) {
    ForgetLogged();
    ASSERT_EQ(c.call(), LINKORA_SUCCESS) << c.name;
    const auto logged = Logged();
    ASSERT_EQ(logged.size(), 1u) << c.name;
    EXPECT_EQ(logged[0].code, c.code) << c.name;
    std::array<std::uint8_t, kLoggedPayload> expected{};
    std::copy(c.payload.bytes().begin(), c.payload.bytes().end(), expected.begin());
    EXPECT_EQ(logged[0].payload, expected) << c.name;
  }
}

TEST_F(MotionExportsTest, KernelResultsComeBackUnchanged) {
  EnterCncMode(3, 4, 2);
  ScriptResults("36 C9130023\n38 C9130021\n27 C9100008\n");
  EXPECT_EQ(mctl_MoveAbs(kTarget.data(), LINKORA_POSITION_ARRAY_SIZE), 0xC9130023u);
  const auto helix = Helix(3, 0);
  EXPECT_EQ(mctl_HelixAbs(&helix, sizeof helix), 0xC9130021u);
  EXPECT_EQ(mctl_SetMotionState(1), 0xC9100008u);
  EXPECT_EQ(mctl_MoveAbs(kTarget.data(), LINKORA_POSITION_ARRAY_SIZE), LINKORA_SUCCESS);
}

// The kernel's 64-bit values, beyond the 32-bit range on both sides.
Wire PositionAnswer() {
  return Wire()
      .I64(5)
      .I64(-3000000000LL)
      .I64(3000000000LL)
      .I64(-2147483648LL)
      .I64(44)
      .I64(55)
      .I64(66)
      .I64(77)
      .I64(88);
}

TEST_F(MotionExportsTest, PositionsFillTheCountedSlotsOnly) {
  EnterCncMode(3, 4, 2);
  ScriptAnswer(PositionAnswer());
  constexpr std::int32_t kUntouched = 0x5A5A5A5A;
  const struct {
    const char* name;
    std::function<LinkoraStatus(std::int32_t*)> call;
    std::uint32_t code;
    std::size_t filled;
  } cases[] = {
      {"GetPosition", [](std::int32_t* p) { return mctl_GetPosition(p, 36); }, 20, 3},
      {"GetDestinationPos", [](std::int32_t* p) { return mctl_GetDestinationPos(p, 36); }, 21, 3},
      {"GetDesiredPos", [](std::int32_t* p) { return mctl_GetDesiredPos(p, 36); }, 22, 3},
      {"GetWNP", [](std::int32_t* p) { return mctl_GetWNP(p, 36); }, 35, 3},
      // One value per axis; the size is not looked at.
      {"GetAxisPosition", [](std::int32_t* p) { return mctl_GetAxisPosition(p, 0); }, 23, 4},
  };
  const std::array<std::int32_t, 9> answered = {5,  -2147483647, 2147483647, -2147483647, 44,
                                                55, 66,          77,         88};
  for (const auto& c : cases) {
    ForgetLogged();
    std::array<std::int32_t, 9> values;
    values.fill(kUntouched);
    ASSERT_EQ(c.call(values.data()), LINKORA_SUCCESS) << c.name;
    ASSERT_EQ(Logged().size(), 1u) << c.name;
    EXPECT_EQ(Logged()[0].code, c.code) << c.name;
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(values[i], i < c.filled ? answered[i] : kUntouched) << c.name << " slot " << i;
    }
  }

  // A failed read leaves the caller's values as they were.
  ScriptResults("20 C9130005\n");
  std::array<std::int32_t, 9> values;
  values.fill(kUntouched);
  EXPECT_EQ(mctl_GetPosition(values.data(), 36), 0xC9130005u);
  EXPECT_EQ(values[0], kUntouched);
}

TEST_F(MotionExportsTest, VelocitiesOverrideAndConfigurationAnswers) {
  EnterCncMode(3, 4, 2);
  // On the wire: processing, teach-in, rapid, then the current velocities.
  ScriptAnswer(Wire().I64(1).I64(2).I64(3).I64(4).I64(5).I64(6).I64(7000000000LL).I64(8));
  LinkoraVelocityRecord velocity{};
  ASSERT_EQ(mctl_GetVelocity(&velocity, sizeof velocity), LINKORA_SUCCESS);
  const LinkoraVelocityRecord expected = {1, 2, 5, 6, 3, 4, 2147483647, 8};
  EXPECT_EQ(std::memcmp(&velocity, &expected, sizeof velocity), 0);
  ScriptResults("19 C9130031\n");
  EXPECT_EQ(mctl_GetVelocity(&velocity, sizeof velocity), 0xC9130031u);
  EXPECT_EQ(std::memcmp(&velocity, &expected, sizeof velocity), 0) << "kept on a failure";

  ScriptAnswer(Wire().U32(50));
  std::uint32_t percent = 0;
  ASSERT_EQ(mctl_GetOverride(&percent), LINKORA_SUCCESS);
  EXPECT_EQ(percent, 50u);

  // Flag words (bits 0, 1, 2, 17, 7, 12, 18, 28), the entry count and
  // 32-byte node blocks: present, missing.
  Wire configuration;
  configuration.U32(1).U32(0).U32(7).U32(1).U32(0).U32(1).U32(0).U32(1).U32(2).U32(0);
  configuration.U32(1).U32(0).U32(9).U32(0).I64(11).I64(-12);
  configuration.U32(1).U32(1).U32(0).U32(0).I64(3000000000LL).I64(0);
  ScriptAnswer(configuration);
  LinkoraConfigurationRecord record;
  std::memset(&record, 0xA5, sizeof record);
  ASSERT_EQ(mctl_GetConfiguration(&record, sizeof record), LINKORA_SUCCESS);
  EXPECT_EQ(record.Flags, (1u << 0) | (1u << 2) | (1u << 17) | (1u << 12) | (1u << 28));
  EXPECT_EQ(record.EntryCount, 2u);
  const std::int32_t entries[2][5] = {{1, 1, 9, 11, -12}, {0, 1, 0, 2147483647, 0}};
  EXPECT_EQ(std::memcmp(record.Entry, entries, sizeof entries), 0);
  for (int i = 2; i < 9; ++i) {
    for (int w = 0; w < 5; ++w) EXPECT_EQ(record.Entry[i][w], 0) << i << "/" << w;
  }

  // A count beyond the nine entries fills the nine.
  Wire crowded;
  crowded.U32(0).U32(0).U32(0).U32(0).U32(0).U32(0).U32(0).U32(0).U32(200).U32(0);
  for (int i = 0; i < 10; ++i) crowded.U32(1).U32(1).U32(i).U32(0).I64(i).I64(i);
  ScriptAnswer(crowded);
  ASSERT_EQ(mctl_GetConfiguration(&record, sizeof record), LINKORA_SUCCESS);
  EXPECT_EQ(record.EntryCount, 9u);
  EXPECT_EQ(record.Entry[8][2], 8);

  ScriptResults("46 C913000A\n");
  std::memset(&record, 0xA5, sizeof record);
  EXPECT_EQ(mctl_GetConfiguration(&record, sizeof record), 0xC913000Au);
  const LinkoraConfigurationRecord zeros{};
  EXPECT_EQ(std::memcmp(&record, &zeros, sizeof record), 0) << "zeroed on a failure";
}

TEST_F(MotionExportsTest, CountsFromTheBlockStayWithinTheConfiguredCoordinates) {
  EnterCncMode(3, 4, 2);
  ChannelMapping block(common::ChannelObject::CommunicationMapping);
  const struct {
    std::uint32_t configured;
    std::uint32_t current;
    std::uint32_t axes;
    std::size_t coordinatesUsed;
    std::size_t axesUsed;
  } cases[] = {
      {3, 3, 4, 3, 4},
      {3, 2, 4, 2, 4},         // an interpolated axis became a handling axis
      {3, 200, 4, 3, 4},       // never beyond the configured coordinates
      {200, 200, 1000, 8, 8},  // nor beyond the controller's eight
  };
  const auto setCounts = [&](const auto& c) {
    block.SetWord(kConfiguredCoordinateCountAt, c.configured);
    block.SetWord(kCoordinateCountAt, c.current);
    block.SetWord(kAxisCountAt, c.axes);
  };
  // Sent: only the counted coordinates.
  for (const auto& c : cases) {
    setCounts(c);
    ForgetLogged();
    std::array<std::int32_t, 9> target;
    target.fill(1);
    ASSERT_EQ(mctl_MoveRel(target.data(), 36), LINKORA_SUCCESS);
    const auto logged = Logged();
    ASSERT_EQ(logged.size(), 1u);
    Wire expected;
    expected.U32(0).U32(0);
    for (std::size_t i = 0; i < c.coordinatesUsed; ++i) expected.I64(1);
    std::array<std::uint8_t, kLoggedPayload> payload{};
    std::copy(expected.bytes().begin(), expected.bytes().end(), payload.begin());
    EXPECT_EQ(logged[0].payload, payload) << c.current;
  }
  // Filled: only the counted slots.
  ScriptAnswer(Wire().I64(1).I64(2).I64(3).I64(4).I64(5).I64(6).I64(7).I64(8).I64(9));
  for (const auto& c : cases) {
    setCounts(c);
    std::array<std::int32_t, 9> values{};
    ASSERT_EQ(mctl_GetPosition(values.data(), 36), LINKORA_SUCCESS);
    EXPECT_EQ(values[c.coordinatesUsed - 1], static_cast<std::int32_t>(c.coordinatesUsed));
    EXPECT_EQ(values[c.coordinatesUsed], 0) << c.current;
    values.fill(0);
    ASSERT_EQ(mctl_GetAxisPosition(values.data(), 36), LINKORA_SUCCESS);
    EXPECT_EQ(values[c.axesUsed - 1], static_cast<std::int32_t>(c.axesUsed));
    EXPECT_EQ(values[c.axesUsed], 0) << c.axes;
  }
}

// Every export that talks to the kernel, with a well-formed record.
std::vector<std::pair<const char*, std::function<LinkoraStatus()>>> EveryExport() {
  static std::array<std::int32_t, 9> positions{};
  static LinkoraCircleRecord circle{};
  static LinkoraHelixRecord helix{};
  static LinkoraVelocityRecord velocity{};
  static LinkoraConfigurationRecord configuration{};
  static std::uint32_t percent = 0;
  std::int32_t* p = positions.data();
  return {
      {"GetConfiguration", [] { return mctl_GetConfiguration(&configuration, 188); }},
      {"SetVelocity", [] { return mctl_SetVelocity(&velocity, 32); }},
      {"GetVelocity", [] { return mctl_GetVelocity(&velocity, 32); }},
      {"SetOverride", [] { return mctl_SetOverride(100); }},
      {"GetOverride", [] { return mctl_GetOverride(&percent); }},
      {"GetPosition", [p] { return mctl_GetPosition(p, 36); }},
      {"GetDestinationPos", [p] { return mctl_GetDestinationPos(p, 36); }},
      {"GetDesiredPos", [p] { return mctl_GetDesiredPos(p, 36); }},
      {"GetAxisPosition", [p] { return mctl_GetAxisPosition(p, 36); }},
      {"MoveRel", [p] { return mctl_MoveRel(p, 36); }},
      {"MoveAbs", [p] { return mctl_MoveAbs(p, 36); }},
      {"FastRel", [p] { return mctl_FastRel(p, 36); }},
      {"FastAbs", [p] { return mctl_FastAbs(p, 36); }},
      {"CircleRel", [] { return mctl_CircleRel(&circle, 52); }},
      {"CircleAbs", [] { return mctl_CircleAbs(&circle, 52); }},
      {"HelixRel", [] { return mctl_HelixRel(&helix, 56); }},
      {"HelixAbs", [] { return mctl_HelixAbs(&helix, 56); }},
      {"SetActPosWNP", [] { return mctl_SetActPosWNP(); }},
      {"SetWNPAbs", [p] { return mctl_SetWNPAbs(p, 36); }},
      {"SetWNPRel", [p] { return mctl_SetWNPRel(p, 36); }},
      {"GetWNP", [p] { return mctl_GetWNP(p, 36); }},
      {"ClearWNP", [] { return mctl_ClearWNP(); }},
      {"SetMotionState", [] { return mctl_SetMotionState(1); }},
      {"SetPowerState", [] { return mctl_SetPowerState(1); }},
      {"SetTeachMode", [] { return mctl_SetTeachMode(0); }},
      {"SetHwlsMoveOutMode", [] { return mctl_SetHwlsMoveOutMode(0); }},
      {"HwlsMoveOut", [] { return mctl_HwlsMoveOut(1); }},
      {"LeaveHWLS", [] { return mctl_LeaveHWLS(1, 0); }},
  };
}

TEST_F(MotionExportsTest, WithoutCncModeNothingIsSent) {
  for (const auto& [name, call] : EveryExport()) EXPECT_EQ(call(), 0xC914000Bu) << name;
  EXPECT_TRUE(Logged().empty());
}

TEST_F(MotionExportsTest, WrongSizesAndMissingRecordsAreRefusedFirst) {
  EnterCncMode(3, 4, 2);
  std::array<std::int32_t, 9> p{};
  LinkoraCircleRecord circle{};
  LinkoraHelixRecord helix{};
  LinkoraVelocityRecord velocity{};
  LinkoraConfigurationRecord configuration{};
  const struct {
    const char* name;
    std::function<LinkoraStatus()> call;
    LinkoraStatus result;
  } cases[] = {
      {"GetConfiguration size", [&] { return mctl_GetConfiguration(&configuration, 184); },
       0xC914000E},
      {"GetConfiguration null", [] { return mctl_GetConfiguration(nullptr, 188); }, 0xC9140006},
      {"SetVelocity size", [&] { return mctl_SetVelocity(&velocity, 24); }, 0xC914000E},
      {"SetVelocity null", [] { return mctl_SetVelocity(nullptr, 32); }, 0xC9140006},
      {"GetVelocity size", [&] { return mctl_GetVelocity(&velocity, 33); }, 0xC914000E},
      {"GetVelocity null", [] { return mctl_GetVelocity(nullptr, 32); }, 0xC9140006},
      {"GetOverride null", [] { return mctl_GetOverride(nullptr); }, 0xC9140006},
      {"GetPosition size", [&] { return mctl_GetPosition(p.data(), 32); }, 0xC914000E},
      {"GetPosition null", [] { return mctl_GetPosition(nullptr, 36); }, 0xC9140006},
      {"GetDestinationPos size", [&] { return mctl_GetDestinationPos(p.data(), 0); }, 0xC914000E},
      {"GetDesiredPos null", [] { return mctl_GetDesiredPos(nullptr, 36); }, 0xC9140006},
      {"GetAxisPosition null", [] { return mctl_GetAxisPosition(nullptr, 36); }, 0xC9140006},
      {"MoveRel size", [&] { return mctl_MoveRel(p.data(), 40); }, 0xC914000E},
      {"MoveAbs null", [] { return mctl_MoveAbs(nullptr, 36); }, 0xC9140006},
      {"FastRel size", [&] { return mctl_FastRel(p.data(), 35); }, 0xC914000E},
      {"FastAbs null", [] { return mctl_FastAbs(nullptr, 36); }, 0xC9140006},
      {"CircleRel size", [&] { return mctl_CircleRel(&circle, 56); }, 0xC914000E},
      {"CircleAbs null", [] { return mctl_CircleAbs(nullptr, 52); }, 0xC9140006},
      {"HelixRel size", [&] { return mctl_HelixRel(&helix, 52); }, 0xC914000E},
      {"HelixAbs null", [] { return mctl_HelixAbs(nullptr, 56); }, 0xC9140006},
      {"SetWNPAbs size", [&] { return mctl_SetWNPAbs(p.data(), 9); }, 0xC914000E},
      {"SetWNPRel null", [] { return mctl_SetWNPRel(nullptr, 36); }, 0xC9140006},
      {"GetWNP size", [&] { return mctl_GetWNP(p.data(), 37); }, 0xC914000E},
      {"GetWNP null", [] { return mctl_GetWNP(nullptr, 36); }, 0xC9140006},
  };
  for (const auto& c : cases) EXPECT_EQ(c.call(), c.result) << c.name;
  EXPECT_TRUE(Logged().empty());
}

TEST_F(MotionExportsTest, WithTheDllPathBufferOnPathMovesAreStoredAndOthersRefused) {
  EnterCncMode(3, 4, 2);
  ChannelMapping buffer(common::ChannelObject::PathBufferMapping);
  constexpr std::size_t kEnabledAt = 4, kCountAt = 12, kRecordsAt = 16, kRecordSize = 272;
  buffer.SetWord(kEnabledAt, 1);
  buffer.SetWord(kCountAt, 0);

  // Refused even with room, and nothing sent.
  const char* refused[] = {
      "FastRel",       "FastAbs",      "SetActPosWNP",       "SetWNPAbs",   "SetWNPRel", "ClearWNP",
      "SetPowerState", "SetTeachMode", "SetHwlsMoveOutMode", "HwlsMoveOut", "LeaveHWLS"};
  const char* sent[] = {"SetVelocity", "GetVelocity", "SetOverride",    "GetOverride",
                        "GetPosition", "GetWNP",      "SetMotionState", "GetConfiguration"};
  const auto exports = EveryExport();
  const auto find = [&](std::string_view name) {
    return std::find_if(exports.begin(), exports.end(),
                        [&](const auto& e) { return name == e.first; })
        ->second;
  };
  for (const char* name : refused) EXPECT_EQ(find(name)(), 0xC914000Du) << name;
  EXPECT_TRUE(Logged().empty());
  EXPECT_EQ(buffer.Word(kCountAt), 0u);
  for (const char* name : sent) EXPECT_EQ(find(name)(), LINKORA_SUCCESS) << name;
  EXPECT_EQ(Logged().size(), std::size(sent));
  ForgetLogged();

  // Stored as they would have been sent, until the buffer is full.
  const auto circle = Circle(3, 1);
  const auto helix = Helix(0, 1);
  EXPECT_EQ(mctl_MoveAbs(kTarget.data(), 36), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_CircleRel(&circle, sizeof circle), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_HelixAbs(&helix, sizeof helix), 0xC914000Du);
  EXPECT_EQ(mctl_MoveRel(kTarget.data(), 36), 0xC914000Du);
  EXPECT_EQ(buffer.Word(kCountAt), 2u);
  EXPECT_TRUE(Logged().empty()) << "nothing reaches the kernel";

  const struct {
    std::uint32_t code;
    Wire payload;
  } stored[] = {{36, LineWire(1, 0)}, {37, CircleWire(0, 0, 2, 0)}};
  for (std::size_t i = 0; i < std::size(stored); ++i) {
    const std::size_t at = kRecordsAt + kRecordSize * i;
    EXPECT_EQ(buffer.Word(at), stored[i].code) << i;
    std::vector<std::uint8_t> expected(kRecordSize - 8, 0);
    std::copy(stored[i].payload.bytes().begin(), stored[i].payload.bytes().end(), expected.begin());
    EXPECT_EQ(buffer.Bytes(at + 8, kRecordSize - 8), expected) << i;
  }

  // A capacity written beyond the mapping never lets a record past it.
  buffer.SetWord(8, 1000000);
  buffer.SetWord(kCountAt, 15);
  EXPECT_EQ(mctl_MoveAbs(kTarget.data(), 36), 0xC914000Du);
  EXPECT_EQ(buffer.Word(kCountAt), 15u);
  buffer.SetWord(kEnabledAt, 0);
  buffer.SetWord(kCountAt, 0);
}

TEST_F(MotionExportsTest, LeavingTheLimitSwitchesSwitchesTheModeOffWhateverHappened) {
  EnterCncMode(3, 4, 2);
  const struct {
    const char* script;
    LinkoraStatus result;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sent;  // code, word
  } cases[] = {
      {"", LINKORA_SUCCESS, {{31, 1}, {32, 0x81}, {31, 0}}},
      {"31 C913001C\n", 0xC913001C, {{31, 1}}},
      {"32 C913000D\n", 0xC913000D, {{31, 1}, {32, 0x81}, {31, 0}}},
      {"32 C913000D\n31 09130000\n31 C9130024\n", 0xC9130024, {{31, 1}, {32, 0x81}, {31, 0}}},
  };
  for (const auto& c : cases) {
    ForgetLogged();
    ScriptResults(c.script);
    EXPECT_EQ(mctl_LeaveHWLS(0x81, 0xFFFF), c.result) << c.script;
    const auto logged = Logged();
    ASSERT_EQ(logged.size(), c.sent.size()) << c.script;
    for (std::size_t i = 0; i < logged.size(); ++i) {
      std::uint32_t word = 0;
      std::memcpy(&word, logged[i].payload.data(), 4);
      EXPECT_EQ(std::make_pair(logged[i].code, word), c.sent[i]) << c.script << " #" << i;
    }
  }
  ForgetLogged();
  ScriptResults("");
  EXPECT_EQ(mctl_SetHwlsMoveOutMode(4), LINKORA_SUCCESS);
  ASSERT_EQ(Logged().size(), 1u);
  EXPECT_EQ(Logged()[0].code, 31u);
  EXPECT_EQ(Logged()[0].payload[0], 1u);
}

}  // namespace
}  // namespace linkora_test
