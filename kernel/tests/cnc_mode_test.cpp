// Commands 12 and 13 on an in-process kernel whose driver link is a
// stand-in: what the initialisation builds, that every refusal leaves
// nothing behind, and that the exit gives everything back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/cnc_init_record.h"
#include "common/complete_status_record.h"
#include "common/kernel_object_names.h"
#include "kernel/core/canopen/drive_reads.h"
#include "kernel/core/kernel_locks.h"
#include "kernel/core/kernel_reset.h"
#include "kernel/core/kernel_status.h"
#include "kernel/services/command_dispatcher.h"
#include "kernel/services/free_node_objects.h"
#include "kernel/tests/kernel_stand_in.h"
#include "kernel/tests/stand_in_driver_link.h"
#include "platform/os/wait.h"

namespace vantor::kernel {
namespace {

namespace cb = common::communication_block;
namespace hw = common::can_hardware_parameters;
namespace ir = common::cnc_init_record;
using vantor::kernel::testing::StandInDriverLink;

const bool kOwnNamespace = [] {
  const std::string name = "kernel-cnc-" + std::to_string(getpid());
  return setenv("VANTOR_NAMESPACE", name.c_str(), 1) == 0;
}();

std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(std::distance(
      std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

std::string_view ChannelName(common::ChannelObject object) {
  return common::ChannelObjectName(common::Channel::CanOne, object);
}

bool NamedEventExists(common::ChannelObject object) {
  return static_cast<bool>(os::Event::Open(ChannelName(object)));
}

class CncInitializeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kOwnNamespace);
    testing::CreateStandardRequestArea(kernel_);
    kernel_.driverLink = &driver_;
    kernel_.instance = {common::InterfaceType::Pci, common::Channel::CanOne};
    kernel_.settings.hardware.Set(hw::kInterruptCycle, 2000u);
    kernel_.settings.hardware.Set(hw::kBaudRateForCan, std::uint8_t{5});
    kernel_.settings.hardware.Set(hw::kLookAheadDesPosiMaxNo, std::int16_t{40});
    // The library creates the path buffer before it sends the record.
    pathBuffer_ =
        os::Mapping::CreateOrOpen(ChannelName(common::ChannelObject::PathBufferMapping), 8192)
            .take();
    WriteRecord();
  }

  void TearDown() override { FreeNodeObjects(kernel_); }

  // Two interpolated drives (1 gives the SYNC), a handling drive 3 with the
  // gantry slave 30, two coordinates, one handling axis.
  void WriteRecord() {
    auto record = *kernel_.Block().MutableWindow<common::kCncInitRecordSize>(cb::kPayloadOffset);
    record.Set(ir::kCoorNo, 2);
    record.Set(ir::kInterAxisNo, 2);
    record.Set(ir::kAxisNo, 3);
    record.Set(ir::kHandlingAxisNo, 1);
    record.Set(ir::kSynNodeNo, 1);
    record.Set(ir::kMaxNoBufferedPathVec, 10);
    record.Set(ir::kAmplifyMaxNoBufferedDesCoor, std::int16_t{20});
    record.Set(ir::kTeachInAmplifyMaxNoBufferedDesCoor, std::int16_t{10});
    record.Set(ir::kTeachInLookAheadDesPosiMaxNo, std::int16_t{30});
    record.Set(ir::kCanMsgMaxWaitTime, 9000.0);
    record.Set(ir::kHandwheelActive, 1u);
    record.Set(ir::kHandwheelCanNodeNo, 90);
    std::size_t at = cb::PayloadAt(common::kCncInitRecordSize);
    auto put = [&](std::int32_t value) {
      kernel_.Block().Store<std::int32_t>(at, value);
      at += 4;
    };
    for (int c = 0; c < 2; ++c) {
      for (int word = 0; word < 8; ++word) put(word == 1 ? 1 : 0);
    }
    for (std::int32_t word : {1, 0, 0, 2, 0, 0, 3, 1, 30}) put(word);
    put(40), put(0);
  }

