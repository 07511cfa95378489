// The A/D and distance regulator exports against the scripted kernel: the
// payloads byte for byte, the answers as the caller gets them, and the
// null pointers refused before anything is sent.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "interface/tests/motion_log_fixture.h"

namespace linkora_test {
namespace {

class AnalogueExportsTest : public MotionLogTest {};

Wire OneWord(std::uint32_t value) { return Wire().U32(value); }
Wire TwoWords(std::uint32_t first, std::uint32_t second) { return Wire().U32(first).U32(second); }

struct PayloadCase {
  const char* name;
  std::function<LinkoraStatus()> call;
  std::uint32_t code;
  Wire payload;
};

std::vector<PayloadCase> PayloadCases() {
  static std::uint32_t word = 0;
  static std::int32_t value = 0;
  static std::array<std::int32_t, 12> parameters{};
  return {
      {"StartADConversion on", [] { return mctl_StartADConversion(2, 9); }, 75, TwoWords(2, 1)},
      {"StartADConversion off", [] { return mctl_StartADConversion(2, 0); }, 75, TwoWords(2, 0)},
      {"GetADValue", [] { return mctl_GetADValue(1, &word, &word, &value); }, 76, OneWord(1)},
      // The third argument first.
      {"SetADtoDistanceFactor", [] { return mctl_SetADtoDistanceFactor(1, 7, 0x10003); }, 77,
       Wire().U32(1).U16(3).U16(7)},
      {"SetDistanceRegulatorArea",
       [] {
         return mctl_SetDistanceRegulatorArea(0, 0xFFFFFC00, 0x10400, 2, 3, 0x12345, 0xFFFFFFFF);
       },
       78,
       Wire().U32(0).U16(0xFC00).U16(0x0400).U16(2).U16(3).U16(0x2345).Zeros(2).U32(0xFFFFFFFF)},
      {"StartDistanceRegulator on", [] { return mctl_StartDistanceRegulator(1, 5); }, 79,
       TwoWords(1, 1)},
      {"StartDistanceRegulator off", [] { return mctl_StartDistanceRegulator(1, 0); }, 79,
       TwoWords(1, 0)},
      {"GetDistanceRegulatorStatus", [] { return mctl_GetDistanceRegulatorStatus(3, &word); }, 80,
       OneWord(3)},
      {"GetDistanceRegulatorPar",
       [] { return mctl_GetDistanceRegulatorPar(4, parameters.data(), 48); }, 81, OneWord(4)},
  };
}

TEST_F(AnalogueExportsTest, PayloadsAreWrittenAsTheKernelTakesThem) {
  EnterCncMode(3, 4, 2);
  for (const auto& c : PayloadCases()) {
    ForgetLogged();
    ASSERT_EQ(c.call(), LINKORA_SUCCESS) << c.name;
    const auto logged = Logged();
    ASSERT_EQ(logged.size(), 1u) << c.name;
    EXPECT_EQ(logged[0].code, c.code) << c.name;
    EXPECT_EQ(logged[0].payload, c.payload.Logged()) << c.name;
  }
}

TEST_F(AnalogueExportsTest, WithoutCncModeNothingIsSent) {
  for (const auto& c : PayloadCases()) {
    EXPECT_EQ(c.call(), 0xC914000Bu) << c.name;
  }
}

TEST_F(AnalogueExportsTest, NullPointersAndAWrongSizeAreRefusedBeforeAnyRequest) {
  EnterCncMode(3, 4, 2);
  ForgetLogged();
  std::uint32_t word = 0;
  std::int32_t value = 0;
  std::array<std::int32_t, 12> parameters{};
  const std::vector<std::pair<const char*, std::function<LinkoraStatus()>>> calls = {
      {"valid", [&] { return mctl_GetADValue(0, nullptr, &word, &value); }},
      {"ready", [&] { return mctl_GetADValue(0, &word, nullptr, &value); }},
      {"value", [&] { return mctl_GetADValue(0, &word, &word, nullptr); }},
      {"status", [&] { return mctl_GetDistanceRegulatorStatus(0, nullptr); }},
      {"parameters", [&] { return mctl_GetDistanceRegulatorPar(0, nullptr, 48); }},
  };
  for (const auto& [name, call] : calls) EXPECT_EQ(call(), 0xC9140006u) << name;
  EXPECT_EQ(mctl_GetDistanceRegulatorPar(0, parameters.data(), 44), 0xC914000Eu);
  EXPECT_TRUE(Logged().empty());
}

// valid, ready and the value as the caller passed them: 0xA5 each.
struct ValueCase {
  const char* name;
  Wire answer;
  std::uint32_t valid;
  std::uint32_t ready;
  std::int32_t value;
};

TEST_F(AnalogueExportsTest, TheValueIsWrittenOnlyAsFarAsItIsValidAndReady) {
  EnterCncMode(3, 4, 2);
  constexpr std::uint32_t kUntouched = 0xA5A5A5A5;
  constexpr auto kUntouchedValue = static_cast<std::int32_t>(kUntouched);
  const ValueCase cases[] = {
      {"not valid", Wire().U32(1).U32(0).U32(1).U16(7), 0, kUntouched, kUntouchedValue},
      {"not ready", Wire().U32(1).U32(2).U32(0).U16(7), 1, 0, kUntouchedValue},
      {"positive", Wire().U32(1).U32(2).U32(3).U16(0x7FFF), 1, 1, 32767},
      {"sign extended", Wire().U32(1).U32(1).U32(1).U16(0xFF85), 1, 1, -123},
  };
  for (const auto& c : cases) {
    ScriptAnswer(c.answer);
    std::uint32_t valid = kUntouched;
    std::uint32_t ready = kUntouched;
    std::int32_t value = kUntouchedValue;
    ASSERT_EQ(mctl_GetADValue(1, &valid, &ready, &value), LINKORA_SUCCESS) << c.name;
    EXPECT_EQ(valid, c.valid) << c.name;
    EXPECT_EQ(ready, c.ready) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
  ScriptResults("76 C9130034\n");
  std::uint32_t valid = kUntouched;
  std::uint32_t ready = kUntouched;
  std::int32_t value = kUntouchedValue;
  EXPECT_EQ(mctl_GetADValue(1, &valid, &ready, &value), 0xC9130034u);
  EXPECT_EQ(ready, kUntouched);
  EXPECT_EQ(value, kUntouchedValue);
  EXPECT_EQ(valid, kUntouched) << "kept on the kernel's error";
}

TEST_F(AnalogueExportsTest, StatusAndParametersReachTheCallerOnlyAfterSuccess) {
  EnterCncMode(3, 4, 2);
  ScriptAnswer(Wire().U32(0).U32(7));
  std::uint32_t inRange = 0xA5;
  ASSERT_EQ(mctl_GetDistanceRegulatorStatus(0, &inRange), LINKORA_SUCCESS);
  EXPECT_EQ(inRange, 1u) << "any non-zero answer";

  Wire answer = OneWord(0);
  for (std::uint16_t i = 0; i < 10; ++i)
    answer.U16(i == 3 ? 0xFC00 : static_cast<std::uint16_t>(100 + i));
  answer.U32(2080704).U32(0xFFFFFFFF);
  ScriptAnswer(answer);
  std::array<std::int32_t, 12> parameters{};
  parameters.fill(0x5A);
  ASSERT_EQ(mctl_GetDistanceRegulatorPar(0, parameters.data(), 48), LINKORA_SUCCESS);
  const std::array<std::int32_t, 12> expected = {100, 101, 102, -1024, 104,     105,
                                                 106, 107, 108, 109,   2080704, -1};
  EXPECT_EQ(parameters, expected);

  ScriptResults("80 C9130027\n81 C9130033\n");
  inRange = 0xA5;
  EXPECT_EQ(mctl_GetDistanceRegulatorStatus(0, &inRange), 0xC9130027u);
  EXPECT_EQ(inRange, 0xA5u);
  parameters.fill(0x5A);
  EXPECT_EQ(mctl_GetDistanceRegulatorPar(0, parameters.data(), 48), 0xC9130033u);
  for (const std::int32_t word : parameters) EXPECT_EQ(word, 0x5A);
}

}  // namespace
}  // namespace linkora_test
