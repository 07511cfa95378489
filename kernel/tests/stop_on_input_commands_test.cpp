// Commands 87 and 92 on an in-process kernel in CNC mode without nodes:
// their refusals in the order they are tested, each winning over every
// later one, and what a refusal leaves behind.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/command_codes.h"
#include "common/stop_on_input_records.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/tests/kernel_stand_in.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;
namespace sp = common::stop_on_input_parameters;
using common::CommandCode;
using common::StatusCode;

class StopOnInputCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::CreateStandardRequestArea(kernel_);
    testing::CreateKernelDataLocks(kernel_.data);
    Reset();
  }

  // A kernel that is ready for the mode.
  void Reset() {
    KernelData& data = kernel_.data;
    KernelStateFlags& s = data.state;
    for (std::uint32_t* word :
         {&s.resetPending, &s.pathMode, &s.pathStarted, &s.motionActive, &s.motionBreak,
          &s.quickStopping, &s.stopped, &s.stopOnInputInitialised, &s.stopOnInputActive,
          &s.stopOnInputTriggered, &s.handwheelInitialised}) {
      *word = 0;
    }
    s.cycleRunning = 1;
    s.busOk = 1;
    s.syncRunning = 1;
    s.peripheryPdoOk = 1;
    s.SetCncInitialised(true);
    data.nodeConfiguration.table.nodeCount = 0;
    data.nodeConfiguration.table.stopOnInputCapable = 1;
  }

  StatusCode Run(CommandCode code) {
    auto block = kernel_.Block();
    block.Set(cb::kCommandCode, static_cast<std::uint32_t>(code));
    block.Set(cb::kResult, common::kKernelSuccess);
    EXPECT_EQ(DispatchCommand(kernel_), AfterCommand::KeepServing);
    EXPECT_EQ(os::WaitForOne(kernel_.standard.kernelReady, 0).kind, os::WaitKind::Signalled);
    kernel_.standard.kernelReady.Reset();
    return block.Get(cb::kResult);
  }

  StatusCode SetParameters(std::uint8_t mode) {
    sp::Record record;
    record.Set(sp::kMode, mode);
    kernel_.Block().CopyIn(sp::kBlockOffset, record.Bytes());
    return Run(CommandCode::SetStopOnInputModePar);
  }

  StatusCode RunMode(bool arm) {
    kernel_.Block().Set(common::stop_on_input_run::kArm, arm ? 1u : 0u);
    return Run(CommandCode::RunStopOnInputMode);
  }

  struct Condition {
    std::string name;
    std::function<void(KernelData&)> apply;
    StatusCode result;
  };

  // With every condition from i on in force, condition i answers: each
  // refuses on its own and wins over every later one.
  void ExpectOrder(const std::vector<Condition>& conditions,
                   const std::function<StatusCode()>& command) {
    for (std::size_t i = 0; i < conditions.size(); ++i) {
      Reset();
      for (std::size_t j = i; j < conditions.size(); ++j) conditions[j].apply(kernel_.data);
      EXPECT_EQ(command(), conditions[i].result) << conditions[i].name;
    }
  }

  Kernel kernel_;
};

TEST_F(StopOnInputCommands, SettingTheParametersRefusesInOrder) {
  const std::vector<Condition> conditions = {
      {"cycle", [](KernelData& d) { d.state.cycleRunning = 0; }, kCycleNotRunning},
      {"bus", [](KernelData& d) { d.state.busOk = 0; }, common::kKernelCanBusDisturbed},
      {"reset", [](KernelData& d) { d.state.resetPending = 1; }, common::kKernelResetNotDone},
      {"capability", [](KernelData& d) { d.nodeConfiguration.table.stopOnInputCapable = 0; },
       common::kKernelDriveFirmwareWrong},
      {"sync", [](KernelData& d) { d.state.syncRunning = 0; }, common::kKernelSyncObjectFailed},
      {"periphery", [](KernelData& d) { d.state.peripheryPdoOk = 0; },
       common::kKernelPeripheryPdoInvalid},
      {"motion", [](KernelData& d) { d.state.motionActive = 1; },
       common::kKernelMovementSegmentActive},
      {"break", [](KernelData& d) { d.state.motionBreak = 1; }, common::kKernelBreakModeActive},
      {"quick stop", [](KernelData& d) { d.state.stopped = 1; }, common::kKernelQuickStopActive},
      {"handwheel", [](KernelData& d) { d.state.handwheelInitialised = 1; },
       common::kKernelHandwheelAlreadyInitialized},
      {"mode without axes", [](KernelData&) {}, common::kKernelStopOnInputParameterInvalid},
  };
  ExpectOrder(conditions, [&] { return SetParameters(2); });
  // Mode 0 while nothing is set up changes nothing.
  Reset();
  EXPECT_EQ(SetParameters(0), common::kKernelSuccess);
  EXPECT_EQ(kernel_.data.state.stopOnInputInitialised, 0u);
}

