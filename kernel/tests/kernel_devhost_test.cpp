// A real Motrix process over the real driver host: the drivers on the
// simulated PCI card, with the sample machine's nodes on can0. Command 4,
// the heartbeat, raw requests of the SDO area that reach the simulated
// nodes, a silent node, and the end of the driver run with the kernel.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/cnc_init_record.h"
#include "common/command_codes.h"
#include "common/complete_status_record.h"
#include "common/driver_records.h"
#include "common/driver_requests.h"
#include "common/kernel_link_records.h"
#include "common/kernel_object_names.h"
#include "common/status_code.h"
#include "common/velocity_output_records.h"
#include "drivers/host/tests/devhost_process.h"
#include "kernel/core/can_cycle.h"
#include "kernel/core/driver_link_records.h"
#include "kernel/core/kernel_status.h"
#include "kernel/services/communication_thread.h"
#include "kernel/tests/kernel_test_client.h"
#include "kernel/tests/start_record_builder.h"
#include "platform/os/device/device_handle.h"
#include "platform/os/process.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/tests/thread_classes.h"
#include "platform/os/wait.h"

namespace vantor::kernel::testing {
namespace {

namespace cb = common::communication_block;
using common::Channel;
using common::CommandCode;
using test_client::KernelAnswer;
using test_client::LibrarySide;
// One command line per message to the driver host's control endpoint.
using host::testing::ControlClient;
using namespace std::chrono_literals;

constexpr auto kDeadline = 10s;
constexpr std::uint32_t kAnswerTimeoutMs = LibrarySide::kAnswerTimeoutMs;
constexpr const char* kDevice = "\\\\.\\tarnis1";

// The sample machine's bus runs at 500 kbit/s, the rate of the sample
// initialisation file.
constexpr std::uint8_t kBitRateCodeOfTheSampleBus = 5;
static_assert(common::kBitRateTimings[kBitRateCodeOfTheSampleBus].bitsPerSecond == 500000);

// What the simulated drives answer for object 0x1000 (a servo drive).
constexpr std::uint32_t kDriveDeviceType = 0x00020192;

template <typename Condition>
bool Eventually(Condition&& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// The status word a driver request answered with (its first four bytes).
std::optional<common::StatusCode> StatusOfRequest(os::DeviceHandle& device, std::uint32_t code) {
  std::array<std::uint8_t, 4> answer{};
  const auto result = device.Control(code, {}, answer);
  if (result.status != os::kStatusSuccess || result.bytesReturned < answer.size()) return {};
  common::StatusCode status = 0;
  std::memcpy(&status, answer.data(), sizeof status);
  return status;
}

class KernelDevhostTest : public ::testing::Test {
 protected:
  void SetUp() override { test_client::UseOwnNamespace("kernel-devhost"); }

  void StartDevhost(const std::vector<std::string>& arguments) {
    auto devhost = os::Process::Start(DEVHOST_PROGRAM, arguments);
    ASSERT_TRUE(devhost);
    devhost_ = devhost.take();
    ASSERT_TRUE(Eventually([] {
      return os::DeviceHandle::Open(kDevice).error == os::DeviceOpenError::kNone;
    })) << "the driver host serves no tarnis1 device";
    const auto folder = os::RuntimeDirectory();
    ASSERT_TRUE(folder);
    control_ = std::make_unique<ControlClient>(*folder + "/devhost.control");
    ASSERT_TRUE(control_->Connected());
  }

  // The sample machine whose nodes allow ten times the sample's life time
  // between two guard requests: a test that runs long after a reset keeps
  // its drives in operation on a loaded machine.
  void StartDevhostWithPatientNodes() {
    std::ifstream sampleFile(SAMPLE_MACHINE);
    ASSERT_TRUE(sampleFile) << SAMPLE_MACHINE;
    std::string machine{std::istreambuf_iterator<char>(sampleFile), {}};
    const std::string sampleFactor = "\"life_time_factor\": 3";
    std::size_t patched = 0;
    for (auto at = machine.find(sampleFactor); at != std::string::npos;
         at = machine.find(sampleFactor, at)) {
      at += sampleFactor.size();
      machine.insert(at, "0");
      ++patched;
    }
    ASSERT_GT(patched, 0u) << "the sample machine guards no node";
    const auto folder = os::RuntimeDirectory();
    ASSERT_TRUE(folder);
    const std::string path = *folder + "/patient_machine.json";
    std::ofstream(path) << machine;
    StartDevhost({"--machine", path});
  }

  void TearDown() override {
    StopStepping();
    if (client_) client_->EndLeftoverKernel();
    client_.reset();
    control_.reset();
    if (devhost_.valid()) {
      // Ended as its user ends it, so that it takes its sockets and lock
      // file along; killed only when it does not end.
      ::kill(static_cast<pid_t>(devhost_.id()), SIGTERM);
      if (os::WaitForOne(devhost_, kAnswerTimeoutMs).kind != os::WaitKind::Signalled) {
        static_cast<void>(devhost_.Terminate(0));
        os::WaitForOne(devhost_, kAnswerTimeoutMs);
      }
      EXPECT_EQ(devhost_.exitCode(), std::optional<std::uint32_t>(0)) << "a clean end";
      devhost_.Close();
    }
    os::RemoveRuntimeDirectoryIfUnused();
  }

  void StartKernel(Channel channel = Channel::CanOne) {
    client_ = std::make_unique<LibrarySide>(channel);
    ASSERT_TRUE(client_->StartKernelAnsweringPing(common::InterfaceType::Pci).answered);
  }

  static StartSettings SampleMachineSettings() {
    StartSettings settings;
    settings.bitRateCode = kBitRateCodeOfTheSampleBus;
    // The initialisation file's defaults: a run needs a poll budget of 1 at least.
    settings.syncPeriod = 300000;
    settings.syncWait = 1000;
    return settings;
  }

  KernelAnswer OpenHardware(const StartSettings& settings) {
    return client_->OpenHardware(StartRecord(settings));
  }

  // The frames logged since the last look, gathered until `line` shows.
  bool FrameLogShows(const std::string& line) {
    return Eventually([&] {
      frames_ += control_->Command("frame-log");
      return frames_.find(line) != std::string::npos;
    });
  }

  // Steps the driver host's virtual clock by `period` about once per
  // `period` of real time, until StopStepping.
  void StartStepping(std::chrono::microseconds period) {
    const auto folder = os::RuntimeDirectory();
    ASSERT_TRUE(folder);
    stepper_ = std::jthread([path = *folder + "/devhost.control", period](std::stop_token stop) {
      ControlClient line(path);
      const std::string command = "step " + std::to_string(period.count());
      while (!stop.stop_requested() && line.Command(command).starts_with("ok")) {
        std::this_thread::sleep_for(period);
      }
    });
  }

  void StopStepping() {
    if (!stepper_.joinable()) return;
    stepper_.request_stop();
    stepper_.join();
  }

  os::Process devhost_;
  std::jthread stepper_;
  std::unique_ptr<ControlClient> control_;
  std::unique_ptr<LibrarySide> client_;
  std::string frames_;
};

TEST_F(KernelDevhostTest, TheKernelRunsItsCycleOverTheDriverHostUntilItEnds) {
  StartDevhost({});
  StartKernel();
  const auto opened = OpenHardware(SampleMachineSettings());
  ASSERT_TRUE(opened.answered);
  ASSERT_EQ(opened.result, common::kKernelSuccess);

  // The heartbeat flips between 0x00 and 0xFF while the cycle runs.
  int flips = 0;
  std::uint8_t last = *client_->Block().Load<std::uint8_t>(cb::kHeartbeat.kOffset);
  EXPECT_TRUE(Eventually([&] {
    const std::uint8_t now = *client_->Block().Load<std::uint8_t>(cb::kHeartbeat.kOffset);
    EXPECT_TRUE(now == cb::kHeartbeatLow || now == cb::kHeartbeatHigh) << int{now};
    if (now != last) ++flips;
    last = now;
    return flips >= 6;
  }));

  // The run is the kernel's: another handle may not steer it.
  auto other = os::DeviceHandle::Open(kDevice);
  ASSERT_EQ(other.error, os::DeviceOpenError::kNone);
  EXPECT_EQ(StatusOfRequest(other.handle, common::IOCTL_CAN_LED_PER_CYCLE),
            common::kDriverNotOwner);
  // The driver's version as the kernel formats it.
  common::DriverVersionRecord version;
  ASSERT_EQ(other.handle.Control(common::IOCTL_CAN_GET_VERSION, {}, version.MutableBytes()).status,
            os::kStatusSuccess);
  EXPECT_STREQ(FormatDriverVersion(version.View()).data(), "01.70.00.10");

  // An SDO upload of the device type reaches drive 1 and brings its answer.
  const auto upload =
      client_->SdoRequest(0x601, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}, 0x581, 1'000'000);
  ASSERT_TRUE(upload.answered);
  EXPECT_EQ(upload.result, common::kKernelSuccess);
  {
    const auto block = client_->Block();
    ASSERT_EQ(block.Get(cb::kSdoAnswerLength), 8u);
    const auto data = block.GetBytes(cb::kSdoAnswerData);
    const std::vector<std::uint8_t> answer(data.begin(), data.begin() + 8);
    const std::vector<std::uint8_t> expected = {0x43,
                                                0x00,
                                                0x10,
                                                0x00,
                                                static_cast<std::uint8_t>(kDriveDeviceType),
                                                static_cast<std::uint8_t>(kDriveDeviceType >> 8),
                                                static_cast<std::uint8_t>(kDriveDeviceType >> 16),
                                                static_cast<std::uint8_t>(kDriveDeviceType >> 24)};
    EXPECT_EQ(answer, expected);
  }
  EXPECT_TRUE(FrameLogShows("can0 601#4000100000000000\n")) << frames_;
  EXPECT_TRUE(FrameLogShows("can0 581#4300100092010200\n")) << frames_;

  // Before CNC mode an NMT request goes out as it is: the I/O module resets
  // and boots again.
  frames_.clear();
  const auto nmt = client_->SdoRequest(0, {0x81, 0x0A}, 0, 1'000'000);
  ASSERT_TRUE(nmt.answered);
  EXPECT_EQ(nmt.result, common::kKernelSuccess);
  EXPECT_TRUE(FrameLogShows("can0 000#810A\n")) << frames_;
  EXPECT_TRUE(Eventually([&] {
    frames_ += control_->Command("frame-log");
    return frames_.find("can0 70A#00\n", frames_.find("can0 000#810A\n")) != std::string::npos;
  })) << frames_;

  // No node 5 on the bus: the request times out. The kernel counts the
  // time-out in driver cycles, so only a loose lower bound holds.
  const auto started = std::chrono::steady_clock::now();
  const auto silent =
      client_->SdoRequest(0x605, {0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0}, 0x585, 300'000);
  ASSERT_TRUE(silent.answered);
  EXPECT_EQ(silent.result, common::kKernelCanMessageTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 150ms);
  EXPECT_TRUE(FrameLogShows("can0 605#4000100000000000\n")) << frames_;

  // The kernel's end ends the run: it is nobody's any more.
  EXPECT_TRUE(client_->Command(CommandCode::TerminateKernel).answered);
  EXPECT_TRUE(client_->AwaitKernelEnd(kAnswerTimeoutMs));
  EXPECT_TRUE(Eventually([&] {
    return StatusOfRequest(other.handle, common::IOCTL_CAN_LED_PER_CYCLE) == common::kDriverNoRun;
  }));
  EXPECT_EQ(StatusOfRequest(other.handle, common::IOCTL_CAN_CLAIM), common::kDriverSuccess);
}

// Drive 1 interpolated, drive 2 a handling axis with drive 3 as its gantry
// slave, on the sample machine.
void WriteCncInitRecord(common::CommunicationBlockView block) {
  namespace ir = common::cnc_init_record;
  auto record = *block.MutableWindow<common::kCncInitRecordSize>(cb::kPayloadOffset);
  record.Fill(0, common::kCncInitRecordSize, 0);
  record.Set(ir::kInterAxisNo, 1);
  record.Set(ir::kAxisNo, 2);
  record.Set(ir::kSynNodeNo, 1);
  record.Set(ir::kMaxNoBufferedPathVec, 10);
  record.Set(ir::kAmplifyMaxNoBufferedDesCoor, std::int16_t{20});
  record.Set(ir::kTeachInAmplifyMaxNoBufferedDesCoor, std::int16_t{10});
  record.Set(ir::kTeachInLookAheadDesPosiMaxNo, std::int16_t{30});
  record.Set(ir::kCanMsgMaxWaitTime, 100000.0);
  ir::SetFixedRequestTemplates(record);
  std::size_t at = cb::PayloadAt(common::kCncInitRecordSize);
  for (std::int32_t word : {1, 0, 0, 2, 1, 3}) {
    block.Store<std::int32_t>(at, word);
    at += 4;
  }
}

TEST_F(KernelDevhostTest, CncModeReadsTheDrivesInQuickStopAndEndsCleanly) {
  StartDevhost({});
  StartKernel();
  auto start = StartRecord(SampleMachineSettings());
  start.Set(common::can_start_record::kLookAheadDesPosiMaxNo, std::int16_t{40});
  ASSERT_EQ(client_->OpenHardware(start).result, common::kKernelSuccess);
  // The library creates the path buffer before it sends the record.
  auto pathBuffer = os::Mapping::CreateOrOpen(
      common::ChannelObjectName(Channel::CanOne, common::ChannelObject::PathBufferMapping), 8192);
  ASSERT_TRUE(pathBuffer);

  WriteCncInitRecord(client_->Block());
  frames_ += control_->Command("frame-log");
  frames_.clear();
  ASSERT_EQ(client_->Command(CommandCode::CncInitialize).result, common::kKernelSuccess);

  // A fresh configuration stands in quick stop: the status reads every
  // drive's error field, and the slave's inputs through node 2's slot.
  const auto status = client_->Command(CommandCode::GetStatus);
  ASSERT_TRUE(status.answered);
  ASSERT_EQ(status.result, common::kKernelSuccess);
  EXPECT_TRUE(FrameLogShows("can0 601#40031001\n")) << frames_;
  EXPECT_TRUE(FrameLogShows("can0 603#40031001\n")) << frames_;
  EXPECT_TRUE(FrameLogShows("can0 603#40FD6000\n")) << frames_;
  {
    namespace cs = common::complete_status;
    const auto record =
        *client_->Block().Window<common::kCompleteStatusRecordSize>(cb::kPayloadOffset);
    EXPECT_EQ(
        record.Get(common::Field<std::uint32_t, cs::StateWordOffset(cs::StateWord::ControlInit)>{}),
        1u);
    EXPECT_EQ(*record.Load<std::uint32_t>(cs::AxisOffset(cs::kAxisTable, 1, cs::kNodeIdWord)), 2u);
    EXPECT_EQ(*record.Load<std::uint32_t>(cs::AxisOffset(cs::kAxisTable, 1, cs::kSlaveNodeIdWord)),
              3u);
    EXPECT_EQ(record.GetText(cs::kKernelVersion), "01.70.00.13");
  }

  // The exit talks to the drives and gives everything back: a second
  // initialisation finds nothing left over.
  const auto exit = client_->Command(CommandCode::CncExit);
  ASSERT_TRUE(exit.answered);
  WriteCncInitRecord(client_->Block());
  EXPECT_EQ(client_->Command(CommandCode::CncInitialize).result, common::kKernelSuccess);
  EXPECT_EQ(client_->Command(CommandCode::CncExit).answered, true);
}

// The kernel's threads on the cycle's path, read back from the running
// Motrix while its cycle runs over the driver host: the connection readers
// that bring the driver's answers above the cycle, the cycle above the
// server thread.
TEST_F(KernelDevhostTest, TheKernelsThreadsOnTheCyclesPathRunInTheirClasses) {
  if (!os::testing::RealTimePermitted()) GTEST_SKIP() << "real-time scheduling is not permitted";
  StartDevhost({});
  StartKernel();
  const auto opened = OpenHardware(SampleMachineSettings());
  ASSERT_TRUE(opened.answered);
  ASSERT_EQ(opened.result, common::kKernelSuccess);

  using os::testing::ThreadsNamed;
  const auto motrix = static_cast<pid_t>(client_->kernel().id());
  const auto cycle = ThreadsNamed(motrix, kCycleThreadName);
  const auto server = ThreadsNamed(motrix, kServerThreadName);
  const auto readers = ThreadsNamed(motrix, os::kDeviceReaderThreadName);
  ASSERT_EQ(cycle.size(), 1u);
  ASSERT_EQ(server.size(), 1u);
  ASSERT_FALSE(readers.empty());
  EXPECT_EQ(cycle[0].schedulingClass, SCHED_FIFO);
  EXPECT_EQ(server[0].schedulingClass, SCHED_FIFO);
  EXPECT_LT(server[0].level, cycle[0].level);
  for (const auto& reader : readers) {
    EXPECT_EQ(reader.schedulingClass, SCHED_FIFO);
    EXPECT_GT(reader.level, cycle[0].level);
  }
  EXPECT_TRUE(client_->Command(CommandCode::TerminateKernel).answered);
  EXPECT_TRUE(client_->AwaitKernelEnd(kAnswerTimeoutMs));
}

TEST_F(KernelDevhostTest, AStalledExchangeEndsTheCycleAndAnswersThePendingRequestAtOnce) {
  // The driver's time stands still unless the test steps it.
  StartDevhost({"--virtual-clock"});
  StartStepping(1ms);
  StartKernel();
  auto settings = SampleMachineSettings();
  settings.exchangeTimeoutMs = 1000;
  const auto opened = OpenHardware(settings);
  ASSERT_TRUE(opened.answered);
  ASSERT_EQ(opened.result, common::kKernelSuccess);

  // A request that would wait a minute for a silent node.
  auto block = client_->Block();
  block.Set(cb::kSdoRequestCobId, 0x605);
  block.Set(cb::kSdoRequestLength, 8);
  block.Set(cb::kSdoAnswerCobId, 0x585);
  block.Set(cb::kSdoTimeoutMicroseconds, 60'000'000);
  client_->SignalSdoRequest();
  ASSERT_TRUE(FrameLogShows("can0 605#")) << frames_;
  ASSERT_FALSE(client_->SdoAnswered());

  StopStepping();
  const auto stalled = std::chrono::steady_clock::now();
  const auto answer = client_->AwaitSdoAnswer(kAnswerTimeoutMs);
  ASSERT_TRUE(answer.answered);
  EXPECT_EQ(answer.result, common::kDriverNoController);
  EXPECT_LT(std::chrono::steady_clock::now() - stalled, 10s);

  // The cycle is gone for the rest of the kernel's life; the kernel still
  // answers, and its end ends the run.
  EXPECT_EQ(client_->SdoRequest(0, {0x81, 0x0A}, 0, 1000).result, common::kDriverNoController);
  EXPECT_EQ(client_->Command(CommandCode::Ping).result, common::kKernelSuccess);
  EXPECT_TRUE(client_->Command(CommandCode::TerminateKernel).answered);
  EXPECT_TRUE(client_->AwaitKernelEnd(kAnswerTimeoutMs));
  auto other = os::DeviceHandle::Open(kDevice);
  ASSERT_EQ(other.error, os::DeviceOpenError::kNone);
  EXPECT_TRUE(Eventually([&] {
    return StatusOfRequest(other.handle, common::IOCTL_CAN_LED_PER_CYCLE) == common::kDriverNoRun;
  }));
}

TEST_F(KernelDevhostTest, ChannelNoCanStartsNoRun) {
  StartDevhost({});
  StartKernel(Channel::NoCan);
  const auto opened = OpenHardware(SampleMachineSettings());
  ASSERT_TRUE(opened.answered);
  EXPECT_EQ(opened.result, common::kKernelSuccess);
  EXPECT_EQ(client_->SdoRequest(0, {0x81, 0x0A}, 0, 1000).result,
            common::kKernelCanOperationInactive);
  auto other = os::DeviceHandle::Open(kDevice);
  ASSERT_EQ(other.error, os::DeviceOpenError::kNone);
  EXPECT_EQ(StatusOfRequest(other.handle, common::IOCTL_CAN_LED_PER_CYCLE), common::kDriverNoRun);
  EXPECT_EQ(control_->Command("frame-log").find("can0 000#"), std::string::npos);
  EXPECT_TRUE(client_->Command(CommandCode::TerminateKernel).answered);
  EXPECT_TRUE(client_->AwaitKernelEnd(kAnswerTimeoutMs));
}

namespace reset_test {

// The sample record with no node at all.
void WriteCncInitRecordWithoutNodes(common::CommunicationBlockView block) {
  namespace ir = common::cnc_init_record;
  WriteCncInitRecord(block);
  auto record = *block.MutableWindow<common::kCncInitRecordSize>(cb::kPayloadOffset);
  record.Set(ir::kInterAxisNo, 0);
  record.Set(ir::kAxisNo, 0);
  record.Set(ir::kSynNodeNo, 0);
}

}  // namespace reset_test

TEST_F(KernelDevhostTest, AResetWithoutNodesSucceeds) {
  StartDevhost({});
  StartKernel();
  auto start = StartRecord(SampleMachineSettings());
  start.Set(common::can_start_record::kLookAheadDesPosiMaxNo, std::int16_t{40});
  ASSERT_EQ(client_->OpenHardware(start).result, common::kKernelSuccess);
  auto pathBuffer = os::Mapping::CreateOrOpen(
      common::ChannelObjectName(Channel::CanOne, common::ChannelObject::PathBufferMapping), 8192);
  ASSERT_TRUE(pathBuffer);
  reset_test::WriteCncInitRecordWithoutNodes(client_->Block());
  ASSERT_EQ(client_->Command(CommandCode::CncInitialize).result, common::kKernelSuccess);

  const auto reset = client_->Command(CommandCode::Reset);
  ASSERT_TRUE(reset.answered);
  EXPECT_EQ(reset.result, common::kKernelSuccess);
  // A second reset runs the later-reset rows over no nodes as well.
  EXPECT_EQ(client_->Command(CommandCode::Reset).result, common::kKernelSuccess);
  EXPECT_TRUE(client_->Command(CommandCode::CncExit).answered);
}

TEST_F(KernelDevhostTest, ACycleThatEndsDuringTheResetEndsItWithoutHanging) {
  // The driver's time stands still unless the test steps it.
  StartDevhost({"--virtual-clock"});
  StartStepping(1ms);
  StartKernel();
  auto settings = SampleMachineSettings();
  settings.exchangeTimeoutMs = 1000;
  auto start = StartRecord(settings);
  start.Set(common::can_start_record::kLookAheadDesPosiMaxNo, std::int16_t{40});
  ASSERT_EQ(client_->OpenHardware(start).result, common::kKernelSuccess);
  auto pathBuffer = os::Mapping::CreateOrOpen(
      common::ChannelObjectName(Channel::CanOne, common::ChannelObject::PathBufferMapping), 8192);
  ASSERT_TRUE(pathBuffer);
  WriteCncInitRecord(client_->Block());
  ASSERT_EQ(client_->Command(CommandCode::CncInitialize).result, common::kKernelSuccess);

  // The driver's clock stops: the exchange the reset's first node request
  // waits on never comes back, and the kernel's exchange time-out ends the
  // cycle under the running reset.
  StopStepping();
  const auto reset = client_->Command(CommandCode::Reset);
  ASSERT_TRUE(reset.answered) << "the reset hangs on a cycle that is gone";
  EXPECT_EQ(reset.result, kCycleNotRunning);
  // The kernel still serves, and a further reset is refused at its gate.
  EXPECT_EQ(client_->Command(CommandCode::Reset).result, kCycleNotRunning);
  EXPECT_TRUE(client_->Command(CommandCode::TerminateKernel).answered);
  EXPECT_TRUE(client_->AwaitKernelEnd(kAnswerTimeoutMs));
}

namespace velocity_output_test {

namespace vs = common::velocity_output_start;
namespace vp = common::velocity_output_parameters;
namespace vr = common::velocity_output_state;

// Node 20's first receive PDO: free for a user object on the sample machine.
constexpr std::uint16_t kOutputCobId = 0x214;

void WriteStart(common::CommunicationBlockView block, std::uint32_t delayMicroseconds) {
  block.Fill(cb::kPayloadOffset, vs::kRecordSize, 0);
  block.Set(vs::kMode, 1u);
  block.Set(vs::kDelayMicroseconds, delayMicroseconds);
  block.Set(vs::kDirection, 1u);
  block.Set(vs::kNodeId, std::uint8_t{20});
  block.Set(vs::kCobId, kOutputCobId);
  block.Set(vs::kDataLength, 2u);
  block.Set(vs::kAnswerTimeout, 20000u);
  block.Set(vs::kPeriod, 20000u);
}

void WriteParameters(common::CommunicationBlockView block, std::int32_t divisor,
                     std::int32_t offset) {
  block.Set(vp::kEnable, 1u);
  block.Set(vp::kGain, 3);
  block.Set(vp::kDivisor, divisor);
  block.Set(vp::kOffset, offset);
  block.Set(vp::kDelayMicroseconds, 0xFFFFFFFFu);
}

}  // namespace velocity_output_test

TEST_F(KernelDevhostTest, TheVelocityOutputSendsItsOffsetUntilItStops) {
  using namespace velocity_output_test;
  // The SYNC runs only while drive 1 answers its time-stamp poll, so drive 1
  // must stay in operation from the first reset to the last.
  StartDevhostWithPatientNodes();
  StartKernel();
  auto start = StartRecord(SampleMachineSettings());
  start.Set(common::can_start_record::kLookAheadDesPosiMaxNo, std::int16_t{40});
  ASSERT_EQ(client_->OpenHardware(start).result, common::kKernelSuccess);
  auto block = client_->Block();
  const CommandCode codes[] = {
      CommandCode::ActivateVelPropOutputMode, CommandCode::DeactivateVelPropOutputMode,
      CommandCode::SetVelPropOutputWorkPar, CommandCode::GetVelPropOutputActPar};
  for (CommandCode code : codes) {
    EXPECT_EQ(client_->Command(code).result, common::kKernelCncNotInitialized)
        << static_cast<int>(code);
  }
  auto pathBuffer = os::Mapping::CreateOrOpen(
      common::ChannelObjectName(Channel::CanOne, common::ChannelObject::PathBufferMapping), 8192);
  ASSERT_TRUE(pathBuffer);
  // The SYNC runs only with a drive that answers its time-stamp poll:
  // drive 1 alone, given time to boot after the reset's NMT reset.
  WriteCncInitRecord(block);
  {
    auto record = *block.MutableWindow<common::kCncInitRecordSize>(cb::kPayloadOffset);
    record.Set(common::cnc_init_record::kAxisNo, 1);
    record.Set(common::cnc_init_record::kResetNodeDelayTime, 200000.0);
  }
  ASSERT_EQ(client_->Command(CommandCode::CncInitialize).result, common::kKernelSuccess);
  for (CommandCode code : codes) {
    EXPECT_EQ(client_->Command(code).result, common::kKernelResetNotDone) << static_cast<int>(code);
  }
  ASSERT_EQ(client_->Command(CommandCode::Reset).result, common::kKernelSuccess);

  // Off: only the bounds of the delay, 498 cycles and the configured 40.
  ASSERT_EQ(client_->Command(CommandCode::GetVelPropOutputActPar).result, common::kKernelSuccess);
  EXPECT_EQ(block.Get(vr::kActive), 0u);
  const std::uint32_t largest = block.Get(vr::kLargestDelayMicroseconds);
  const std::uint32_t smallest = block.Get(vr::kSmallestDelayMicroseconds);
  ASSERT_GT(smallest, 0u);
  EXPECT_NEAR(largest / 498.0, smallest / 40.0, 1.0) << "one cycle time";
  EXPECT_EQ(client_->Command(CommandCode::SetVelPropOutputWorkPar).result,
            common::kKernelVelPropOutputInactive);

  for (std::uint32_t delay : {largest + 1, smallest - 1}) {
    WriteStart(block, delay);
    EXPECT_EQ(client_->Command(CommandCode::ActivateVelPropOutputMode).result,
              common::kKernelVelPropOutputParameterInvalid)
        << delay;
  }
  const std::uint32_t delay = largest;
  WriteStart(block, delay);
  ASSERT_EQ(client_->Command(CommandCode::ActivateVelPropOutputMode).result,
            common::kKernelSuccess);
  WriteStart(block, delay);
  EXPECT_EQ(client_->Command(CommandCode::ActivateVelPropOutputMode).result,
            common::kKernelVelPropOutputAlreadyActive);

  ASSERT_EQ(client_->Command(CommandCode::GetVelPropOutputActPar).result, common::kKernelSuccess);
  EXPECT_EQ(block.Get(vr::kActive), 1u);
  EXPECT_EQ(block.Get(vr::kMode), 1u);
  EXPECT_EQ(block.Get(vr::kDelayMicroseconds), delay);
  EXPECT_EQ(block.Get(vr::kSmallestDelayMicroseconds), smallest) << "the configured one";
  EXPECT_EQ(block.Get(vr::kEnable), 0u);
  EXPECT_EQ(block.Get(vr::kGain), 1);
  EXPECT_EQ(block.Get(vr::kDivisor), 1);
  EXPECT_EQ(block.Get(vr::kOffset), 0);
  EXPECT_EQ(block.Get(vr::kEffectiveDelayMicroseconds), 0u);

  WriteParameters(block, 0, 1234);
  EXPECT_EQ(client_->Command(CommandCode::SetVelPropOutputWorkPar).result,
            common::kKernelVelPropOutputParameterInvalid);
  WriteParameters(block, 2, 1234);
  ASSERT_EQ(client_->Command(CommandCode::SetVelPropOutputWorkPar).result, common::kKernelSuccess);
  ASSERT_EQ(client_->Command(CommandCode::GetVelPropOutputActPar).result, common::kKernelSuccess);
  EXPECT_EQ(block.Get(vr::kEnable), 1u);
  EXPECT_EQ(block.Get(vr::kGain), 3);
  EXPECT_EQ(block.Get(vr::kDivisor), 2);
  EXPECT_EQ(block.Get(vr::kOffset), 1234);
  EXPECT_EQ(block.Get(vr::kEffectiveDelayMicroseconds), delay) << "at most the start delay";
  // No path runs: the ring is empty and the object sends the offset.
  EXPECT_TRUE(FrameLogShows("can0 214#D204\n")) << frames_;

  // The stop gives the fill level back: the shortest delay of the
  // configuration is allowed again, where the output's 498 cycles would
  // refuse it.
  ASSERT_EQ(client_->Command(CommandCode::DeactivateVelPropOutputMode).result,
            common::kKernelSuccess);
  ASSERT_EQ(client_->Command(CommandCode::GetVelPropOutputActPar).result, common::kKernelSuccess);
  EXPECT_EQ(block.Get(vr::kActive), 0u);
  EXPECT_EQ(block.Get(vr::kDelayMicroseconds), 0u);
  EXPECT_EQ(block.Get(vr::kOffset), 0);
  WriteStart(block, smallest);
  ASSERT_EQ(client_->Command(CommandCode::ActivateVelPropOutputMode).result,
            common::kKernelSuccess);

  // A later reset stops the output with its object: the identifier is free
  // for a new start afterwards.
  ASSERT_EQ(client_->Command(CommandCode::Reset).result, common::kKernelSuccess);
  ASSERT_EQ(client_->Command(CommandCode::GetVelPropOutputActPar).result, common::kKernelSuccess);
  EXPECT_EQ(block.Get(vr::kActive), 0u);
  WriteStart(block, smallest);
  EXPECT_EQ(client_->Command(CommandCode::ActivateVelPropOutputMode).result,
            common::kKernelSuccess);
  EXPECT_TRUE(client_->Command(CommandCode::CncExit).answered);
  EXPECT_TRUE(client_->Command(CommandCode::TerminateKernel).answered);
  EXPECT_TRUE(client_->AwaitKernelEnd(kAnswerTimeoutMs));
}
}  // namespace
}  // namespace vantor::kernel::testing
