#include "examples/tests/cnc_chain.h"

#include <signal.h>

#include <chrono>
#include <cstddef>
#include <cstdio>

namespace vantor::examples_test {

namespace {

const std::string kSampleIni = VANTOR_EXAMPLES_FOLDER "/machine.ini";
const std::string kHomingMachine = VANTOR_EXAMPLES_FOLDER "/tests/data/homing_machine.json";
// The kernel ends within seconds of its last user; generous under load.
constexpr std::chrono::seconds kChannelEndBound{20};

}  // namespace

void CncChainTest::SetUp() {
  ChainTest::SetUp();
  StartDevhost(MachineDescription());
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(mctl_Initialize(kSampleIni.c_str()), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_Reference(kAllAxes), LINKORA_SUCCESS) << DriveConditionsNotInOrder();
  ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  ASSERT_EQ(Status().NeedReferenceRun, 0u)
      << "an axis is still without its reference; " << DriveConditionsNotInOrder();
}

void CncChainTest::TearDown() {
  if (!ChannelProgramsOfNamespace(namespace_).empty()) {
    static_cast<void>(mctl_Exit());
    if (!AwaitNoChannelPrograms(namespace_, kChannelEndBound)) {
      ADD_FAILURE() << "the kernel or the watching program outlived the test";
      for (const int process : ChannelProgramsOfNamespace(namespace_)) ::kill(process, SIGKILL);
    }
  }
  ChainTest::TearDown();
}

std::string CncChainTest::MachineDescription() { return kHomingMachine; }

std::string CncChainTest::ReadObject(std::uint32_t node, std::uint16_t index,
                                     std::uint8_t subindex) {
  char object[16];
  std::snprintf(object, sizeof object, "0x%04X", static_cast<unsigned>(index));
  return Control("node can0 " + std::to_string(node) + " read " + object + " " +
                 std::to_string(subindex));
}

std::string CncChainTest::DriveConditionsNotInOrder() {
  static constexpr const char* kNames[] = {
      "NmtError",          "TransmitError",    "ReceiveError",    "FaultActive",
      "NoOperationEnable", "SwitchOnDisabled", "NoAmplifyEnable", "CurrentLimitError",
      "MainVoltageError",  "PosHweError",      "NegHweError",     "HomingError",
      "FollowError",       "ParInvalid"};
  static_assert(sizeof(LinkoraDriveState) >= sizeof kNames / sizeof kNames[0] * 4);
  LinkoraCompleteStatusRecord record{};
  if (mctl_specfct_GetCompleteStatus(&record, sizeof record) != LINKORA_SUCCESS) {
    return "the complete status could not be read";
  }
  std::string text;
  const auto add = [&](const char* copy, std::uint32_t axis, const LinkoraDriveState& state) {
    if (state.DriveErrorNo != 0) {
      text += std::string(copy) + " axis " + std::to_string(axis) + " drive error " +
              std::to_string(state.DriveErrorNo) + "; ";
    }
    const auto* words = reinterpret_cast<const std::uint32_t*>(&state);
    for (std::size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
      if (words[i] == 0) {
        text += std::string(copy) + " axis " + std::to_string(axis) + " " + kNames[i] + "; ";
      }
    }
  };
  for (std::uint32_t axis = 0; axis < kAxisCount; ++axis) {
    add("latched", axis, record.LatchedDriveState[axis]);
    add("current", axis, record.DriveState[axis]);
  }
  return text.empty() ? "drive conditions: none out of order" : "drive conditions: " + text;
}

LinkoraMotionControlStatus CncChainTest::Status() {
  LinkoraMotionControlStatus status{};
  EXPECT_EQ(mctl_GetStatus(&status, sizeof status), LINKORA_SUCCESS);
  return status;
}

Coordinates CncChainTest::Position() {
  Coordinates position{};
  EXPECT_EQ(mctl_GetPosition(position.data(), sizeof position), LINKORA_SUCCESS);
  return position;
}

Coordinates CncChainTest::DesiredPosition() {
  Coordinates position{};
  EXPECT_EQ(mctl_GetDesiredPos(position.data(), sizeof position), LINKORA_SUCCESS);
  return position;
}

bool CncChainTest::AwaitMotionEnd() {
  return Await([&] { return Status().InMotion == 0; });
}

}  // namespace vantor::examples_test