TEST_F(StopOnInputCommands, ArmingRefusesInOrderAndDisarmingWhileNotArmedSucceeds) {
  const std::vector<Condition> conditions = {
      {"reset", [](KernelData& d) { d.state.resetPending = 1; }, common::kKernelResetNotDone},
      {"sync", [](KernelData& d) { d.state.syncRunning = 0; }, common::kKernelSyncObjectFailed},
      {"periphery", [](KernelData& d) { d.state.peripheryPdoOk = 0; },
       common::kKernelPeripheryPdoInvalid},
      {"path mode", [](KernelData& d) { d.state.pathStarted = 1; }, common::kKernelPathModeError},
      {"motion", [](KernelData& d) { d.state.motionActive = 1; },
       common::kKernelMovementSegmentActive},
      {"break", [](KernelData& d) { d.state.motionBreak = 1; }, common::kKernelBreakModeActive},
      {"quick stop", [](KernelData& d) { d.state.quickStopping = 1; },
       common::kKernelQuickStopActive},
      {"not set up", [](KernelData& d) { d.state.stopOnInputInitialised = 0; },
       common::kKernelStopOnInputNotInitialized},
  };
  ExpectOrder(conditions, [&] { return RunMode(true); });

  Reset();
  kernel_.data.state.stopOnInputInitialised = 1;
  kernel_.data.state.stopOnInputActive = 1;
  EXPECT_EQ(RunMode(true), common::kKernelStopOnInputInAction);
  // A refused arm leaves the mode armed as it was; the disarm of a mode not
  // armed has nothing to do, whatever else holds.
  EXPECT_EQ(kernel_.data.state.stopOnInputActive, 1u);
  Reset();
  kernel_.data.state.motionActive = 1;
  EXPECT_EQ(RunMode(false), common::kKernelSuccess);
}

TEST_F(StopOnInputCommands, PortAndBitOfTheInputAxis) {
  KernelData& data = kernel_.data;
  data.state.stopOnInputInitialised = 1;
  data.stopOnInputParameters.mode = 2;
  data.stopOnInputParameters.inputAxis = 1;
  data.motionRuntime.nodes[0].inputPort = 0x0F;
  data.motionRuntime.nodes[1].inputPort = 0xA5;
  ASSERT_EQ(Run(CommandCode::ReadStopOnInputModePort), common::kKernelSuccess);
  EXPECT_EQ(kernel_.Block().Get(common::stop_on_input_port::kPort), 0xA5);
  struct Case {
    std::uint8_t bit;
    std::uint8_t value;
  };
  // A bit number beyond the byte reads 0, however large.
  for (const Case c : {Case{0, 1}, Case{1, 0}, Case{7, 1}, Case{8, 0}, Case{200, 0}}) {
    kernel_.Block().Set(common::stop_on_input_bit::kBitNumber, c.bit);
    kernel_.Block().Set(common::stop_on_input_bit::kBitValue, 0x55);
    ASSERT_EQ(Run(CommandCode::ReadStopOnInputModeBit), common::kKernelSuccess);
    EXPECT_EQ(kernel_.Block().Get(common::stop_on_input_bit::kBitValue), c.value) << int{c.bit};
  }
  // Mode 1 reads the first node's port.
  data.stopOnInputParameters.mode = 1;
  ASSERT_EQ(Run(CommandCode::ReadStopOnInputModePort), common::kKernelSuccess);
  EXPECT_EQ(kernel_.Block().Get(common::stop_on_input_port::kPort), 0x0F);
  data.state.stopOnInputInitialised = 0;
  EXPECT_EQ(Run(CommandCode::ReadStopOnInputModePort), common::kKernelStopOnInputNotInitialized);
}

}  // namespace
}  // namespace vantor::kernel
