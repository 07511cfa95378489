// The parallel-port driver on the simulated port and adapter: its service
// key, the attach to the system's port device, runs through strobed and EPP
// transfers, the start's failures, and the port requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <vector>

#include "drivers/canlayer/tests/bus_peer.h"
#include "drivers/ravund/parallel_port_requests.h"
#include "drivers/ravund/ravund_entry.h"
#include "drivers/ravund/ravund_parameters.h"
#include "drivers/tarnis1/tests/driver_host_fixture.h"

namespace vantor::ravund {
namespace {

namespace c = common;
using frontends::testing::DriverHostFixture;
using frontends::testing::RunRecordFields;

constexpr std::uint16_t kBase = 0x378;
constexpr std::uint16_t kControlPort = kBase + 2;
constexpr std::uint16_t kEppAddressPort = kBase + 3;
constexpr devhost::Ticks kCycle = devhost::MicrosecondsToTicks(2560);

constexpr std::string_view kPortWithoutAdapter = R"({
  "buses": [ { "name": "can0" } ],
  "parallel_ports": [ { "name": "lpt0", "base": "0x378", "irq": 7 } ]
})";
// An older port: no extended control register, EPP registers, and a data
// latch that cannot turn round.
constexpr std::string_view kPlainPort = R"({
  "buses": [ { "name": "can0", "stations": [ { "kind": "canopen_io_module", "node_id": 12, "boot_time_ms": 1 } ] } ],
  "parallel_ports": [ { "name": "lpt0", "base": "0x378", "irq": 7, "extended_control": false,
                        "bidirectional": false, "adapter": { "bus": "can0" } } ]
})";
constexpr std::string_view kNoParallelPort = R"({ "buses": [ { "name": "can0" } ] })";

RunRecordFields AdapterRecord() {
  RunRecordFields fields;
  fields.kind = 0;
  return fields;
}

class RavundTest : public DriverHostFixture {
 protected:
  explicit RavundTest(std::string_view description = frontends::testing::kTestMachine)
      : DriverHostFixture(description) {}

  void UnloadDrivers() override {
    ravund_.reset();
    ports_.reset();
  }
  void Load(std::uint32_t mode) {
    host_->Parameters().SetDword(kServiceKey, "ParallelPortMode", mode);
    ASSERT_EQ(SystemParallelPortDriverEntry(*host_, machine_->Resources(), ports_),
              os::kStatusSuccess);
    ASSERT_EQ(RavundDriverEntry(*host_, machine_->Resources(), ravund_), os::kStatusSuccess);
  }
  bool TickLineOn() {
    return Models([](sim::Machine& m) {
      return !m.FindParallelAdapter("lpt0")->Controller().Port2PinHigh(2);
    });
  }
  RavundDriver& Driver() { return static_cast<LoadedRavund&>(*ravund_).Driver(); }
  SystemParallelPort* SystemPort() {
    auto& loaded = static_cast<LoadedSystemParallelPorts&>(*ports_);
    return loaded.ports.empty() ? nullptr : loaded.ports.front().get();
  }
  std::uint32_t StartRun(const std::shared_ptr<devhost::FileObject>& file,
                         const RunRecordFields& fields) {
    return StatusWhileStepping(file, c::IOCTL_CAN_START_RUN, MakeRunRecord(fields).Bytes());
  }
  // The values written to `port` since the log was last taken.
  std::vector<std::uint8_t> WritesTo(std::uint16_t port) {
    std::vector<std::uint8_t> values;
    for (const devhost::AccessRecord& access : host_->Hardware().Log().Take()) {
      if (access.kind == devhost::AccessKind::kPortOut && access.address == port)
        values.push_back(static_cast<std::uint8_t>(access.value));
    }
    return values;
  }
  void RunExchanges(const std::shared_ptr<devhost::FileObject>& file, int cycles) {
    for (int cycle = 0; cycle < cycles; ++cycle) {
      const auto reply = Exchange(file);
      ASSERT_TRUE(AdvanceUntil([&] { return reply->Done(); }, 3 * kCycle)) << "cycle " << cycle;
      ASSERT_EQ(reply->Status(), os::kStatusSuccess);
      EXPECT_EQ(reply->Word(c::exchange_buffer::kStatus.kOffset), c::kDriverSuccess);
      EXPECT_EQ(reply->Word(c::exchange_buffer::kCycleMicroseconds.kOffset), 2560u);
    }
  }

