// The handling-axis exports against the scripted kernel: the payloads byte
// for byte (keep markers widened, the motion states mapped), the answers
// as the caller gets them, the list of external axes bounded and its
// names terminated, and bad pointers and sizes refused before anything is
// sent.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "interface/tests/motion_log_fixture.h"

namespace linkora_test {
namespace {

class HandlingExportsTest : public MotionLogTest {};

constexpr std::int64_t kKeepWire = 0x3FFFFFFFFFFFFFFF;

std::vector<ExpectedRequest> PayloadCases() {
  static std::array<std::int32_t, 6> parameters{};
  static const std::array<std::int32_t, 4> move{5, 1000, LINKORA_NO_MOVE, -7};
  static const std::array<std::int32_t, 2> turn{LINKORA_NO_MOVE, -250};
  static LinkoraExtHandlingAxisList list{};
  return {
      {"SetHandlingMode on", [] { return mctl_SetHandlingMode(5); }, 64, Wire().U32(1)},
      {"SetHandlingMode off", [] { return mctl_SetHandlingMode(0); }, 64, Wire().U32(0)},
      {"SetHandlingMoveMode position", [] { return mctl_SetHandlingMoveMode(2, 1); }, 65,
       Wire().U32(2).U32(1)},
      {"SetHandlingMoveMode velocity", [] { return mctl_SetHandlingMoveMode(2, 3); }, 65,
       Wire().U32(2).U32(0)},
      {"GetHandlingAxisMovePar",
       [] { return mctl_GetHandlingAxisMovePar(3, parameters.data(), 24); }, 66,
       Wire().U32(3).Zeros(44)},
      {"HandlingAxisMove", [] { return mctl_HandlingAxisMove(2, move.data(), 16); }, 67,
       Wire().U32(2).U32(1).I64(1000).I64(kKeepWire).I64(-7)},
      {"HandlingAxisTurn", [] { return mctl_HandlingAxisTurn(1, turn.data(), 8); }, 68,
       Wire().U32(1).Zeros(4).I64(kKeepWire).I64(-250)},
      {"SetHandlingAxisMotionState 0", [] { return mctl_SetHandlingAxisMotionState(6, 0); }, 69,
       Wire().U32(6).U32(0)},
      {"SetHandlingAxisMotionState 1", [] { return mctl_SetHandlingAxisMotionState(6, 1); }, 69,
       Wire().U32(6).U32(1)},
      {"SetHandlingAxisMotionState 2", [] { return mctl_SetHandlingAxisMotionState(6, 2); }, 69,
       Wire().U32(6).U32(3)},
      {"SetHandlingAxisMotionState 7", [] { return mctl_SetHandlingAxisMotionState(4, 7); }, 69,
       Wire().U32(4).U32(3)},
      {"GetExtHandlingAxisPar", [] { return mctl_GetExtHandlingAxisPar(&list, 244); }, 100, Wire()},
  };
}

TEST_F(HandlingExportsTest, PayloadsAreWrittenAsTheKernelTakesThem) {
  EnterCncMode(3, 4, 2);
  ExpectRequests(PayloadCases());
}

TEST_F(HandlingExportsTest, WithoutCncModeNothingIsSent) {
  for (const auto& c : PayloadCases()) EXPECT_EQ(c.call(), 0xC914000Bu) << c.name;
}

TEST_F(HandlingExportsTest, NullPointersAndWrongSizesAreRefusedBeforeAnyRequest) {
  EnterCncMode(3, 4, 2);
  ForgetLogged();
  std::array<std::int32_t, 6> words{};
  LinkoraExtHandlingAxisList list{};
  constexpr LinkoraStatus kNull = 0xC9140006;
  constexpr LinkoraStatus kSize = 0xC914000E;
  const std::vector<std::tuple<const char*, std::function<LinkoraStatus()>, LinkoraStatus>> cases =
      {
          {"move par null", [] { return mctl_GetHandlingAxisMovePar(0, nullptr, 24); }, kNull},
          {"move par size", [&] { return mctl_GetHandlingAxisMovePar(0, words.data(), 20); },
           kSize},
          {"move null", [] { return mctl_HandlingAxisMove(0, nullptr, 16); }, kNull},
          {"move size", [&] { return mctl_HandlingAxisMove(0, words.data(), 24); }, kSize},
          {"turn null", [] { return mctl_HandlingAxisTurn(0, nullptr, 8); }, kNull},
          {"turn size", [&] { return mctl_HandlingAxisTurn(0, words.data(), 16); }, kSize},
          {"list null", [] { return mctl_GetExtHandlingAxisPar(nullptr, 244); }, kNull},
          {"list size", [&] { return mctl_GetExtHandlingAxisPar(&list, 240); }, kSize},
      };
  for (const auto& [name, call, result] : cases) EXPECT_EQ(call(), result) << name;
  EXPECT_TRUE(Logged().empty());
}

TEST_F(HandlingExportsTest, MoveParametersReachTheCallerOnlyAfterSuccess) {
  EnterCncMode(3, 4, 2);
  ScriptAnswer(Wire().U32(1).U32(7).I64(500).I64(-2000).I64(-3).I64(1234567).I64(-9));
  std::array<std::int32_t, 6> parameters{};
  ASSERT_EQ(mctl_GetHandlingAxisMovePar(1, parameters.data(), 24), LINKORA_SUCCESS);
  const std::array<std::int32_t, 6> expected{1, 500, -2000, -3, 1234567, -9};
  EXPECT_EQ(parameters, expected) << "the flag as 1, then the five values";

  ScriptResults("66 C9130027\n");
  parameters.fill(0x5A);
  EXPECT_EQ(mctl_GetHandlingAxisMovePar(1, parameters.data(), 24), 0xC9130027u);
  for (const std::int32_t word : parameters) EXPECT_EQ(word, 0x5A);
}

// One 40-byte entry of the answer: three words and the name's bytes.
void PutEntry(Wire& answer, std::uint32_t id, const std::string& name) {
  answer.U32(id).U32(1).U32(id * 1000);
  for (std::size_t i = 0; i < 28; ++i) {
    answer.U8(i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0);
  }
}

TEST_F(HandlingExportsTest, TheExternalAxisListHoldsAtMostSixEntriesWithTerminatedNames) {
  EnterCncMode(3, 4, 2);
  // The count claims more than six entries and the last name fills its
  // whole field without a terminator.
  Wire answer = Wire().U32(9);
  for (std::uint32_t k = 0; k < 5; ++k) PutEntry(answer, 10 + k, "Amp " + std::to_string(k));
  PutEntry(answer, 15, std::string(28, 'X'));
  PutEntry(answer, 16, "beyond the list");
  ScriptAnswer(answer);

  LinkoraExtHandlingAxisList list;
  std::memset(&list, 0xA5, sizeof list);
  ASSERT_EQ(mctl_GetExtHandlingAxisPar(&list, 244), LINKORA_SUCCESS);
  EXPECT_EQ(list.Count, 9u);
  for (std::uint32_t k = 0; k < 5; ++k) {
    EXPECT_EQ(list.Axes[k].NodeId, 10 + k);
    EXPECT_EQ(list.Axes[k].DeviceTypeFlag, 1u);
    EXPECT_EQ(list.Axes[k].MessageTimeout, (10 + k) * 1000);
    EXPECT_STREQ(list.Axes[k].AmplifyName, ("Amp " + std::to_string(k)).c_str());
    for (std::size_t i = std::strlen(list.Axes[k].AmplifyName); i < 28; ++i) {
      EXPECT_EQ(list.Axes[k].AmplifyName[i], 0) << "zeroed after the name";
    }
  }
  EXPECT_EQ(std::string(list.Axes[5].AmplifyName), std::string(27, 'X'));

  ScriptResults("100 C913000A\n");
  std::memset(&list, 0xA5, sizeof list);
  EXPECT_EQ(mctl_GetExtHandlingAxisPar(&list, 244), 0xC913000Au);
  EXPECT_EQ(list.Count, 0xA5A5A5A5u) << "untouched on the kernel's error";
}

TEST_F(HandlingExportsTest, WithTheDllPathBufferOnOnlyTheHandlingModeIsRefused) {
  EnterCncMode(3, 4, 2);
  ChannelMapping buffer(common::ChannelObject::PathBufferMapping);
  constexpr std::size_t kEnabledAt = 4;
  buffer.SetWord(kEnabledAt, 1);
  for (const auto& c : PayloadCases()) {
    const bool refuses = c.code == 64;
    ForgetLogged();
    EXPECT_EQ(c.call(), refuses ? 0xC914000Du : LINKORA_SUCCESS) << c.name;
    EXPECT_EQ(Logged().size(), refuses ? 0u : 1u) << c.name;
  }
}

}  // namespace
}  // namespace linkora_test
