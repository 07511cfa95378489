#include "examples/tests/cnc_chain.h"

#include <signal.h>

#include <chrono>
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
  StartDevhost(kHomingMachine);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(mctl_Initialize(kSampleIni.c_str()), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_Reference(kAllAxes), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  ASSERT_EQ(Status().NeedReferenceRun, 0u) << "an axis is still without its reference";
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

std::string CncChainTest::ReadObject(std::uint32_t node, std::uint16_t index,
                                     std::uint8_t subindex) {
  char object[16];
  std::snprintf(object, sizeof object, "0x%04X", static_cast<unsigned>(index));
  return Control("node can0 " + std::to_string(node) + " read " + object + " " +
                 std::to_string(subindex));
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