  std::unique_ptr<host::LoadedDriver> ports_;
  std::unique_ptr<host::LoadedDriver> ravund_;
};

TEST_F(RavundTest, ServiceKeyValuesAndTheirDefaults) {
  const RavundParameters defaults = ReadRavundParameters(host_->Parameters());
  EXPECT_EQ(defaults.parallelPortNumber, 0u);
  EXPECT_EQ(defaults.autoConfiguration, 1u);
  EXPECT_EQ(defaults.baseAddress, 0x378u);
  EXPECT_EQ(defaults.interruptVector, 7u);
  EXPECT_EQ(defaults.parallelPortMode, 2u);
  EXPECT_EQ(defaults.interruptLevel, 7u);
  EXPECT_EQ(defaults.interruptMode, 1u);
  EXPECT_FALSE(defaults.testPortAddress.has_value());

  std::string error;
  ASSERT_TRUE(host_->Parameters().Parse(
      "[ravund]\nParallelPortNumber = 1\nAutoConfiguration = 0\nBaseAdress = 0x278\n"
      "InterruptVector = 5\nParallelPortMode = 3\n[ravund\\Parameters]\nTESTPORT_BASEADR = 0x300\n",
      error))
      << error;
  const RavundParameters read = ReadRavundParameters(host_->Parameters());
  EXPECT_EQ(read.parallelPortNumber, 1u);
  EXPECT_EQ(read.autoConfiguration, 0u);
  EXPECT_EQ(read.baseAddress, 0x278u);
  EXPECT_EQ(read.interruptVector, 5u);
  EXPECT_EQ(read.parallelPortMode, 3u);
  EXPECT_EQ(read.testPortAddress, std::optional<std::uint16_t>(0x300));
}

// Service-key values that name no port of the 16-bit port space, or whose
// registers would wrap round onto other ports, are refused: the driver
// then uses no port at all.
TEST_F(RavundTest, ServiceKeyValuesThatNameNoPortAreRefused) {
  struct Case {
    const char* name;
    std::uint32_t base;
    std::uint32_t mode;
  };
  for (const Case& test : {Case{"no address", 0, 4}, Case{"above 16 bits, onto 0x378", 0x10378, 4},
                           Case{"extended control past the port space", 0xFC00, 2},
                           Case{"EPP data past the port space", 0xFFFD, 1}}) {
    SCOPED_TRACE(test.name);
    UnloadDrivers();
    host_->Parameters().SetDword(kServiceKey, "AutoConfiguration", 0);
    host_->Parameters().SetDword(kServiceKey, "BaseAdress", test.base);
    Load(test.mode);
    EXPECT_FALSE(Driver().PortAttached());
  }
  // A test port address beyond 16 bits would write another port instead.
  host_->Parameters().SetDword(kParametersSubkey, "TESTPORT_BASEADR", 0x10378);
  EXPECT_FALSE(ReadRavundParameters(host_->Parameters()).testPortAddress.has_value());
}

TEST_F(RavundTest, AnswersItsVersionAndRefusesOtherKindsAndTheCardsRequests) {
  Load(2);
  const auto file = Open("Ravund");
  const std::vector<std::uint8_t> expected = {0, 0, 1, 0, 55, 0, 0, 0, 41, 0};
  EXPECT_EQ(Send(file, c::IOCTL_CAN_GET_VERSION)->Data(), expected);
  EXPECT_EQ(Send(file, c::IOCTL_CAN_CH2_GET_RESOURCES)->Status(), os::kStatusInvalidParameter);
  RunRecordFields card;  // kind 2
  EXPECT_EQ(StartRun(file, card), c::kDriverInvalidRunRecord);
  EXPECT_FALSE(Driver().PortAllocated());
}

// Every transfer mode the default port offers: the strobed modes show
// their strobe patterns on the control register, the EPP mode its address
// cycles; either way the cycle runs and the port goes back at the stop.
struct TransferCase {
  std::uint32_t mode;
  bool strobed;
};

