// The drivers as another process meets them: the devhost program runs in
// this test's namespace, and the test opens its devices, claims them, runs
// cycles with the kernel's run record and carries an SDO upload to a
// simulated node and its answer back, on both channels of the card and
// through the parallel-port adapter's transfer modes.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "drivers/host/tests/devhost_process.h"
#include "drivers/host/tests/run_client.h"
#include "platform/devhost/client_connection.h"
#include "platform/devhost/clock.h"
#include "platform/os/runtime_dir.h"
#include "platform/os/tests/thread_classes.h"

namespace vantor::host::testing {
namespace {

namespace c = common;
namespace mr = common::message_record;
namespace eb = common::exchange_buffer;

// A process keeps the namespace of its first use, so every case of this
// process shares one, and each case ends its devhost before the next starts.
const std::string& TestNamespace() {
  static const std::string name = [] {
    std::string chosen = "devhost-drivers-" + std::to_string(::getpid());
    ::setenv("VANTOR_NAMESPACE", chosen.c_str(), 1);
    return chosen;
  }();
  return name;
}

// The card on can0 and can1 with the I/O module as node 10, and a
// parallel-port adapter on a bus of its own with another node 10.
constexpr std::string_view kCardAndAdapter = R"({
  "buses": [
    { "name": "can0", "bit_rate": 500000,
      "stations": [ { "kind": "canopen_io_module", "node_id": 10, "boot_time_ms": 1 } ] },
    { "name": "can1", "bit_rate": 500000 },
    { "name": "can2", "bit_rate": 500000,
      "stations": [ { "kind": "canopen_io_module", "node_id": 10, "boot_time_ms": 1 } ] }
  ],
  "pci_cards": [ { "name": "pci0", "channels": [ { "bus": "can0" }, { "bus": "can1" } ] } ],
  "parallel_ports": [ { "name": "lpt0", "base": "0x378", "irq": 7, "adapter": { "bus": "can2" } } ]
})";
constexpr std::string_view kPortWithoutAdapter = R"({
  "buses": [ { "name": "can0" } ],
  "parallel_ports": [ { "name": "lpt0", "base": "0x378", "irq": 7 } ]
})";

constexpr std::string_view kTarnis1 = "\\\\.\\tarnis1";
constexpr std::string_view kTarnis2 = "\\\\.\\tarnis2";
constexpr std::string_view kRavund = "\\\\.\\Ravund";
constexpr auto kOpenDeadline = std::chrono::seconds(10);
constexpr int kScriptedCycles = 100;
// The request goes out once every node has long booted.
constexpr int kRequestCycle = 20;
constexpr std::uint16_t kSdoRequestCobId = 0x60A;
constexpr std::uint16_t kSdoAnswerCobId = 0x58A;
constexpr std::size_t kRequestRecord = 14;
constexpr std::size_t kAnswerRecord = 13;
// The kernel's run for 2560 us: six ticks of 512 us.
constexpr std::uint64_t kRunCycleMicroseconds =
    KernelCycleDivider(2560) * std::uint64_t{kKernelTickMicroseconds};
static_assert(kRunCycleMicroseconds == 3072);

ClientRun AdapterRun() {
  ClientRun run;
  run.interfaceKind = 0;
  return run;
}
ClientRun ChannelTwoRun() {
  ClientRun run;
  run.channel = 2;
  return run;
}

std::uint8_t Code(c::MessageCode code) { return static_cast<std::uint8_t>(code); }

// Node 10 is asked for its device type (0x1000, sub-index 0) as the
// kernel asks: the request sent once and released, the answer received
// once into another record.
void ScriptSdoUpload(c::ExchangeBuffer& buffer) {
  auto request = *c::MessageRecordIn(buffer, kRequestRecord);
  request.Set(mr::kCode, Code(c::MessageCode::SendOnceAndRelease));
  request.Set(mr::kResult, c::message_result::kPending);
  request.Set(mr::kCobId, kSdoRequestCobId);
  request.Set(mr::kLength, std::uint8_t{8});
  const std::array<std::uint8_t, 8> upload{0x40, 0x00, 0x10, 0x00, 0, 0, 0, 0};
  std::copy(upload.begin(), upload.end(), request.MutableBytes(mr::kData).begin());
  auto answer = *c::MessageRecordIn(buffer, kAnswerRecord);
  answer.Set(mr::kCode, Code(c::MessageCode::StartSingleReceive));
  answer.Set(mr::kResult, c::message_result::kNothingReceived);
  answer.Set(mr::kCobId, kSdoAnswerCobId);
  answer.Set(mr::kLength, std::uint8_t{0});
}