  common::StatusCode Run(std::uint32_t code) {
    kernel_.Block().Set(cb::kCommandCode, code);
    kernel_.Block().Set(cb::kResult, common::kKernelSuccess);
    static_cast<void>(DispatchCommand(kernel_));
    kernel_.standard.kernelReady.Reset();
    return kernel_.Block().Get(cb::kResult);
  }

  void ExpectNothingCreated() {
    const KernelData& data = kernel_.data;
    EXPECT_FALSE(data.state.IsCncInitialised());
    EXPECT_FALSE(data.motionMutex.valid());
    EXPECT_FALSE(data.globalRequestMutex.valid());
    EXPECT_FALSE(data.resetMutex.valid());
    EXPECT_FALSE(data.canObjectListMutex.valid());
    EXPECT_FALSE(data.nodeConfiguration.mutex.valid());
    EXPECT_FALSE(data.globalSlot.completion);
    EXPECT_FALSE(kernel_.link.pathBufferMapping.valid());
    EXPECT_EQ(data.nodeConfiguration.BoundedNodeCount(), 0u);
    for (const NodeObject& node : data.nodeConfiguration.records) {
      EXPECT_FALSE(node.can);
      EXPECT_FALSE(node.completion);
      EXPECT_FALSE(node.requestMutex.valid());
      EXPECT_FALSE(node.accessMutex.valid());
    }
    EXPECT_FALSE(NamedEventExists(common::ChannelObject::HomingActiveEvent));
    EXPECT_FALSE(NamedEventExists(common::ChannelObject::HomingBreakEvent));
  }