class RavundTransferTest : public RavundTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(RavundTransferTest, RunsTheCycleAndLendsThePortOnlyForTheRun) {
  Load(GetParam().mode);
  const auto file = Open("Ravund");
  host_->Hardware().Log().Enable(true);
  ASSERT_EQ(StartRun(file, AdapterRecord()), c::kDriverSuccess);
  EXPECT_TRUE(SystemPort()->Allocated());
  const std::vector<std::uint8_t> controls = WritesTo(kControlPort);
  if (GetParam().strobed) {
    for (const std::uint8_t pattern :
         {kControlAddressStrobe, kControlDataStrobe, kControlReadStrobe}) {
      EXPECT_NE(std::find(controls.begin(), controls.end(), pattern), controls.end())
          << "control pattern " << int{pattern};
    }
  } else {
    host_->Hardware().Log().Enable(true);
    RunExchanges(file, 1);
    EXPECT_FALSE(WritesTo(kEppAddressPort).empty()) << "registers reached through EPP";
  }
  RunExchanges(file, 5);
  EXPECT_TRUE(TickLineOn());
  EXPECT_EQ(StatusWhileStepping(file, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
  EXPECT_FALSE(SystemPort()->Allocated());
  EXPECT_FALSE(Driver().PortAllocated());
  EXPECT_EQ(host_->Interrupt(7).HandlerCount(), 0u);
  EXPECT_FALSE(TickLineOn()) << "the port goes back without tick edges";
}

INSTANTIATE_TEST_SUITE_P(Modes, RavundTransferTest,
                         ::testing::Values(TransferCase{2, true}, TransferCase{4, true},
                                           TransferCase{3, false}),
                         [](const auto& info) { return "Mode" + std::to_string(info.param.mode); });

// A single receive that finds a frame which overwrote an unread one: the
// adapter's driver reports result 3 and keeps the newest frame.
TEST_F(RavundTest, SingleReceiveReportsAnOverwrittenFrame) {
  constexpr std::uint16_t kCobId = 0x123;
  constexpr std::size_t kRecord3 = 28 * 2;
  canlayer::testing::BusPeer peer;
  Models([&](sim::Machine& m) { m.FindBus("can2")->Attach(&peer); });
  struct OnExit {
    std::function<void()> run;
    ~OnExit() { run(); }
  } detach{[&] { Models([&](sim::Machine& m) { m.FindBus("can2")->Detach(&peer); }); }};

  Load(2);
  const auto file = Open("Ravund");
  ASSERT_EQ(StartRun(file, AdapterRecord()), c::kDriverSuccess);
  namespace eb = c::exchange_buffer;
  c::ExchangeBuffer request;
  request.Set(eb::kGlobalMaskRequest, 1);
  request.Set(eb::kGlobalStandardMask, 0x7FF);
  request.Store<std::uint8_t>(kRecord3, 18);  // start a single receive
  request.Store<std::uint16_t>(kRecord3 + 2, kCobId);
  const auto armed = Exchange(file, request);
  ASSERT_TRUE(AdvanceUntil([&] { return armed->Done(); }, 3 * kCycle));
  ASSERT_EQ(armed->Data()[kRecord3], 19);
  ASSERT_EQ(armed->Data()[kRecord3 + 1], 2) << "nothing received yet";

  Models([&](sim::Machine&) {
    peer.Queue(canlayer::testing::DataFrame(kCobId, {1}));
    peer.Queue(canlayer::testing::DataFrame(kCobId, {2}));
  });
  Advance(devhost::MillisecondsToTicks(1));
  c::ExchangeBuffer next;
  next.Store<std::uint8_t>(kRecord3, 19);
  next.Store<std::uint16_t>(kRecord3 + 2, kCobId);
  const auto reply = Exchange(file, next);
  ASSERT_TRUE(AdvanceUntil([&] { return reply->Done(); }, 3 * kCycle));
  const auto data = reply->Data();
  EXPECT_EQ(data[kRecord3], 0) << "released after the read";
  EXPECT_EQ(data[kRecord3 + 1], 3);
  EXPECT_EQ(data[kRecord3 + 4], 1);
  EXPECT_EQ(data[kRecord3 + 5], 2);
}

TEST_F(RavundTest, ClosingTheOwnersHandleEndsTheRunAndGivesThePortBack) {
  Load(4);
  const auto owner = Open("Ravund");
  const auto other = Open("Ravund");
  ASSERT_EQ(StartRun(owner, AdapterRecord()), c::kDriverSuccess);
  EXPECT_EQ(Status(other, c::IOCTL_CAN_CLAIM), c::kDriverSuccess);
  RunWhileStepping([&] { Close(owner); });
  EXPECT_FALSE(Driver().Channel().RunActive());
  EXPECT_FALSE(SystemPort()->Allocated());
  EXPECT_EQ(host_->Interrupt(7).HandlerCount(), 0u);
  std::shared_ptr<devhost::FileObject> third;
  EXPECT_EQ(TryOpen(third, "Ravund"), os::kStatusAccessViolation)
      << "the claim stays with the handle that holds it";
}

TEST_F(RavundTest, StartIsRefusedWhileAnotherDriverHoldsThePort) {
  Load(2);
  std::array<std::uint8_t, kAllocateAnswerSize> granted{};
  const auto port = host_->FindDevice(ParallelPortDeviceName(0));
  ASSERT_NE(port, nullptr);
  ASSERT_EQ(
      host_->SendRequest(*port, nullptr, IOCTL_INTERNAL_PARALLEL_PORT_ALLOCATE, {}, granted).status,
      os::kStatusSuccess);
  ASSERT_EQ(granted[0], 1);
  const auto file = Open("Ravund");
  EXPECT_EQ(StartRun(file, AdapterRecord()), c::kDriverBaseDeviceInUse);
  EXPECT_FALSE(Driver().Channel().RunActive());
  EXPECT_EQ(host_->Interrupt(7).HandlerCount(), 0u);
}

TEST_F(RavundTest, ManualConfigurationUsesTheServiceKeysPortAndInterrupt) {
  host_->Parameters().SetDword(kServiceKey, "AutoConfiguration", 0);
  Load(2);
  EXPECT_EQ(Driver().Registers().data, kBase);
  EXPECT_EQ(Driver().Registers().extendedControl, std::optional<std::uint16_t>(kBase + 0x402));
  const auto file = Open("Ravund");
  ASSERT_EQ(StartRun(file, AdapterRecord()), c::kDriverSuccess);
  EXPECT_FALSE(SystemPort()->Allocated()) << "the port driver was not asked";
  EXPECT_TRUE(Driver().PortAllocated());
  EXPECT_EQ(host_->Interrupt(7).HandlerCount(), 1u);
  RunExchanges(file, 2);
}

TEST_F(RavundTest, PortRequestsReadAndWriteThePortSpace) {
  Load(2);
  const auto file = Open("Ravund");
  const std::array<std::uint8_t, 4> out{0x5A, 0, kBase & 0xFF, kBase >> 8};
  EXPECT_EQ(Status(file, c::IOCTL_CAN_DYN_PORT_OUT, out), c::kDriverSuccess);
  const std::array<std::uint8_t, 2> in{kBase & 0xFF, kBase >> 8};
  const auto read = Send(file, c::IOCTL_CAN_DYN_PORT_IN, in);
  EXPECT_EQ(read->Word(4), c::kDriverSuccess);
  EXPECT_EQ(read->Data()[0], 0x5A);

  // Slot 0 writes the data register, slot 1 reads it back, slot 2 has a
  // kind that means nothing and stays unused.
  std::array<std::uint8_t, 68> table{};
  table[0] = 2;
  c::StoreLittleEndian<std::uint16_t>(&table[2], kBase);
  table[4] = 1;
  c::StoreLittleEndian<std::uint16_t>(&table[6], kBase);
  table[8] = 7;
  c::StoreLittleEndian<std::uint16_t>(&table[10], 0x80);
  EXPECT_EQ(Status(file, c::IOCTL_CAN_STA_PORT_REPORT, table), c::kDriverSuccess);
  const auto configuration = Send(file, c::IOCTL_CAN_STA_PORT_GET_CON);
  const std::vector<std::uint8_t> slots = configuration->Data();
  ASSERT_EQ(slots.size(), 68u);
  EXPECT_EQ(std::vector<std::uint8_t>(slots.begin(), slots.begin() + 12),
            (std::vector<std::uint8_t>{2, 0, 0x78, 3, 1, 0, 0x78, 3, 0, 0, 0, 0}));

  host_->Hardware().Log().Enable(true);
  std::array<std::uint8_t, 36> nothing{};
  EXPECT_EQ(Status(file, c::IOCTL_CAN_STA_PORT_ACCESS, nothing), c::kDriverSuccess);
  EXPECT_TRUE(host_->Hardware().Log().Take().empty()) << "no flag, no port touched";

  std::array<std::uint8_t, 36> access{};
  access[0] = 1;
  access[1] = 0xC3;
  const auto written = Send(file, c::IOCTL_CAN_STA_PORT_ACCESS, access);
  EXPECT_EQ(written->Word(32), c::kDriverSuccess);
  access[0] = 0;
  access[2] = 1;
  const auto back = Send(file, c::IOCTL_CAN_STA_PORT_ACCESS, access);
  EXPECT_EQ(back->Data()[3], 0xC3);
}

class RavundWithoutAdapterTest : public RavundTest {
 protected:
  RavundWithoutAdapterTest() : RavundTest(kPortWithoutAdapter) {}
};

TEST_F(RavundWithoutAdapterTest, BidirectionalTestFailsTheStartAndGivesThePortBack) {
  Load(2);
  const auto file = Open("Ravund");
  EXPECT_EQ(StartRun(file, AdapterRecord()), c::kDriverNoController);
  EXPECT_FALSE(SystemPort()->Allocated());
  EXPECT_FALSE(Driver().Channel().RunActive());
  EXPECT_EQ(host_->Interrupt(7).HandlerCount(), 0u);
}

TEST_F(RavundWithoutAdapterTest, EppModeFindsNoControllerEither) {
  Load(3);
  const auto file = Open("Ravund");
  EXPECT_EQ(StartRun(file, AdapterRecord()), c::kDriverNoController);
  EXPECT_FALSE(SystemPort()->Allocated());
  EXPECT_EQ(host_->Interrupt(7).HandlerCount(), 0u);
}

class RavundOnAPlainPortTest : public RavundTest {
 protected:
  RavundOnAPlainPortTest() : RavundTest(kPlainPort) {}
};

TEST_F(RavundOnAPlainPortTest, EppWithoutExtendedControlRuns) {
  Load(1);
  EXPECT_FALSE(Driver().Registers().extendedControl.has_value());
  const auto file = Open("Ravund");
  ASSERT_EQ(StartRun(file, AdapterRecord()), c::kDriverSuccess);
  RunExchanges(file, 3);
  EXPECT_EQ(StatusWhileStepping(file, c::IOCTL_CAN_STOP_RUN), c::kDriverSuccess);
}

TEST_F(RavundOnAPlainPortTest, APortThatReadsItsOwnPatternBackFailsTheByteModeStart) {
  Load(4);
  const auto file = Open("Ravund");
  EXPECT_EQ(StartRun(file, AdapterRecord()), c::kDriverNoController);
  EXPECT_FALSE(SystemPort()->Allocated());
}

class RavundWithoutPortTest : public RavundTest {
 protected:
  RavundWithoutPortTest() : RavundTest(kNoParallelPort) {}
};

TEST_F(RavundWithoutPortTest, APortDriverThatNeverAnswersIsGivenUpAfterFiveSeconds) {
  frontends::testing::SilentDriver silent;
  std::shared_ptr<devhost::DeviceObject> device;
  ASSERT_EQ(host_->CreateDevice({ParallelPortDeviceName(0),
                                 &silent,
                                 {{IOCTL_INTERNAL_GET_PARALLEL_PORT_INFO, 0, kParallelPortInfoSize,
                                   devhost::RequestCallers::kKernelOnly}}},
                                device),
            os::kStatusSuccess);
  devhost::IoStatus status = os::kStatusInternalError;
  RavundDriver driver(*host_);
  const auto took = TimeUntilGivingUp(
      silent, [&] { status = driver.Load(); }, devhost::MillisecondsToTicks(5000));
  ASSERT_TRUE(took.has_value()) << "still waiting at five seconds";
  EXPECT_EQ(*took, devhost::MillisecondsToTicks(5000)) << "gave up early";
  EXPECT_EQ(status, os::kStatusSuccess) << "loads without its port";
  EXPECT_FALSE(driver.PortAttached());
  host_->DeleteDevice(*device);
}

TEST_F(RavundWithoutPortTest, LoadsAndAnswersThatThePortIsMissing) {
  Load(2);
  EXPECT_FALSE(Driver().PortAttached());
  const auto file = Open("Ravund");
  EXPECT_EQ(StartRun(file, AdapterRecord()), c::kDriverBaseDeviceMissing);
}

}  // namespace
}  // namespace vantor::ravund
