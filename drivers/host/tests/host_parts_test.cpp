// The devhost program's parts: its command line, the drivers' loading, the
// frame log and the machine's control commands.
#include <gtest/gtest.h>

#include <chrono>

#include <sstream>
#include <string>
#include <vector>

#include "drivers/host/devhost_options.h"
#include "drivers/host/driver_loading.h"
#include "drivers/host/frame_log.h"
#include "drivers/host/machine_control.h"
#include "drivers/host/machine_loading.h"
#include "drivers/host/tests/glue_fixture.h"

namespace vantor::host::testing {
namespace {

// ---- command line ------------------------------------------------------------

TEST(DevhostOptionsTest, AcceptsTheDocumentedOptions) {
  std::string error;
  auto options = ParseDevhostOptions({}, error);
  ASSERT_TRUE(options);
  EXPECT_TRUE(options->machinePath.empty());
  EXPECT_EQ(options->clock, ClockChoice::kReal);

  options = ParseDevhostOptions(
      {"--machine", "m.json", "--candump", "frames.log", "--parameters", "drivers.ini", "--fast"},
      error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->machinePath, "m.json");
  EXPECT_EQ(options->parametersPath, "drivers.ini");
  EXPECT_EQ(options->candumpPath, "frames.log");
  EXPECT_EQ(options->clock, ClockChoice::kFast);

  EXPECT_FALSE(options->zeroBasedLog);

  options = ParseDevhostOptions({"--virtual-clock", "--zero-based-log"}, error);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->clock, ClockChoice::kStepped);
  EXPECT_TRUE(options->zeroBasedLog);
}

TEST(DevhostOptionsTest, RefusesWhatItCannotMeanWithAReason) {
  const struct {
    std::vector<std::string> arguments;
    const char* reason;
  } kCases[] = {
      {{"--machine"}, "--machine needs a file name"},
      {{"--machine", ""}, "--machine needs a file name"},
      {{"--candump"}, "--candump needs a file name"},
      {{"--parameters"}, "--parameters needs a file name"},
      {{"--machine", "a", "--machine", "b"}, "--machine given twice"},
      {{"--fast", "--virtual-clock"}, "choose one clock: --virtual-clock or --fast"},
      {{"machine.json"}, "unknown argument \"machine.json\""},
  };
  for (const auto& test : kCases) {
    std::string error;
    EXPECT_FALSE(ParseDevhostOptions(test.arguments, error));
    EXPECT_EQ(error, test.reason);
  }
}

// ---- drivers --------------------------------------------------------------------

std::vector<std::string> unloaded;

class RecordingDriver final : public LoadedDriver {
 public:
  explicit RecordingDriver(std::string name) : name_(std::move(name)) {}
  ~RecordingDriver() override { unloaded.push_back(name_); }

