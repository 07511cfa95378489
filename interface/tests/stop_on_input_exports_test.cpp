// The stop-on-input exports against the scripted kernel: the parameter
// record of each mode byte for byte, the answers as the caller gets them,
// and the refusals before anything is sent.
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

constexpr std::uint32_t kCallParameterInvalid = 0xC9140006;
constexpr std::uint32_t kSizeMismatch = 0xC914000E;

// Little-endian bytes at fixed offsets, written independently of the library.
class Bytes {
 public:
  Bytes& At(std::size_t offset, std::uint64_t value, std::size_t length) {
    if (bytes_.size() < offset + length) bytes_.resize(offset + length);
    for (std::size_t i = 0; i < length; ++i) {
      bytes_[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return *this;
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

class StopOnInputExportsTest : public MotionLogTest {
 protected:
  void ScriptAnswer(const Bytes& answer) {
    std::ofstream(Path("answer"), std::ios::binary)
        .write(reinterpret_cast<const char*>(answer.bytes().data()),
               static_cast<std::streamsize>(answer.bytes().size()));
  }
  // The request's code and its first `length` payload bytes (the block
  // beyond them still holds the last scripted answer).
  void ExpectSent(const std::string& name, std::uint32_t code, const Bytes& payload,
                  std::size_t length = kLoggedPayload) {
    const auto logged = Logged();
    ASSERT_EQ(logged.size(), 1u) << name;
    EXPECT_EQ(logged[0].code, code) << name;
    std::vector<std::uint8_t> expected(length);
    std::copy(payload.bytes().begin(), payload.bytes().end(), expected.begin());
    EXPECT_EQ(
        std::vector<std::uint8_t>(logged[0].payload.begin(), logged[0].payload.begin() + length),
        expected)
        << name;
  }
};

// Every word set, so that only the mode's own group may reach the kernel.
LinkoraStopOnInputRecord FullRecord(std::uint32_t mode) {
  LinkoraStopOnInputRecord r{};
  r.Mode = mode;
  r.ModuleNodeId = 0x121;
  r.ModuleCobId = 0x10294;
  r.ModuleValid = 1;
  r.ModuleInputMask = 0x1F0;
  r.ModuleInputLevels = 0x110;
  r.ModuleKeepStopValue = 0;
  r.DriveAxis = 2;
  r.DriveSlave = -1;
  r.DriveOption = 0x100;
  r.DriveInputMask = 0x30;
  r.DriveInputLevels = 0x20;
  r.DriveKeepStopValue = 5;
  r.MaskAxes = 0x8000000D;
  r.MaskOption = 0;
  r.MaskInputMask = 0x0F;
  r.MaskInputLevels = 0x03;
  r.MaskInputFlag = 1;
  r.MaskKeepStopValue = 0;
  return r;
}

TEST_F(StopOnInputExportsTest, ParameterRecordOfEachModeByteForByte) {
  EnterCncMode(3, 3, 2);
  struct Case {
    const char* name;
    LinkoraStopOnInputRecord record;
    Bytes payload;
  };
  auto flagTwo = FullRecord(3);
  flagTwo.MaskInputFlag = 2;  // only 1 switches it on
  const Case cases[] = {
      {"module", FullRecord(1),
       Bytes()
           .At(0, 1, 1)
           .At(1, 0xF0, 1)
           .At(2, 0x10, 1)
           .At(4, 1, 4)
           .At(28, 0x21, 1)
           .At(30, 0x0294, 2)
           .At(32, 1, 4)},
      {"one drive", FullRecord(2),
       Bytes()
           .At(0, 2, 1)
           .At(1, 0x30, 1)
           .At(2, 0x20, 1)
           .At(4, 0, 4)
           .At(12, 2, 4)
           .At(16, 0xFFFFFFFF, 4)
           .At(20, 0, 4)},
      {"axis mask", FullRecord(3),
       Bytes()
           .At(0, 3, 1)
           .At(1, 0x0F, 1)
           .At(2, 0x03, 1)
           .At(4, 1, 4)
           .At(8, 0x8000000D, 4)
           .At(24, 1, 4)},
      {"axis mask, flag not 1", flagTwo,
       Bytes()
           .At(0, 3, 1)
           .At(1, 0x0F, 1)
           .At(2, 0x03, 1)
           .At(4, 1, 4)
           .At(8, 0x8000000D, 4)
           .At(24, 0, 4)},
      {"unknown mode", FullRecord(4), Bytes().At(0, 4, 1).At(35, 0, 1)},
  };
  for (const Case& c : cases) {
    ForgetLogged();
    ASSERT_EQ(mctl_SetStopOnInputModePar(&c.record, sizeof c.record), LINKORA_SUCCESS) << c.name;
    ExpectSent(c.name, 87, c.payload);
  }
}

TEST_F(StopOnInputExportsTest, ParametersReadBackIntoTheModesGroup) {
  EnterCncMode(3, 3, 2);
  struct Case {
    const char* name;
    Bytes answer;
    std::function<void(LinkoraStopOnInputRecord&)> expect;
  };
  const Case cases[] = {
      {"module",
       Bytes()
           .At(0, 1, 1)
           .At(1, 0xF0, 1)
           .At(2, 0x10, 1)
           .At(4, 0, 4)
           .At(28, 0x21, 1)
           .At(30, 0x194, 2)
           .At(32, 1, 4),
       [](LinkoraStopOnInputRecord& r) {
         r.ModuleNodeId = 0x21;
         r.ModuleCobId = 0x194;
         r.ModuleValid = 1;
         r.ModuleInputMask = 0xF0;
         r.ModuleInputLevels = 0x10;
         r.ModuleKeepStopValue = 1;
       }},
      {"one drive on a slave",
       Bytes()
           .At(0, 2, 1)
           .At(4, 1, 4)
           .At(12, 1, 4)
           .At(16, 0, 4)
           .At(28, 9, 1)
           .At(30, 0x389, 2)
           .At(32, 1, 4),
       [](LinkoraStopOnInputRecord& r) {
         r.DriveAxis = 1;
         r.DriveSlave = 0;
       }},
      {"axis mask", Bytes().At(0, 3, 1).At(8, 6, 4).At(12, 1, 4).At(16, 0xFFFFFFFF, 4).At(24, 7, 4),
       [](LinkoraStopOnInputRecord& r) {
         r.MaskAxes = 6;
         r.MaskInputFlag = 1;
         r.MaskKeepStopValue = 1;
       }},
      {"none stored", Bytes().At(0, 0, 1).At(8, 6, 4), [](LinkoraStopOnInputRecord&) {}},
  };
  for (const Case& c : cases) {
    ScriptAnswer(c.answer);
    LinkoraStopOnInputRecord record = FullRecord(2);
    ASSERT_EQ(mctl_GetStopOnInputModePar(&record, sizeof record), LINKORA_SUCCESS) << c.name;
    LinkoraStopOnInputRecord expected{};
    expected.Mode = c.answer.bytes()[0];
    c.expect(expected);
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof record), 0) << c.name;
  }
}

TEST_F(StopOnInputExportsTest, SmallCommandsAndTheirAnswers) {
  EnterCncMode(3, 2, 2);
  // Bytes 1 and 6 answer codes 90 and 93; byte 0 code 91; the first two
  // wire values code 89 (AxisNo 2).
  ScriptAnswer(Bytes().At(0, -5, 8).At(8, 3000000000LL, 8).At(16, 77, 8));
  std::array<std::int32_t, 9> positions;
  positions.fill(0x5A5A5A5A);
  ForgetLogged();
  ASSERT_EQ(mctl_GetStopOnInputModeLatchedPos(positions.data(), LINKORA_POSITION_ARRAY_SIZE),
            LINKORA_SUCCESS);
  ExpectSent("latched", 89, Bytes());
  EXPECT_EQ(positions[0], -5);
  EXPECT_EQ(positions[2], 0x5A5A5A5A) << "beyond AxisNo nothing is written";

  ScriptAnswer(Bytes().At(0, 0xA5, 1).At(1, 1, 1).At(6, 1, 1));
  std::uint32_t value = 9;
  ForgetLogged();
  ASSERT_EQ(mctl_ReadStopOnInputModeBit(0x105, &value), LINKORA_SUCCESS);
  ExpectSent("bit", 90, Bytes().At(0, 5, 1), 1);
  EXPECT_EQ(value, 1u);

  ScriptAnswer(Bytes().At(0, 0xA5, 1));
  ForgetLogged();
  ASSERT_EQ(mctl_ReadStopOnInputModePort(&value), LINKORA_SUCCESS);
  ExpectSent("port", 91, Bytes(), 0);
  EXPECT_EQ(value, 0xA5u);

  ForgetLogged();
  ASSERT_EQ(mctl_RunStopOnInputMode(7), LINKORA_SUCCESS);
  ExpectSent("arm", 92, Bytes().At(0, 1, 4), 4);
  ForgetLogged();
  ASSERT_EQ(mctl_RunStopOnInputMode(0), LINKORA_SUCCESS);
  ExpectSent("disarm", 92, Bytes().At(0, 0, 4), 4);

  ScriptAnswer(Bytes().At(6, 1, 1));
  LinkoraAmplifierInput input{0x01020304, 0x100, 4, 0};
  ForgetLogged();
  ASSERT_EQ(mctl_ReadMainAmplifyInputBit(&input, 0), LINKORA_SUCCESS);
  ExpectSent("amplifier input", 93,
             Bytes().At(0, 0x01020304, 4).At(4, 0, 1).At(5, 4, 1).At(6, 0, 1), 7);
  EXPECT_EQ(input.Bit, 1u);
}

TEST_F(StopOnInputExportsTest, RefusalsBeforeAnyRequest) {
  EnterCncMode(3, 2, 2);
  ForgetLogged();
  const LinkoraStopOnInputRecord record = FullRecord(2);
  LinkoraStopOnInputRecord out{};
  EXPECT_EQ(mctl_SetStopOnInputModePar(&record, 72), kSizeMismatch);
  EXPECT_EQ(mctl_SetStopOnInputModePar(nullptr, sizeof record), kCallParameterInvalid);
  EXPECT_EQ(mctl_GetStopOnInputModePar(&out, 80), kSizeMismatch);
  EXPECT_EQ(mctl_GetStopOnInputModePar(nullptr, sizeof out), kCallParameterInvalid);
  EXPECT_EQ(mctl_GetStopOnInputModeLatchedPos(nullptr, LINKORA_POSITION_ARRAY_SIZE),
            kCallParameterInvalid);
  EXPECT_EQ(mctl_ReadStopOnInputModeBit(1, nullptr), kCallParameterInvalid);
  EXPECT_EQ(mctl_ReadStopOnInputModePort(nullptr), kCallParameterInvalid);
  EXPECT_EQ(mctl_ReadMainAmplifyInputBit(nullptr, 0), kCallParameterInvalid);
  EXPECT_TRUE(Logged().empty());

  // A kernel refusal leaves the caller's record as it was.
  std::ofstream(Path("results")) << "88 C913003A\n";
  out = FullRecord(3);
  EXPECT_EQ(mctl_GetStopOnInputModePar(&out, sizeof out), 0xC913003Au);
  const LinkoraStopOnInputRecord untouched = FullRecord(3);
  EXPECT_EQ(std::memcmp(&out, &untouched, sizeof out), 0);
}

}  // namespace
}  // namespace linkora_test
