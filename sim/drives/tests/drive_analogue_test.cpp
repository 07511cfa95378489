// The drive's A/D converter and distance regulator as the kernel drives
// them: the conversion started and stopped at sub 12 with its reading
// valid meanwhile, the regulator's in-range report, and the reading on the
// transmit PDO the kernel polls.
#include <gtest/gtest.h>

#include <cstdint>

#include "sim/drives/tests/drive_harness.h"

namespace vantor::sim::drives {
namespace {

using drivetest::DriveHarness;

constexpr std::uint16_t kAnalogue = 0x2055;

struct Reading {
  std::uint32_t value;
  std::uint32_t valid;
  std::uint32_t inRange;
};

Reading Read(DriveHarness& h) {
  return {h.Upload(kAnalogue, 4).value_or(0xDEAD), h.Upload(kAnalogue, 13).value_or(0xDEAD),
          h.Upload(kAnalogue, 21).value_or(0xDEAD)};
}

TEST(AnalogueInputDriveTest, TheReadingIsValidWhileTheConversionRuns) {
  DriveHarness h;
  ASSERT_TRUE(h.Drive().SetAnalogueValue(0x8123));
  Reading r = Read(h);
  EXPECT_EQ(r.value, 0x8123u);
  EXPECT_EQ(r.valid, 0u) << "no conversion yet";
  EXPECT_EQ(r.inRange, 0u);

  h.Write(kAnalogue, 12, 1, 1);
  r = Read(h);
  EXPECT_EQ(r.valid, 1u);
  EXPECT_EQ(r.inRange, 0u) << "no regulator on";

  h.Write(kAnalogue, 20, 1, 1);
  EXPECT_EQ(Read(h).inRange, 1u);
  h.Write(kAnalogue, 20, 0, 1);
  EXPECT_EQ(Read(h).inRange, 0u) << "the regulator off";

  h.Write(kAnalogue, 20, 1, 1);
  h.Write(kAnalogue, 12, 0, 1);
  r = Read(h);
  EXPECT_EQ(r.valid, 0u) << "the conversion stopped";
  EXPECT_EQ(r.inRange, 0u) << "nothing to regulate on";
}

TEST(AnalogueInputDriveTest, TheReadingGoesOutOnTheRequestedPdo) {
  DriveHarness h;
  // Transmit PDO 3 as the kernel maps it: the value, valid and in range,
  // sent on request.
  const std::uint16_t cobId = 0x380 + h.Node().Id();
  h.Write(0x1802, 1, cobId, 4);
  h.Write(0x1A02, 0, 0, 1);
  h.Write(0x1A02, 1, 0x20550410, 4);
  h.Write(0x1A02, 2, 0x20550D08, 4);
  h.Write(0x1A02, 3, 0x20551508, 4);
  h.Write(0x1A02, 0, 3, 1);
  h.Write(0x1802, 2, 0xFD, 1);
  h.Write(kAnalogue, 12, 1, 1);
  h.Write(kAnalogue, 20, 1, 1);
  ASSERT_TRUE(h.Drive().SetAnalogueValue(0xFFFE));

  h.otherFrames.clear();
  CanFrame request;
  request.identifier = cobId;
  request.remote = true;
  request.length = 4;
  const std::vector<CanFrame> answers = h.Node().Exchange(request);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].identifier, cobId);
  ASSERT_EQ(answers[0].length, 4);
  EXPECT_EQ(answers[0].data[0], 0xFE);
  EXPECT_EQ(answers[0].data[1], 0xFF);
  EXPECT_EQ(answers[0].data[2], 1) << "valid";
  EXPECT_EQ(answers[0].data[3], 1) << "in range";
}

}  // namespace
}  // namespace vantor::sim::drives
