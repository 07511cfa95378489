#include "examples/tests/homed_machine.h"

#include <gtest/gtest.h>

#include "interface/include/linkora.h"

namespace vantor::examples_test {

namespace {

const std::string kHomingMachine = VANTOR_EXAMPLES_FOLDER "/tests/data/homing_machine.json";

}  // namespace

void HomedMachineTest::StartHomedMachine(const std::string& ini, const std::string& candump) {
  StartDevhost(kHomingMachine, candump);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(mctl_Initialize(ini.c_str()), LINKORA_SUCCESS);
  ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  for (const std::uint32_t drive : kHomedMachineDrives) {
    ASSERT_EQ(Control("node can0 " + std::to_string(drive) + " write 0x607C 0 " +
                      std::to_string(kHomeOffset)),
              "ok");
  }
  ASSERT_EQ(mctl_Reference(kHomedMachineAxes), LINKORA_SUCCESS);
  // The homing run leaves "not operation enabled" in the drives' latched
  // states, which holds every motion; the reset clears it.
  ASSERT_EQ(mctl_Reset(), LINKORA_SUCCESS);
  LinkoraMotionControlStatus status{};
  ASSERT_EQ(mctl_GetStatus(&status, sizeof status), LINKORA_SUCCESS);
  ASSERT_EQ(status.NeedReferenceRun, 0u);
}

}  // namespace vantor::examples_test