  Kernel kernel_;
  StandInDriverLink driver_;
  os::Mapping pathBuffer_;
};

TEST_F(CncInitializeTest, BuildsTheNodesWithZeroRowsAndTakesTheirRecords) {
  ASSERT_EQ(Run(12), common::kKernelSuccess);
  const KernelData& data = kernel_.data;
  EXPECT_TRUE(data.state.IsCncInitialised());
  EXPECT_EQ(data.state.cycleRunning, 1u);
  EXPECT_EQ(data.state.resetPending, 1u);
  EXPECT_EQ(data.state.syncRunning, 0u);
  EXPECT_EQ(data.state.stopped, 1u);
  const NodeConfiguration& nodes = data.nodeConfiguration;
  ASSERT_EQ(nodes.BoundedNodeCount(), 3u);
  EXPECT_EQ(nodes.interpolatedNodeCount, 2u);
  EXPECT_EQ(nodes.table.largestAxisCount, 1u);
  for (std::uint32_t i = 0; i < 3; ++i) {
    const NodeObject& node = nodes.records[i];
    ASSERT_TRUE(node.can) << i;
    EXPECT_EQ(nodes.table.nodes[i], &*node.can);
    EXPECT_EQ(node.can->nodeId, i + 1);
    EXPECT_EQ(node.can->request.completionEvent, node.completion.get());
    EXPECT_TRUE(node.requestMutex.valid());
    EXPECT_TRUE(node.accessMutex.valid());
    // Flags A, N, D and the start words start at zero.
    for (const NodeStatusRow* row : {&node.can->latched, &node.can->current}) {
      EXPECT_EQ(row->flags, decltype(row->flags){}) << i;
      EXPECT_EQ(row->startWord, 0u) << i;
    }
  }
  EXPECT_EQ(nodes.records[2].can->axisCount, 1u);
  EXPECT_EQ(nodes.records[2].can->axes[0].nodeId, 30u);
  EXPECT_EQ(nodes.records[2].can->axes[0].sdoRequestCobId, 0x61E);
  // Records 1..6 of the nodes and 7 of the global slot are taken.
  for (std::uint32_t k = 1; k <= 14; ++k) {
    EXPECT_EQ(kernel_.canObjects.freeRecords[k] == 0, k <= 7) << k;
  }
  EXPECT_EQ(data.globalSlot.request.record, 7u);
  EXPECT_EQ(data.handwheel.nodeId, 90);
  EXPECT_TRUE(NamedEventExists(common::ChannelObject::HomingActiveEvent));
  EXPECT_TRUE(NamedEventExists(common::ChannelObject::HomingBreakEvent));
  // The saved copy holds what was derived.
  EXPECT_EQ(data.savedConfiguration.nodeCount, 3);
  EXPECT_EQ(data.savedConfiguration.nodes[2].slaveNodeId, 30u);
  EXPECT_EQ(data.savedConfiguration.handlingAxes[0].nodeId, 40);
  // The handling axis is in the external-axis table, not asked (flag 0).
  ASSERT_EQ(kernel_.data.ConfiguredExternalAxes().size(), 1u);
  EXPECT_EQ(data.externalAxes[0].active, 0u);
  EXPECT_EQ(data.externalAxes[0].sdoRequestCobId, 0x628);
  EXPECT_EQ(data.externalAxes[0].sdoResponseCobId, 0x5A8);
  EXPECT_FALSE(data.driveWorkingValues.positionOption);

  EXPECT_EQ(Run(12), common::kKernelCncNotInitialized) << "a second initialisation";
  EXPECT_EQ(nodes.BoundedNodeCount(), 3u);
}

TEST_F(CncInitializeTest, TheResetsRestoreKeepsWhatTheIdentificationLearned) {
  ASSERT_EQ(Run(12), common::kKernelSuccess);
  canopen::ExternalAxis& entry = kernel_.data.externalAxes[0];
  entry.description = {'Z', 'E', 'B'};
  entry.sdoRequestCobId = 0x601;
  RestoreConfiguredRecords(kernel_.data);
  EXPECT_EQ(std::string_view(entry.description.data()), "ZEB");
  EXPECT_EQ(entry.sdoRequestCobId, 0x628);
}

struct RefusalCase {
  const char* name;
  std::function<void(Kernel&, StandInDriverLink&, os::Mapping&, std::vector<os::Mutex>&)> setUp;
  common::StatusCode expected;
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& c) { return out << c.name; }

class CncInitializeRefusalTest : public CncInitializeTest,
                                 public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(CncInitializeRefusalTest, LeavesNothingCreated) {
  std::vector<os::Mutex> held;
  GetParam().setUp(kernel_, driver_, pathBuffer_, held);
  const std::size_t descriptors = OpenDescriptors();
  EXPECT_EQ(Run(12), GetParam().expected);
  EXPECT_EQ(OpenDescriptors(), descriptors);
  ExpectNothingCreated();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CncInitializeRefusalTest,
    ::testing::Values(
        RefusalCase{
            "no_can_channel",
            [](Kernel& k, auto&, auto&, auto&) { k.instance.channel = common::Channel::NoCan; },
            common::kKernelCanOperationInactive},
        RefusalCase{"cycle_ended",
                    [](Kernel&, StandInDriverLink& d, auto&, auto&) { d.cycleThread.Set(); },
                    kCycleNotRunning},
        RefusalCase{"cycle_time_zero",
                    [](Kernel& k, auto&, auto&, auto&) {
                      k.settings.hardware.Set(hw::kInterruptCycle, 0u);
                    },
                    kCycleNotRunning},
        RefusalCase{"seven_nodes",
                    [](Kernel& k, auto&, auto&, auto&) {
                      k.Block().Store<std::int32_t>(cb::PayloadAt(ir::kAxisNo.kOffset),
                                                    std::int32_t{7});
                    },
                    common::kKernelInitParameterInvalid},
        RefusalCase{"position_option_2",
                    [](Kernel& k, auto&, auto&, auto&) {
                      k.Block().Store<std::int32_t>(cb::PayloadAt(ir::kPathSmooth.kOffset),
                                                    std::int32_t{2});
                    },
                    common::kKernelInitParameterInvalid},
        RefusalCase{"slave_on_another_node",
                    [](Kernel& k, auto&, auto&, auto&) {
                      // Node 3's slave id becomes node 2's id.
                      k.Block().Store<std::int32_t>(
                          cb::PayloadAt(common::kCncInitRecordSize + 64 + 32), std::int32_t{2});
                    },
                    common::kKernelInitParameterInvalid},
        RefusalCase{"no_path_buffer",
                    [](Kernel&, auto&, os::Mapping& buffer, auto&) { buffer.Close(); },
                    common::kKernelOutOfResources},
        RefusalCase{"homing_break_name_taken",
                    [](Kernel&, auto&, auto&, std::vector<os::Mutex>& held) {
                      // A mutex under the event's name: the homing active
                      // event is made, the break event cannot be.
                      held.push_back(
                          os::Mutex::CreateOrOpen(
                              ChannelName(common::ChannelObject::HomingBreakEvent), false)
                              .take());
                    },
                    common::kKernelOutOfResources}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

// Plays the cycle: between two cycles' worth of the cycle mutex it ends
// every installed node request, as long as the kernel is in CNC mode. The
// answer of a request is the test's: `answer` may fill the request record
// and gives the request's result.
class AnsweringCycle {
 public:
  using Answer = std::function<common::StatusCode(canopen::NodeObject&)>;

  AnsweringCycle(
      Kernel& kernel, StandInDriverLink& driver,
      Answer answer = [](canopen::NodeObject&) { return common::kKernelSuccess; })
      : answer_(std::move(answer)), thread_([this, &kernel, &driver] {
          while (!stop_.load()) {
            if (os::WaitForOne(driver.cycleMutex, 1000).acquired()) {
              if (kernel.data.state.IsCncInitialised() && LockKernelData(kernel.data)) {
                AnswerAll(kernel.data.nodeConfiguration.table);
                UnlockKernelData(kernel.data);
              }
              static_cast<void>(driver.cycleMutex.Release());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }) {}
  ~AnsweringCycle() {
    stop_ = true;
    thread_.join();
  }

  // How often `step` was installed on node `index` (0-based).
  int Installed(canopen::NodeStepFunction step, std::size_t index) {
    std::lock_guard lock(countsMutex_);
    return counts_[{step, index}];
  }

 private:
  void AnswerAll(canopen::NodeTable& table) {
    for (std::uint32_t i = 0; i < table.Count(); ++i) {
      canopen::NodeObject* node = table.nodes[i];
      if (node == nullptr || node->request.stepFunction == nullptr) continue;
      {
        std::lock_guard lock(countsMutex_);
        ++counts_[{node->request.stepFunction, i}];
      }
      canopen::FinishNodeRequestWith(*node, answer_(*node));
    }
  }

  Answer answer_;
  std::mutex countsMutex_;
  std::map<std::pair<canopen::NodeStepFunction, std::size_t>, int> counts_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(CncInitializeTest, ExitTakesTheDrivesOutAndGivesEverythingBack) {
  const std::size_t descriptors = OpenDescriptors();
  ASSERT_EQ(Run(12), common::kKernelSuccess);
  {
    AnsweringCycle cycle(kernel_, driver_);
    EXPECT_EQ(Run(13), common::kKernelSuccess);
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
  ExpectNothingCreated();
  // A new configuration can follow.
  ASSERT_EQ(Run(12), common::kKernelSuccess);
}

TEST_F(CncInitializeTest, ExitWithTheCycleEndedStillGivesEverythingBack) {
  const std::size_t descriptors = OpenDescriptors();
  ASSERT_EQ(Run(12), common::kKernelSuccess);
  kernel_.data.state.cycleRunning = 0;
  EXPECT_EQ(Run(13), kCycleNotRunning);
  EXPECT_EQ(OpenDescriptors(), descriptors);
  ExpectNothingCreated();
}

namespace cs = common::complete_status;

// Node 3 carries the gantry slave 30, whose inputs and error the status
// reads through node 3's slot while the drives stand in quick stop.
class CompleteStatusTest : public CncInitializeTest {
 protected:
  void SetUp() override {
    CncInitializeTest::SetUp();
    kernel_.millisecondTick = [this] { return tick_.load(); };
    ASSERT_EQ(Run(12), common::kKernelSuccess);
  }

  std::uint32_t Word(std::size_t offset) {
    return *kernel_.Block().Load<std::uint32_t>(cb::PayloadAt(offset));
  }
  std::uint32_t SlaveWord(cs::AxisSection section, std::size_t within) {
    return Word(cs::AxisOffset(section, 2, within));
  }

  std::atomic<std::uint32_t> tick_{5000};
};

TEST_F(CompleteStatusTest, InQuickStopReadsTheSlaveInputsOncePerSecond) {
  namespace di = canopen::digital_inputs_request;
  std::atomic<std::uint8_t> inputs{di::kNegativeLimitSwitch};
  AnsweringCycle cycle(kernel_, driver_, [&](canopen::NodeObject& node) {
    if (node.request.stepFunction == canopen::ReadDigitalInputsStep) {
      node.requestRecord.Set(di::kValid, 1u);
      node.requestRecord.Set(di::kInputs, inputs.load());
    }
    return common::kKernelSuccess;
  });
  ASSERT_EQ(kernel_.data.state.stopped, 1u) << "a fresh configuration stands in quick stop";
  ASSERT_EQ(Run(24), common::kKernelSuccess);
  EXPECT_EQ(cycle.Installed(canopen::ReadDigitalInputsStep, 2), 1);
  EXPECT_EQ(cycle.Installed(canopen::DriveErrorStep, 0), 1);
  EXPECT_EQ(cycle.Installed(canopen::DriveErrorStep, 2), 2) << "the node and its slave";
  EXPECT_EQ(cycle.Installed(canopen::ReadDigitalInputsStep, 0), 0) << "node 1 has no slave";
  EXPECT_EQ(SlaveWord(cs::kCurrentSlaveState, cs::kSlaveNegativeLimitOKWord), 0u);
  EXPECT_EQ(SlaveWord(cs::kLatchedSlaveState, cs::kSlaveNegativeLimitOKWord), 0u);
  EXPECT_EQ(SlaveWord(cs::kCurrentSlaveState, cs::kSlavePositiveLimitOKWord), 1u);
  // The slot is back on the node's own SDO identifiers.
  EXPECT_EQ(kernel_.data.nodeConfiguration.records[2].can->sdoRequestCobId, 0x603);

  tick_ = 5999;
  inputs = 0;
  ASSERT_EQ(Run(24), common::kKernelSuccess);
  EXPECT_EQ(cycle.Installed(canopen::ReadDigitalInputsStep, 2), 1) << "within the second";
  EXPECT_EQ(cycle.Installed(canopen::DriveErrorStep, 2), 2) << "errors are read once";

  tick_ = 6000;
  ASSERT_EQ(Run(24), common::kKernelSuccess);
  EXPECT_EQ(cycle.Installed(canopen::ReadDigitalInputsStep, 2), 2);
  EXPECT_EQ(SlaveWord(cs::kCurrentSlaveState, cs::kSlaveNegativeLimitOKWord), 1u);
  EXPECT_EQ(SlaveWord(cs::kLatchedSlaveState, cs::kSlaveNegativeLimitOKWord), 0u)
      << "the latched word stays until the reset";

  // Out of quick stop nothing is read, whatever the time.
  kernel_.data.state.stopped = 0;
  tick_ = 9000;
  ASSERT_EQ(Run(24), common::kKernelSuccess);
  EXPECT_EQ(cycle.Installed(canopen::ReadDigitalInputsStep, 2), 2);
}

TEST_F(CompleteStatusTest, ASlaveThatFailsThreeReadsIsNoLongerAskedAndShowsWhy) {
  // Faulty answers, not time-outs: they count as failures too.
  AnsweringCycle cycle(kernel_, driver_, [](canopen::NodeObject& node) {
    if (node.request.stepFunction == canopen::ReadDigitalInputsStep) {
      node.requestRecord.Set(canopen::digital_inputs_request::kValid, 0u);
      return common::kKernelCanMessageInvalid;
    }
    return common::kKernelSuccess;
  });
  for (int period = 0; period < 5; ++period) {
    tick_ = 5000 + 1000 * static_cast<std::uint32_t>(period);
    ASSERT_EQ(Run(24), common::kKernelSuccess);
  }
  EXPECT_EQ(cycle.Installed(canopen::ReadDigitalInputsStep, 2), 3);
  EXPECT_EQ(SlaveWord(cs::kOperationResults, cs::kSlaveResultWord),
            common::kKernelCanMessageInvalid);
  EXPECT_EQ(SlaveWord(cs::kCurrentSlaveState, cs::kSlaveNegativeLimitOKWord), 1u)
      << "the last limit words stay";
}

TEST_F(CompleteStatusTest, TheRecordIsZeroedThenFilled) {
  kernel_.data.state.stopped = 0;  // no drive reads
  kernel_.Block().Fill(cb::kPayloadOffset, common::kCompleteStatusRecordSize, 0x5A);
  ASSERT_EQ(Run(24), common::kKernelSuccess);
  EXPECT_EQ(Word(cs::StateWordOffset(cs::StateWord::ControlInit)), 1u);
  EXPECT_EQ(Word(cs::StateWordOffset(cs::StateWord::QuickStopActive)), 0u);
  EXPECT_EQ(Word(cs::StateWordOffset(cs::StateWord::Reserved18)), 1u);
  EXPECT_EQ(Word(cs::kCurrentCanObjectOK.kOffset), 1u);
  for (std::size_t entry = 0; entry < cs::kCanObjectErrorEntryCount; ++entry) {
    EXPECT_EQ(Word(cs::CanObjectErrorOffset(entry) + 8), 0u) << entry;
  }
  EXPECT_EQ(Word(cs::LatchedNegSweWarningOffset(1)), 1u);
  EXPECT_EQ(Word(cs::LatchedNegSweWarningOffset(2)), 0u) << "past the coordinate count";
  for (std::uint32_t axis = 0; axis < 3; ++axis) {
    EXPECT_EQ(Word(cs::AxisOffset(cs::kAxisTable, axis, cs::kNodeIdWord)), axis + 1);
  }
  EXPECT_EQ(Word(cs::AxisOffset(cs::kAxisTable, 2, cs::kSlaveNodeIdWord)), 30u);
  EXPECT_EQ(Word(cs::AxisOffset(cs::kAxisModes, 2, cs::kSingleAxisWord)), 1u);
  EXPECT_EQ(Word(cs::AxisOffset(cs::kAxisTable, 3, cs::kNodeIdWord)), 0u) << "past the nodes";
  EXPECT_EQ(Word(cs::AxisOffset(cs::kLatchedDriveState, 0)), 0u) << "rows start at zero";
  EXPECT_EQ(Word(cs::kHandwheelConfigured.kOffset), 1u);
  const auto record =
      *kernel_.Block().Window<common::kCompleteStatusRecordSize>(cb::kPayloadOffset);
  EXPECT_EQ(record.Get(cs::kHandwheelNodeId), 90);
  EXPECT_EQ(record.GetText(cs::kKernelVersion), "01.70.00.13");
  EXPECT_EQ(record.GetText(cs::kDriverVersion), "01.02.03");
  EXPECT_EQ(record.GetText(cs::kLibraryVersion), "") << "the library writes its own";
}

TEST_F(CompleteStatusTest, NotInitialisedAnswersWithoutARecord) {
  FreeNodeObjects(kernel_);
  kernel_.data.state.SetCncInitialised(false);
  kernel_.Block().Fill(cb::kPayloadOffset, 16, 0x5A);
  EXPECT_EQ(Run(24), common::kKernelCncNotInitialized);
  EXPECT_EQ(Word(0), 0x5A5A5A5Au);
}

}  // namespace
}  // namespace vantor::kernel