struct ScriptOutcome {
  int cyclesExchanged = 0;
  int badStatuses = 0;
  int answeredAtCycle = -1;
  std::array<std::uint8_t, 8> answer{};
  std::uint64_t microsecondsCounted = 0;
};

// Exchanges `cycles` records, each answer the next request, with the SDO
// upload scripted into the record at kRequestCycle.
ScriptOutcome RunScriptedCycles(os::DeviceHandle& handle, int cycles) {
  ScriptOutcome outcome;
  Exchanger exchanger(handle);
  auto buffer = std::make_unique<c::ExchangeBuffer>();
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == kRequestCycle) ScriptSdoUpload(*buffer);
    if (!exchanger.Exchange(*buffer)) break;
    ++outcome.cyclesExchanged;
    if (buffer->Get(eb::kStatus) != c::kDriverSuccess) ++outcome.badStatuses;
    outcome.microsecondsCounted += buffer->Get(eb::kCycleMicroseconds);
    const auto answer = *c::MessageRecordIn(std::as_const(*buffer), kAnswerRecord);
    if (cycle >= kRequestCycle && outcome.answeredAtCycle < 0 &&
        answer.Get(mr::kCode) == Code(c::MessageCode::Release)) {
      outcome.answeredAtCycle = cycle;
      EXPECT_EQ(answer.Get(mr::kResult), c::message_result::kDone);
      EXPECT_EQ(answer.Get(mr::kCobId), kSdoAnswerCobId);
      const auto data = answer.GetBytes(mr::kData);
      std::copy(data.begin(), data.end(), outcome.answer.begin());
    }
  }
  return outcome;
}

// An expedited answer of four bytes to the upload of 0x1000, sub-index 0.
void ExpectDeviceTypeAnswer(const ScriptOutcome& outcome, int cycles) {
  EXPECT_EQ(outcome.cyclesExchanged, cycles);
  EXPECT_EQ(outcome.badStatuses, 0);
  ASSERT_GE(outcome.answeredAtCycle, kRequestCycle) << "the node's answer never came back";
  EXPECT_EQ(outcome.answer[0], 0x43);
  EXPECT_EQ(outcome.answer[1], 0x00);
  EXPECT_EQ(outcome.answer[2], 0x10);
  EXPECT_EQ(outcome.answer[3], 0x00);
}

// A helper client, started in this test's namespace, whose stderr the
// test reads.
class ClientProcess : public ChildProcess {
 public:
  bool Start() {
    char program[] = RUN_CLIENT_PROGRAM;
    char* argv[] = {program, nullptr};
    return Spawn(program, argv, environ);
  }
};

class DevhostDriversTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nameSpace_ = TestNamespace();
    folder_ = *os::RuntimeDirectory();
  }

  void TearDown() override {
    if (started_) {
      devhost_.Signal(SIGTERM);
      EXPECT_EQ(devhost_.WaitForExit(), 0) << devhost_.Output();
    }
    for (const std::string& file : files_) ::unlink(file.c_str());
    // The next case makes it again; after the last one nothing is left.
    ::rmdir(folder_.c_str());
  }

  std::string WriteFile(const std::string& name, std::string_view text) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path) << text;
    files_.push_back(path);
    return path;
  }

  // The devhost on the real clock, with `arguments`.
  void StartDevhost(const std::vector<std::string>& arguments = {}) {
    ASSERT_TRUE(devhost_.Start(nameSpace_, arguments));
    started_ = true;
    ASSERT_TRUE(devhost_.WaitForOutput("serving")) << devhost_.Output();
  }
  void StartWithMachine(std::string_view machine, std::string_view parameters = {}) {
    std::vector<std::string> arguments{"--machine", WriteFile("machine.json", machine)};
    if (!parameters.empty()) {
      arguments.push_back("--parameters");
      arguments.push_back(WriteFile("drivers.ini", parameters));
    }
    StartDevhost(arguments);
  }

  std::string FrameLog() {
    ControlClient control(folder_ + "/devhost.control");
    return control.Command("frame-log");
  }

  std::string nameSpace_;
  std::string folder_;
  DevhostProcess devhost_;
  bool started_ = false;
  std::vector<std::string> files_;
};