 private:
  std::string name_;
};

devhost::IoStatus LoadFirst(devhost::DriverHost&, const MachineResources& resources,
                            std::unique_ptr<LoadedDriver>& driver) {
  if (resources.pciFunctions.empty()) return os::kStatusNoSuchDevice;
  driver = std::make_unique<RecordingDriver>("first");
  return os::kStatusSuccess;
}

devhost::IoStatus RefuseToLoad(devhost::DriverHost&, const MachineResources&,
                               std::unique_ptr<LoadedDriver>&) {
  return 0xC0000041;
}

devhost::IoStatus SucceedWithoutDriver(devhost::DriverHost&, const MachineResources&,
                                       std::unique_ptr<LoadedDriver>&) {
  return os::kStatusSuccess;
}

devhost::IoStatus LoadThird(devhost::DriverHost&, const MachineResources&,
                            std::unique_ptr<LoadedDriver>& driver) {
  driver = std::make_unique<RecordingDriver>("third");
  return os::kStatusSuccess;
}

class DriverSetTest : public GlueFixture {};

TEST_F(DriverSetTest, LoadsInTableOrderSkipsRefusalsAndUnloadsInReverse) {
  const DriverRegistration table[] = {{"first", &LoadFirst},
                                      {"refuses", &RefuseToLoad},
                                      {"none", nullptr},
                                      {"empty", &SucceedWithoutDriver},
                                      {"third", &LoadThird}};
  std::vector<std::string> log;
  unloaded.clear();
  {
    DriverSet drivers;
    drivers.Load(table, *host_, machine_->Resources(),
                 [&log](const std::string& line) { log.push_back(line); });
    EXPECT_EQ(drivers.LoadedNames(), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(
        log,
        (std::vector<std::string>{
            "first: loaded", "refuses: load failed with 0xC0000041", "none: no entry, not loaded",
            "empty: its entry succeeded but left no driver, not loaded", "third: loaded"}));
  }
  EXPECT_EQ(unloaded, (std::vector<std::string>{"third", "first"}));
}

TEST_F(DriverSetTest, DriversAreGivenTheMachinesResources) {
  const MachineResources& resources = machine_->Resources();
  ASSERT_EQ(resources.pciFunctions.size(), 1u);
  const PciFunctionResources& card = resources.pciFunctions[0];
  EXPECT_EQ(card.name, "pci0");
  EXPECT_EQ(card.slot, (devhost::PciSlot{0, 4, 0}));
  EXPECT_EQ(card.vendorId, 0x10B5);
  EXPECT_EQ(card.deviceId, 0x9030);
  EXPECT_EQ(card.bars[0].physical, kBridgeWindow);
  EXPECT_FALSE(card.bars[0].io);
  EXPECT_TRUE(card.bars[1].io);
  EXPECT_EQ(card.bars[2].physical, kControllerWindow);
  EXPECT_EQ(card.bars[2].length, 0x1000u);
  EXPECT_EQ(card.bars[3].length, 0u);
  EXPECT_EQ(card.interrupt.vector, kCardInterrupt);
  EXPECT_EQ(card.interrupt.mode, devhost::InterruptMode::kLevelSensitive);

  ASSERT_EQ(resources.parallelPorts.size(), 1u);
  const ParallelPortResources& port = resources.parallelPorts[0];
  EXPECT_EQ(port.number, 0u);
  EXPECT_EQ(port.base, 0x378);
  EXPECT_EQ(port.interrupt.vector, 7u);
  EXPECT_EQ(port.interrupt.mode, devhost::InterruptMode::kLatched);
}

TEST(SimulatedMachineTest, PlacementRefusesRangesTakenAlreadyAndASecondAttach) {
  // Something else sits where the card's bridge window would go.
  struct Floating final : devhost::RegisterModel {
    std::uint8_t Read8(std::uint32_t) override { return 0xFF; }
    void Write8(std::uint32_t, std::uint8_t) override {}
  } other;
  devhost::VirtualClock clock;
  sim::MachineLoadResult loaded = sim::LoadMachineDescription(kGlueMachine, MachineStationKinds());
  ASSERT_TRUE(loaded) << loaded.error;
  SimulatedMachine machine(clock, std::move(loaded.machine));
  devhost::DriverHost host(clock);
  ASSERT_TRUE(host.Hardware().AddMemoryRange(kBridgeWindow, 0x80, other));
  std::string error;
  EXPECT_FALSE(machine.Attach(host, error));
  EXPECT_EQ(error, "pci0: window 0 overlaps a memory range placed already");
  EXPECT_FALSE(machine.Attach(host, error));
  EXPECT_EQ(error, "the machine is attached already");
  machine.Detach();
}

// ---- frame log -------------------------------------------------------------------

TEST(FrameLogTest, KeepsWholeLinesWritesThemToTheFileAndDropsTheOldest) {
  std::ostringstream file;
  FrameLog log(&file);
  log.Stream() << "(0.000100) can0 701#00\n(0.0002";
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"(0.000100) can0 701#00"}));
  log.Stream() << "00) can0 702#00\n";
  EXPECT_EQ(log.Take(), (std::vector<std::string>{"(0.000200) can0 702#00"}));
  EXPECT_TRUE(log.Take().empty());
  EXPECT_EQ(file.str(), "(0.000100) can0 701#00\n(0.000200) can0 702#00\n");

  FrameLog bounded;
  for (std::size_t i = 0; i < FrameLog::kCapacity + 3; ++i) bounded.Stream() << i << '\n';
  const auto lines = bounded.Take();
  ASSERT_EQ(lines.size(), FrameLog::kCapacity);
  EXPECT_EQ(lines.front(), "3");
}

// ---- control commands ---------------------------------------------------------------

class MachineControlTest : public GlueFixture {
 protected:
  MachineControlTest() { AddMachineControlCommands(*host_, *machine_, frames_); }

  std::string Run(const std::string& line) { return host_->RunControlCommand(line); }

  FrameLog frames_;
};

