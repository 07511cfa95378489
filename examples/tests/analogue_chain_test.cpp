// The A/D conversion and distance regulator over the whole chain, on the
// homed machine: the reading set at X's drive through the driver host
// comes back to the application; the regulator's range on the Y pair,
// geared 2/1, takes 2080704 and refuses 2080705; a repeated reset switches
// the conversion off.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "examples/tests/homed_machine.h"
#include "interface/include/linkora.h"

namespace vantor::examples_test {
namespace {

using namespace std::chrono_literals;

const std::string kSampleIni = VANTOR_EXAMPLES_FOLDER "/machine.ini";
constexpr auto kGenerous = 120s;
constexpr std::uint32_t kX = 0;
constexpr std::uint32_t kYPair = 1;

class AnalogueChainTest : public HomedMachineTest {
 protected:
  AnalogueChainTest() : HomedMachineTest("analogue-chain") {}

  void TearDown() override {
    static_cast<void>(mctl_Exit());
    ChainTest::TearDown();
  }
};

TEST_F(AnalogueChainTest, TheReadingComesBackAndTheRegulatorsRangeFollowsThePairsGear) {
  ASSERT_NO_FATAL_FAILURE(StartHomedMachine(kSampleIni));
  ASSERT_EQ(mctl_StartADConversion(kX, 1), LINKORA_SUCCESS);
  ASSERT_EQ(Control("node can0 1 analogue 0xFF85"), "ok");

  std::uint32_t valid = 0;
  std::uint32_t ready = 0;
  std::int32_t value = 0;
  const auto deadline = std::chrono::steady_clock::now() + kGenerous;
  while (!(valid == 1 && ready == 1 && value == -123)) {
    ASSERT_EQ(mctl_GetADValue(kX, &valid, &ready, &value), LINKORA_SUCCESS);
    ASSERT_LT(std::chrono::steady_clock::now(), deadline)
        << "valid " << valid << " ready " << ready << " value " << value;
    std::this_thread::sleep_for(20ms);
  }

  const LinkoraSynAxisGearRatio geared = {2, 1, 2, 1};
  ASSERT_EQ(mctl_SetSynAxisGearRatio(kYPair, &geared, sizeof geared), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_SetDistanceRegulatorArea(kYPair, 0, 0, 0, 0, 5, 2080705), 0xC9130036u);
  ASSERT_EQ(mctl_SetDistanceRegulatorArea(kYPair, 0, 0, 0, 0, 5, 2080704), LINKORA_SUCCESS);
  std::array<std::int32_t, 12> parameters{};
  ASSERT_EQ(mctl_GetDistanceRegulatorPar(kYPair, parameters.data(), 48), LINKORA_SUCCESS);
  EXPECT_EQ(parameters[10], 2080704) << "the range limit";
  EXPECT_EQ(parameters[11], 2080704) << "the range";

  ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  EXPECT_EQ(mctl_GetADValue(kX, &valid, &ready, &value), 0xC9130034u)
      << "the conversion is off after a repeated reset";
}

}  // namespace
}  // namespace vantor::examples_test