TEST_F(DevhostDriversTest, Tarnis1RunCarriesAnSdoUploadToANodeAndItsAnswerBack) {
  StartDevhost();
  auto opened = os::DeviceHandle::Open(kTarnis1);
  ASSERT_EQ(opened.error, os::DeviceOpenError::kNone);
  os::DeviceHandle& handle = opened.handle;
  ASSERT_EQ(DriverStatus(handle, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  ASSERT_EQ(StartClientRun(handle, {}), c::kDriverSuccess);
  EXPECT_EQ(StartClientRun(handle, {}), c::kDriverRunActive);

  const ScriptOutcome outcome = RunScriptedCycles(handle, kScriptedCycles);
  ExpectDeviceTypeAnswer(outcome, kScriptedCycles);
  // What the answers count adds up to whole cycles, at least one per answer.
  EXPECT_EQ(outcome.microsecondsCounted % kRunCycleMicroseconds, 0u);
  EXPECT_GE(outcome.microsecondsCounted, kScriptedCycles * kRunCycleMicroseconds);

  // The bus saw the request and the answer, each once.
  const std::string frames = FrameLog();
  const auto request = frames.find("can0 60A#4000100000000000");
  ASSERT_NE(request, std::string::npos) << frames;
  EXPECT_EQ(frames.find("can0 60A#", request + 1), std::string::npos) << "sent once";
  EXPECT_NE(frames.find("can0 58A#43001000", request), std::string::npos) << frames;

  EXPECT_EQ(DriverStatus(handle, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
}

// The buffered cycle on the real clock polls its time stamp's source (here
// node 10's first transmit PDO) once the tick has seen its SYNC leave, and
// the node answers the remote frame.
TEST_F(DevhostDriversTest, TheBufferedCyclePollsTheTimeStampSourceAfterItsSync) {
  constexpr std::size_t kNmtRecord = 14;
  constexpr std::size_t kSyncRecord = 5;
  constexpr std::uint16_t kSyncCobId = 0x080;
  constexpr std::uint16_t kTimeStampCobId = 0x18A;
  // The node is operational well before the first poll.
  constexpr int kSyncCycle = 10;
  // A loaded machine may starve a poll, which the driver then repeats: the
  // test runs until one is answered, within a bound.
  constexpr int kMaxCycles = 2000;
  constexpr int kLogReadEvery = 20;
  StartWithMachine(kCardAndAdapter);
  auto opened = os::DeviceHandle::Open(kTarnis1);
  ASSERT_EQ(opened.error, os::DeviceOpenError::kNone);
  os::DeviceHandle& handle = opened.handle;
  ASSERT_EQ(DriverStatus(handle, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  ClientRun run;
  run.pollBudget = 1000;  // cut to one tick by the driver
  ASSERT_EQ(StartClientRun(handle, run), c::kDriverSuccess);

  Exchanger exchanger(handle);
  auto buffer = std::make_unique<c::ExchangeBuffer>();
  auto start = *c::MessageRecordIn(*buffer, kNmtRecord);
  start.Set(mr::kCode, Code(c::MessageCode::SendOnceAndRelease));
  start.Set(mr::kCobId, std::uint16_t{0});
  start.Set(mr::kLength, std::uint8_t{2});
  start.MutableBytes(mr::kData)[0] = 0x01;
  start.MutableBytes(mr::kData)[1] = 10;
  std::string frames;
  bool answered = false;
  for (int cycle = 0; cycle < kMaxCycles && !answered; ++cycle) {
    if (cycle == kSyncCycle) {
      auto sync = *c::MessageRecordIn(*buffer, kSyncRecord);
      sync.Set(mr::kCode, Code(c::MessageCode::SynchronisedBufferedStart));
      sync.Set(mr::kCobId, kSyncCobId);
      sync.Set(mr::kSyncAnswerCobId, std::uint32_t{kTimeStampCobId});
      buffer->Set(eb::kGlobalMaskRequest, 1);
      buffer->Set(eb::kGlobalStandardMask, 0x7FF);
    }
    ASSERT_TRUE(exchanger.Exchange(*buffer)) << "cycle " << cycle;
    if (cycle > kSyncCycle && cycle % kLogReadEvery == 0) {
      frames += FrameLog();
      const auto poll = frames.find("can0 18A#R");
      answered =
          poll != std::string::npos && frames.find("can0 18A#0000", poll) != std::string::npos;
    }
  }
  const auto sync = *c::MessageRecordIn(std::as_const(*buffer), kSyncRecord);
  EXPECT_EQ(sync.Get(mr::kCode), Code(c::MessageCode::SynchronisationActive));
  EXPECT_EQ(sync.Get(mr::kResult), c::message_result::kDone) << "polling given up";
  EXPECT_EQ(DriverStatus(handle, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);

  frames += FrameLog();
  const auto firstSync = frames.find("can0 080#");
  const auto poll = frames.find("can0 18A#R");
  ASSERT_NE(poll, std::string::npos) << "never polled:\n" << frames;
  EXPECT_LT(firstSync, poll) << "polled before any SYNC";
  EXPECT_NE(frames.find("can0 18A#0000", poll), std::string::npos) << "never answered:\n" << frames;
}

TEST_F(DevhostDriversTest, EachDeviceAnswersItsVersion) {
  StartWithMachine(kCardAndAdapter);
  const struct {
    std::string_view path;
    std::array<std::uint16_t, 5> version;
  } kCases[] = {
      {kTarnis1, {2, 1, 70, 0, 10}},
      {kTarnis2, {2, 1, 70, 0, 10}},
      {kRavund, {0, 1, 55, 0, 41}},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.path);
    auto opened = os::DeviceHandle::Open(test.path);
    ASSERT_EQ(opened.error, os::DeviceOpenError::kNone);
    std::array<std::uint8_t, c::kDriverVersionRecordSize> answer{};
    const auto result = opened.handle.Control(c::IOCTL_CAN_GET_VERSION, {}, answer);
    ASSERT_EQ(result.status, os::kStatusSuccess);
    ASSERT_EQ(result.bytesReturned, answer.size());
    for (std::size_t word = 0; word < test.version.size(); ++word) {
      EXPECT_EQ(c::LoadLittleEndian<std::uint16_t>(&answer[2 * word]), test.version[word])
          << "word " << word;
    }
  }
}

TEST_F(DevhostDriversTest, AClaimRefusesEveryOtherOpenUntilItsHandleCloses) {
  StartDevhost();
  auto owner = os::DeviceHandle::Open(kTarnis1);
  ASSERT_EQ(owner.error, os::DeviceOpenError::kNone);
  auto unclaimedOther = os::DeviceHandle::Open(kTarnis1);
  EXPECT_EQ(unclaimedOther.error, os::DeviceOpenError::kNone) << "nobody claimed it yet";
  unclaimedOther.handle.Close();

  ASSERT_EQ(DriverStatus(owner.handle, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto refused = os::DeviceHandle::Open(kTarnis1);
    EXPECT_EQ(refused.error, os::DeviceOpenError::kRefused) << "attempt " << attempt;
    EXPECT_FALSE(refused.handle.valid());
  }
  owner.handle.Close();
  auto next = OpenWhenFree(kTarnis1, kOpenDeadline);
  ASSERT_EQ(next.error, os::DeviceOpenError::kNone);
  EXPECT_EQ(DriverStatus(next.handle, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
}

TEST_F(DevhostDriversTest, SigkillOfTheClientEndsItsRunAndFreesTheDevice) {
  StartDevhost();
  ClientProcess client;
  ASSERT_TRUE(client.Start());
  ASSERT_TRUE(client.WaitForOutput("running")) << client.Output();
  EXPECT_EQ(os::DeviceHandle::Open(kTarnis1).error, os::DeviceOpenError::kRefused)
      << "the client holds its claim";
  EXPECT_EQ(client.KillAndReap(), SIGKILL);

  auto next = OpenWhenFree(kTarnis1, kOpenDeadline);
  ASSERT_EQ(next.error, os::DeviceOpenError::kNone) << "the claim went with the client";
  ASSERT_EQ(DriverStatus(next.handle, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  ASSERT_EQ(StartClientRun(next.handle, {}), c::kDriverSuccess) << "the run went too";
  Exchanger exchanger(next.handle);
  auto buffer = std::make_unique<c::ExchangeBuffer>();
  ASSERT_TRUE(exchanger.Exchange(*buffer));
  EXPECT_EQ(buffer->Get(eb::kStatus), c::kDriverSuccess);
}

TEST_F(DevhostDriversTest, ChannelTwoRunsAloneOnItsOwnBus) {
  StartWithMachine(kCardAndAdapter);
  auto opened = os::DeviceHandle::Open(kTarnis2);
  ASSERT_EQ(opened.error, os::DeviceOpenError::kNone);
  ASSERT_EQ(DriverStatus(opened.handle, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  ClientRun onChannelOne = ChannelTwoRun();
  onChannelOne.channel = 1;
  EXPECT_EQ(StartClientRun(opened.handle, onChannelOne), c::kDriverInvalidRunRecord);
  ASSERT_EQ(StartClientRun(opened.handle, ChannelTwoRun()), c::kDriverSuccess);

  constexpr int kCycles = 30;
  const ScriptOutcome outcome = RunScriptedCycles(opened.handle, kCycles);
  EXPECT_EQ(outcome.cyclesExchanged, kCycles);
  EXPECT_EQ(outcome.badStatuses, 0);
  EXPECT_EQ(outcome.answeredAtCycle, -1) << "no node sits on channel 2's bus";
  EXPECT_EQ(outcome.microsecondsCounted % kRunCycleMicroseconds, 0u);
  EXPECT_GE(outcome.microsecondsCounted, kCycles * kRunCycleMicroseconds)
      << "channel 1 clocks the card";
  EXPECT_EQ(DriverStatus(opened.handle, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
}

// Both channels share the card's interrupt line: with both running, each
// handler must still see every tick. A cycle of one tick makes every tick
// count 512 us in the answers (a buffered run adds the ticks of cycles its
// client missed to the next answer), so a handler that missed ticks would
// count short of the simulated time that passed.
TEST_F(DevhostDriversTest, BothChannelsRunTogetherAndEachCountsEveryTick) {
  StartWithMachine(kCardAndAdapter);
  auto one = os::DeviceHandle::Open(kTarnis1);
  auto two = os::DeviceHandle::Open(kTarnis2);
  ASSERT_EQ(one.error, os::DeviceOpenError::kNone);
  ASSERT_EQ(two.error, os::DeviceOpenError::kNone);
  ClientRun runOne;
  runOne.cycleDivider = 1;
  ClientRun runTwo = ChannelTwoRun();
  runTwo.cycleDivider = 1;

  ControlClient control(folder_ + "/devhost.control");
  const auto simulatedNow = [&control] { return std::atoll(control.Command("sim-now").c_str()); };
  const long long beforeStarts = simulatedNow();
  ASSERT_EQ(StartClientRun(one.handle, runOne), c::kDriverSuccess);
  ASSERT_EQ(StartClientRun(two.handle, runTwo), c::kDriverSuccess);
  const long long afterStarts = simulatedNow();

  struct Counted {
    std::uint64_t microseconds = 0;
    std::atomic<int> answers = 0;
    int failures = 0;
  };
  const auto exchangeOnce = [](Exchanger& exchanger, Counted& counted) {
    auto buffer = std::make_unique<c::ExchangeBuffer>();
    if (!exchanger.Exchange(*buffer) || buffer->Get(eb::kStatus) != c::kDriverSuccess) {
      ++counted.failures;
      return false;
    }
    ++counted.answers;
    counted.microseconds += buffer->Get(eb::kCycleMicroseconds);
    return true;
  };
  std::atomic<bool> stop{false};
  const auto count = [&stop, &exchangeOnce](Exchanger& exchanger, Counted& counted) {
    while (!stop.load() && exchangeOnce(exchanger, counted)) {
    }
  };
  Exchanger exchangerOne(one.handle);
  Exchanger exchangerTwo(two.handle);
  Counted countedOne;
  Counted countedTwo;
  std::thread threadOne(count, std::ref(exchangerOne), std::ref(countedOne));
  std::thread threadTwo(count, std::ref(exchangerTwo), std::ref(countedTwo));
  // At least a second, and on a loaded machine until both have answered
  // often enough.
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(20) &&
         (std::chrono::steady_clock::now() - start < std::chrono::seconds(1) ||
          countedOne.answers < 20 || countedTwo.answers < 20)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  stop = true;
  threadOne.join();
  threadTwo.join();
  // One answer more on each channel after this reading: it brings every
  // tick up to the reading into the count.
  const long long beforeLastAnswers = simulatedNow();
  exchangeOnce(exchangerOne, countedOne);
  exchangeOnce(exchangerTwo, countedTwo);
  const long long afterLastAnswers = simulatedNow();
  EXPECT_EQ(DriverStatus(one.handle, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_EQ(DriverStatus(two.handle, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);

  // Simulated nanoseconds: the count lies between the time from after the
  // starts to before the last answers and the time from before the starts
  // to after them.
  const double atLeast = static_cast<double>(beforeLastAnswers - afterStarts) / 1000.0;
  const double atMost = static_cast<double>(afterLastAnswers - beforeStarts) / 1000.0;
  ASSERT_GT(atLeast, 100000.0) << "the real clock ran";
  for (const Counted* counted : {&countedOne, &countedTwo}) {
    SCOPED_TRACE(counted == &countedOne ? "channel 1" : "channel 2");
    EXPECT_EQ(counted->failures, 0);
    EXPECT_GE(counted->answers.load(), 20);
    EXPECT_EQ(counted->microseconds % kKernelTickMicroseconds, 0u);
    EXPECT_LE(static_cast<double>(counted->microseconds), atMost + kKernelTickMicroseconds);
    EXPECT_GE(static_cast<double>(counted->microseconds), atLeast - kKernelTickMicroseconds)
        << "ticks went missing: " << counted->microseconds << " us counted in " << atLeast;
  }
}

// The adapter's transfer modes: strobed (2 and 4) and EPP (3).
class RavundModeTest : public DevhostDriversTest, public ::testing::WithParamInterface<int> {};

TEST_P(RavundModeTest, CarriesTheSdoUploadThroughTheAdapter) {
  StartWithMachine(kCardAndAdapter,
                   "[ravund]\nParallelPortMode = " + std::to_string(GetParam()) + "\n");
  auto opened = os::DeviceHandle::Open(kRavund);
  ASSERT_EQ(opened.error, os::DeviceOpenError::kNone);
  ASSERT_EQ(DriverStatus(opened.handle, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  ASSERT_EQ(StartClientRun(opened.handle, AdapterRun()), c::kDriverSuccess);
  ExpectDeviceTypeAnswer(RunScriptedCycles(opened.handle, kScriptedCycles), kScriptedCycles);
  const std::string frames = FrameLog();
  EXPECT_NE(frames.find("can2 60A#4000100000000000"), std::string::npos) << frames;
  EXPECT_EQ(frames.find("can0 60A#"), std::string::npos) << "the card's bus stays out of it";
  EXPECT_EQ(DriverStatus(opened.handle, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
}

INSTANTIATE_TEST_SUITE_P(Modes, RavundModeTest, ::testing::Values(2, 3, 4),
                         [](const auto& info) { return "Mode" + std::to_string(info.param); });

TEST_F(DevhostDriversTest, RavundStartFailsWithoutAnAdapterOnThePort) {
  StartWithMachine(kPortWithoutAdapter);
  auto opened = os::DeviceHandle::Open(kRavund);
  ASSERT_EQ(opened.error, os::DeviceOpenError::kNone);
  EXPECT_EQ(StartClientRun(opened.handle, AdapterRun()), c::kDriverNoController);
  Exchanger exchanger(opened.handle);
  auto buffer = std::make_unique<c::ExchangeBuffer>();
  ASSERT_TRUE(exchanger.Exchange(*buffer));
  EXPECT_EQ(buffer->Get(eb::kStatus), c::kDriverNoRun) << "no run was left behind";
}

// The threads that pace a kernel's cycle, read back from the running
// program by the names the system shows for them, while a client runs
// cycles: with the right to real-time scheduling each runs in its class, in
// the path's order; without it the program runs at normal priority and the
// cycles complete just the same. Either way its log says what it got.
struct RealTimeCase {
  const char* name;
  const char* launcher;
  bool realTime;
  const char* report;
};

void PrintTo(const RealTimeCase& c, std::ostream* out) { *out << c.name; }

class DevhostRealTimeTest : public DevhostDriversTest,
                            public ::testing::WithParamInterface<RealTimeCase> {};

TEST_P(DevhostRealTimeTest, TheCyclesPathRunsInItsClassWherePermittedAndCyclesEitherWay) {
  const RealTimeCase& c = GetParam();
  if (c.realTime && !os::testing::RealTimePermitted()) GTEST_SKIP() << "not permitted here";
  ASSERT_TRUE(devhost_.Start(nameSpace_, {}, c.launcher));
  started_ = true;
  ASSERT_TRUE(devhost_.WaitForOutput("serving")) << devhost_.Output();
  auto opened = os::DeviceHandle::Open(kTarnis1);
  ASSERT_EQ(opened.error, os::DeviceOpenError::kNone);
  ASSERT_EQ(DriverStatus(opened.handle, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  ASSERT_EQ(StartClientRun(opened.handle, {}), c::kDriverSuccess);
  ExpectDeviceTypeAnswer(RunScriptedCycles(opened.handle, kScriptedCycles), kScriptedCycles);

  using os::testing::ThreadsNamed;
  const auto clock = ThreadsNamed(devhost_.Pid(), devhost::RealClock::kTimerThreadName);
  const auto deferredCall = ThreadsNamed(devhost_.Pid(), "tarnis1.dpc");
  const auto connections = ThreadsNamed(devhost_.Pid(), devhost::ClientConnection::kThreadName);
  ASSERT_EQ(clock.size(), 1u);
  ASSERT_EQ(deferredCall.size(), 1u);
  ASSERT_FALSE(connections.empty());
  const int expectedClass = c.realTime ? SCHED_FIFO : SCHED_OTHER;
  EXPECT_EQ(clock[0].schedulingClass, expectedClass);
  EXPECT_EQ(deferredCall[0].schedulingClass, expectedClass);
  for (const auto& connection : connections) {
    EXPECT_EQ(connection.schedulingClass, expectedClass);
    if (c.realTime) {
      EXPECT_LT(connection.level, deferredCall[0].level);
    }
  }
  if (c.realTime) {
    EXPECT_LT(deferredCall[0].level, clock[0].level);
  }
  EXPECT_NE(devhost_.Output().find(c.report), std::string::npos) << devhost_.Output();
  EXPECT_EQ(DriverStatus(opened.handle, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
}

INSTANTIATE_TEST_SUITE_P(Rights, DevhostRealTimeTest,
                         ::testing::Values(RealTimeCase{"Permitted", nullptr, true, "granted"},
                                           RealTimeCase{"Refused", WITHOUT_REALTIME_PROGRAM, false,
                                                        "refused"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantor::host::testing