TEST_F(MachineControlTest, FrameLogShowsEveryBusInCandumpFormat) {
  {
    SimulationPump::ModelAccess access(machine_->Pump());
    sim::CanFrame frame;
    frame.identifier = 0x181;
    frame.length = 2;
    frame.data[0] = 0x12;
    frame.data[1] = 0x34;
    machine_->Models().FindBus("can1")->DeliverNow(frame);
  }
  EXPECT_EQ(Run("frame-log"), "(0000000000.000000) can1 181#1234\n");
  EXPECT_EQ(Run("frame-log"), "");
  EXPECT_EQ(Run("frame-log all").rfind("error", 0), 0u);
}

TEST_F(MachineControlTest, WallClockStampsCountFromTheStartOfSimulatedTime) {
  const auto seconds = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const long long before = seconds();
  StampFramesWithWallClock(*machine_);
  const long long after = seconds();
  clock_.Advance(devhost::MillisecondsToTicks(2500));
  {
    SimulationPump::ModelAccess access(machine_->Pump());
    sim::CanFrame frame;
    frame.identifier = 0x701;
    frame.length = 1;
    machine_->Models().FindBus("can0")->DeliverNow(frame);
  }
  const std::string line = Run("frame-log");
  ASSERT_EQ(line.size(), std::string("(0000000000.000000) can0 701#00\n").size()) << line;
  const long long stamped = std::stoll(line.substr(1, 10));
  EXPECT_GE(stamped, before + 2) << line;
  EXPECT_LE(stamped, after + 3) << line;
  EXPECT_EQ(line.substr(19), " can0 701#00\n");
}

TEST_F(MachineControlTest, ReadsTimeAndTestPortMarks) {
  clock_.Advance(devhost::MicrosecondsToTicks(250));
  host_->Hardware().PortOut8(0x300, 0x01);
  host_->Hardware().PortOut8(0x300, 0x00);
  EXPECT_EQ(Run("sim-now"), "250000");
  EXPECT_EQ(Run("test-port 0x300"), "250000 0x01\n250000 0x00\n");
  EXPECT_EQ(Run("test-port 0x301").rfind("error", 0), 0u);
}

TEST_F(MachineControlTest, InjectsBusAndAdapterFaultsAndRefusesBadArguments) {
  EXPECT_EQ(Run("bus-fault can0 no-ack 2"), "ok");
  EXPECT_EQ(Run("bus-fault can0 error-frames 1 0x701"), "ok");
  EXPECT_EQ(Run("bus-fault can2 error-frames 3"), "ok");
  EXPECT_EQ(Run("adapter-stuck lpt0 on"), "ok");
  {
    SimulationPump::ModelAccess access(machine_->Pump());
    EXPECT_TRUE(machine_->Models().FindParallelAdapter("lpt0")->Busy());
  }
  EXPECT_EQ(Run("adapter-stuck lpt0 off"), "ok");

  for (const char* bad :
       {"bus-fault", "bus-fault can0", "bus-fault can9 no-ack 1", "bus-fault can0 no-ack lots",
        "bus-fault can0 no-ack 1 2", "bus-fault can0 error-frames 1 0x800", "bus-fault can0 melt 1",
        "adapter-stuck lpt0", "adapter-stuck lpt1 on", "adapter-stuck lpt0 maybe"}) {
    EXPECT_EQ(Run(bad).rfind("error", 0), 0u) << bad;
  }
}

// ---- machines ----------------------------------------------------------------------

TEST(HostMachineTest, TheBuiltInMachineIsTheSampleMachine) {
  sim::MachineLoadResult loaded = LoadHostMachine("");
  ASSERT_TRUE(loaded) << loaded.error;
  EXPECT_NE(DefaultHostMachineDescription().find("\"canopen_ds402_drive\", \"node_id\": 3"),
            std::string_view::npos);
  ASSERT_NE(loaded.machine->FindPciCard("pci0"), nullptr);
  EXPECT_NE(loaded.machine->FindBus("can0"), nullptr);
  EXPECT_NE(loaded.machine->FindBus("can1"), nullptr);
  EXPECT_TRUE(loaded.machine->ParallelPorts().empty());
}

TEST(HostMachineTest, AMissingFileIsNamedInTheError) {
  sim::MachineLoadResult loaded = LoadHostMachine("/nonexistent/machine.json");
  EXPECT_FALSE(loaded);
  EXPECT_NE(loaded.error.find("/nonexistent/machine.json"), std::string::npos);
}

}  // namespace
}  // namespace vantor::host::testing
