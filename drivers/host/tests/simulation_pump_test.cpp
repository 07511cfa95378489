// The pump: simulated time follows the runtime's clock, and the card's tick
// reaches the runtime's interrupt handlers once per tick.
#include "drivers/host/simulation_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "drivers/canlayer/controller_82527.h"
#include "drivers/canlayer/controller_bus.h"
#include "drivers/host/tests/glue_fixture.h"
#include "platform/devhost/interrupt_line.h"
#include "sim/hardware/machine.h"

namespace vantor::host::testing {
namespace {

// Controller 1's clock output undivided: one tick every 128 microseconds.
constexpr devhost::Ticks kTickPeriod = devhost::MicrosecondsToTicks(128);

class SimulationPumpTest : public GlueFixture {
 protected:
  void StartTick() {
    devhost::RegisterWindow controller = MapWindow(kControllerWindow, 0x200);
    StartCardTick(controller, bridge_);
  }

  void ConnectHandler(bool clearsEdge) {
    devhost::InterruptSettings settings;
    settings.vector = kCardInterrupt;
    ASSERT_EQ(host_->Interrupt(kCardInterrupt)
                  .Connect(
                      settings,
                      [this, clearsEdge] {
                        calls_.push_back(clock_.Now());
                        if (clearsEdge) ClearCardTickEdge(bridge_);
                        return true;
                      },
                      connection_),
              os::kStatusSuccess);
  }

  void TearDown() override {
    if (connection_) connection_->Disconnect();
  }

  devhost::RegisterWindow bridge_ = MapWindow(kBridgeWindow, 0x80);
  std::shared_ptr<devhost::InterruptObject> connection_;
  std::vector<devhost::Ticks> calls_;
};

TEST_F(SimulationPumpTest, SimulatedTimeFollowsTheClockWithAndWithoutEvents) {
  clock_.Advance(devhost::MillisecondsToTicks(5));
  {
    SimulationPump::ModelAccess access(machine_->Pump());
    EXPECT_EQ(Sim().Now(), TicksToSimTime(clock_.Now())) << "passes follow an idle machine";
  }
  // Between passes, an access brings the models up to the clock first.
  clock_.Advance(37);
  {
    SimulationPump::ModelAccess access(machine_->Pump());
    EXPECT_EQ(Sim().Now(), TicksToSimTime(clock_.Now()));
  }

  StartTick();
  clock_.Advance(devhost::MillisecondsToTicks(3) + 5);
  SimulationPump::ModelAccess access(machine_->Pump());
  EXPECT_EQ(Sim().Now(), TicksToSimTime(clock_.Now())) << "with the tick running";
}

TEST_F(SimulationPumpTest, EveryTickRunsTheHandlerOnceAtItsTime) {
  ConnectHandler(/*clearsEdge=*/true);
  StartTick();
  const devhost::Ticks started = clock_.Now();
  constexpr int kTicks = 20;
  clock_.Advance(kTicks * kTickPeriod + kTickPeriod / 2);

  ASSERT_EQ(calls_.size(), static_cast<std::size_t>(kTicks));
  for (int tick = 0; tick < kTicks; ++tick) {
    EXPECT_EQ(calls_[static_cast<std::size_t>(tick)], started + (tick + 1) * kTickPeriod)
        << "tick " << tick + 1;
  }
  EXPECT_EQ(Card().Interrupt().RisingEdges(), static_cast<std::uint64_t>(kTicks));
}

TEST_F(SimulationPumpTest, TheParallelAdaptersTickPulsesRunTheHandlerOncePerTick) {
  devhost::HardwareMap& ports = host_->Hardware();
  constexpr std::uint16_t kBase = 0x378;
  ports.PortOut8(kBase + 0x402, 0x80);  // extended control: EPP mode
  const auto writeRegister = [&](std::uint8_t address, std::uint8_t value) {
    ports.PortOut8(kBase + 3, address);
    ports.PortOut8(kBase + 4, value);
  };
  std::vector<devhost::Ticks> pulses;
  std::shared_ptr<devhost::InterruptObject> portConnection;
  devhost::InterruptSettings settings;
  settings.vector = 7;
  settings.mode = devhost::InterruptMode::kLatched;
  ASSERT_EQ(host_->Interrupt(7).Connect(
                settings,
                [&] {
                  pulses.push_back(clock_.Now());
                  return true;
                },
                portConnection),
            os::kStatusSuccess);
  writeRegister(0x00, 0x41);
  writeRegister(0x02, 0x41);
  writeRegister(0x1F, 0x20);
  writeRegister(0xEF, 0xFB);
  writeRegister(0xAF, 0x3F);
  writeRegister(0x00, 0x00);
  ports.PortOut8(kBase + 2, 0x10);  // acknowledge interrupt enabled
  const devhost::Ticks started = clock_.Now();

  constexpr int kTicks = 12;
  clock_.Advance(kTicks * kTickPeriod + kTickPeriod / 2);
  portConnection->Disconnect();
  ASSERT_EQ(pulses.size(), static_cast<std::size_t>(kTicks));
  for (int tick = 0; tick < kTicks; ++tick) {
    EXPECT_EQ(pulses[static_cast<std::size_t>(tick)] - started, (tick + 1) * kTickPeriod);
  }
}

TEST_F(SimulationPumpTest, ALevelLineNobodyClearsRunsAgainButCannotHoldThePump) {
  ConnectHandler(/*clearsEdge=*/false);
  StartTick();
  clock_.Advance(devhost::MillisecondsToTicks(2));
  // The line stays up after the first tick: the handler runs again on every
  // pass, a bounded number of rounds each, and time still moves on.
  EXPECT_GT(calls_.size(), 1u);
  EXPECT_LE(calls_.size(), 64u * SimulationPump::kMaxLevelRepeats);
  EXPECT_EQ(clock_.Now(), devhost::MillisecondsToTicks(2));
}

TEST_F(SimulationPumpTest, NothingRunsOnceDetached) {
  ConnectHandler(/*clearsEdge=*/true);
  StartTick();
  clock_.Advance(3 * kTickPeriod);
  ASSERT_EQ(calls_.size(), 3u);
  machine_->Detach();
  const SimTime stopped = Sim().Now();
  clock_.Advance(10 * kTickPeriod);
  EXPECT_EQ(calls_.size(), 3u);
  EXPECT_EQ(Sim().Now(), stopped);
  machine_->Detach();  // twice is harmless
}

// The glue machine on the real clock, attached to a driver runtime.
class RealClockPumpTest : public ::testing::Test {
 protected:
  // The card's first channel shares can0 with a node that acknowledges.
  static constexpr std::string_view kAcknowledgedCard = R"({
    "buses": [ { "name": "can0", "bit_rate": 500000,
                 "stations": [ { "kind": "canopen_io_module", "node_id": 10 } ] },
               { "name": "can1" } ],
    "pci_cards": [ { "name": "pci0", "channels": [ { "bus": "can0" }, { "bus": "can1" } ] } ]
  })";

  explicit RealClockPumpTest(std::string_view description = kGlueMachine) {
    sim::MachineLoadResult loaded = sim::LoadMachineDescription(description, MachineStationKinds());
    EXPECT_TRUE(loaded) << loaded.error;
    machine_ = std::make_unique<SimulatedMachine>(clock_, std::move(loaded.machine));
    std::string error;
    EXPECT_TRUE(machine_->Attach(host_, error)) << error;
    bridge_ = *host_.Hardware().MapIoSpace(kBridgeWindow, 0x80);
    controller_ = *host_.Hardware().MapIoSpace(kControllerWindow, 0x200);
  }

  ~RealClockPumpTest() override {
    machine_->Detach();
    if (connection_) connection_->Disconnect();
  }

  void ConnectHandler(std::function<void()> handler) {
    devhost::InterruptSettings settings;
    settings.vector = kCardInterrupt;
    ASSERT_EQ(host_.Interrupt(kCardInterrupt)
                  .Connect(
                      settings,
                      [handler = std::move(handler)] {
                        handler();
                        return true;
                      },
                      connection_),
              os::kStatusSuccess);
  }

  std::uint64_t Edges() {
    const SimulationPump::ModelAccess access(machine_->Pump());
    return machine_->Models().FindPciCard("pci0")->Interrupt().RisingEdges();
  }

  // Waits (bounded) until `done` holds.
  template <typename Done>
  static void WaitFor(Done&& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  devhost::RealClock clock_;
  devhost::DriverHost host_{clock_};
  std::unique_ptr<SimulatedMachine> machine_;
  devhost::RegisterWindow bridge_;
  devhost::RegisterWindow controller_;
  std::shared_ptr<devhost::InterruptObject> connection_;
};

// On the real clock the pump may wake late; it still steps through every
// tick on its own, so no two ticks merge into one handler call and no tick
// is swallowed while the card's latch is still set, neither by the
// handler's own accesses nor by another thread's.
struct TickCase {
  const char* name;
  bool busyAccesses;
};

class RealClockTickTest : public RealClockPumpTest,
                          public ::testing::WithParamInterface<TickCase> {};

TEST_P(RealClockTickTest, EveryTickRunsTheHandlerEvenWhenThePumpWakesLate) {
  {
    const TickCase& test = GetParam();
    std::atomic<std::uint64_t> calls{0};
    SimTime firstCall = 0;
    SimTime lastCall = 0;
    const std::uint64_t edgesBefore = Edges();
    ConnectHandler([&] {
      ++calls;
      ClearCardTickEdge(bridge_);
      {
        const SimulationPump::ModelAccess access(machine_->Pump());
        lastCall = machine_->Models().Sim().Now();
        if (calls == 1) firstCall = lastCall;
      }
      // Now and then the handler takes longer than a tick.
      if (calls % 16 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
    });
    StartCardTick(controller_, bridge_);

    std::atomic<bool> stop{false};
    std::thread accessor;
    if (test.busyAccesses) {
      accessor = std::thread([&] {
        while (!stop.load()) (void)controller_.Read8(0x00);
      });
    }
    WaitFor([&] { return calls.load() >= 64; });
    stop.store(true);
    if (accessor.joinable()) accessor.join();
    // The bridge's interrupts off: no edge comes after the last call.
    bridge_.Write32(kInterruptControl, 0);
    connection_->Disconnect();
    const std::uint64_t edges = Edges() - edgesBefore;
    EXPECT_GE(calls.load(), 64u);
    // The last edge may have come after the last pass.
    EXPECT_GE(calls.load() + 1, edges);
    EXPECT_LE(calls.load(), edges);
    // Each call stands a little after its tick, by what the handler took.
    const auto ticks =
        static_cast<std::uint64_t>((lastCall - firstCall) / TicksToSimTime(kTickPeriod)) + 1;
    EXPECT_GE(calls.load() + 2, ticks) << "ticks swallowed";
  }
}

INSTANTIATE_TEST_SUITE_P(Accesses, RealClockTickTest,
                         ::testing::Values(TickCase{"PumpAlone", false},
                                           TickCase{"AccessesMeanwhile", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A handler that waits for its controller to send, as the buffered cycle
// waits for its synchronisation frame before it polls: the controller goes
// on while the processor spins, so the spin sees the frame leave, and the
// models never run ahead of the clock.
class RealClockSendTest : public RealClockPumpTest {
 protected:
  RealClockSendTest() : RealClockPumpTest(kAcknowledgedCard) {}
};

TEST_F(RealClockSendTest, AHandlerSpinningOnATransmissionSeesTheFrameLeave) {
  canlayer::WindowControllerBus bus(controller_, 0x000);
  devhost::CardLock card;
  canlayer::Controller82527 controller(bus, card);
  ASSERT_TRUE(controller.DetectController());
  controller.InitControllerClock(4);
  ASSERT_TRUE(controller.InitControllerBus(5));
  constexpr int kObject = 1;
  controller.ConfigureTransmitObject(kObject, 0x080);

  std::atomic<bool> done{false};
  bool sent = false;
  SimTime sentAt = 0;
  SimTime clockAfter = 0;
  ConnectHandler([&] {
    ClearCardTickEdge(bridge_);
    if (done.load()) return;
    controller.RequestTransmission(kObject);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!sent && std::chrono::steady_clock::now() < giveUp) {
      sent = controller.GetTransmitState(kObject) == canlayer::TransmitState::kSent;
    }
    {
      const SimulationPump::ModelAccess access(machine_->Pump());
      sentAt = machine_->Models().Sim().Now();
    }
    clockAfter = TicksToSimTime(clock_.Now());
    done.store(true);
  });
  bridge_.Write32(kInterruptControl, kLocal1EdgeActiveHigh);
  bridge_.Write32(kInterruptControl,
                  kLocal1EdgeActiveHigh | kClearLocal1Edge | kPciInterruptEnable);

  WaitFor([&] { return done.load(); });
  connection_->Disconnect();
  ASSERT_TRUE(done.load()) << "the tick never came";
  EXPECT_TRUE(sent) << "the frame never left while the handler waited";
  EXPECT_LE(sentAt, clockAfter) << "the models ran ahead of the clock";
}

// Stepped by hand (never started), as a test host on the virtual clock
// does: the pump does not follow the clock, each step stops at the models'
// next deadline or the limit, and handlers run only when asked.
TEST(HandSteppedPumpTest, EachStepStopsAtTheNextDeadlineAndHandlersRunWhenAsked) {
  sim::Machine machine;
  machine.AddBus("can0");
  sim::PciCard& card = *machine.AddPciCard(sim::PciCard::Config{}, {"can0", "can0"});
  sim::RegisterWindow& bridge = *card.BarWindow(0);
  sim::RegisterWindow& controller = *card.BarWindow(2);
  devhost::VirtualClock clock;
  SimulationPump pump(clock, machine.Sim());
  devhost::InterruptLine line(kCardInterrupt);
  pump.WireInterrupt(card.Interrupt(), line);

  int calls = 0;
  std::shared_ptr<devhost::InterruptObject> connection;
  devhost::InterruptSettings settings;
  settings.vector = kCardInterrupt;
  ASSERT_EQ(line.Connect(
                settings,
                [&] {
                  ++calls;
                  const SimulationPump::ModelAccess access(pump);
                  ClearCardTickEdge(bridge);
                  return true;
                },
                connection),
            os::kStatusSuccess);
  {
    const SimulationPump::ModelAccess access(pump);
    StartCardTick(controller, bridge);
  }
  const auto edges = [&] {
    const SimulationPump::ModelAccess access(pump);
    return card.Interrupt().RisingEdges();
  };

  clock.Advance(5 * kTickPeriod);
  EXPECT_EQ(edges(), 0u) << "the models wait for the hand that steps them";

  constexpr int kTicks = 4;
  constexpr int kMaxStepsPerTick = 1000;
  std::vector<SimTime> edgeTimes;
  for (std::uint64_t tick = 1; tick <= kTicks; ++tick) {
    SimTime reached = 0;
    for (int step = 0; step < kMaxStepsPerTick && edges() < tick; ++step) {
      reached = pump.StepModels(sim::kNever);
    }
    ASSERT_EQ(edges(), tick) << "one edge per step";
    EXPECT_EQ(calls, static_cast<int>(tick) - 1) << "handlers wait to be asked";
    pump.ServiceRaisedInterrupts();
    EXPECT_EQ(calls, static_cast<int>(tick));
    edgeTimes.push_back(reached);
  }
  for (std::size_t tick = 1; tick < edgeTimes.size(); ++tick) {
    EXPECT_EQ(edgeTimes[tick] - edgeTimes[tick - 1], TicksToSimTime(kTickPeriod));
  }

  const SimTime limit = edgeTimes.back() + TicksToSimTime(kTickPeriod) / 2;
  SimTime reached = 0;
  for (int step = 0; step < kMaxStepsPerTick && reached < limit; ++step) {
    reached = pump.StepModels(limit);
  }
  EXPECT_EQ(reached, limit) << "no step goes past its limit";
  EXPECT_EQ(edges(), static_cast<std::uint64_t>(kTicks));
  pump.ServiceRaisedInterrupts();
  EXPECT_EQ(calls, kTicks);

  pump.Stop();
  connection->Disconnect();
}

// A clock whose counter the test sets and whose timers run only when the
// test says so, one at a time: a pump the system let wait finds the clock
// far ahead when its pass finally runs.
class HeldClock final : public devhost::Clock {
 public:
  devhost::Ticks Now() const noexcept override { return now_.load(); }
  void Set(devhost::Ticks now) { now_.store(now); }

  devhost::TimerId StartTimer(devhost::Ticks firstDue, devhost::Ticks period,
                              devhost::TimerCallback callback) override {
    std::lock_guard lock(mutex_);
    return timers_.Add(firstDue, period, std::move(callback));
  }
  void CancelTimer(devhost::TimerId id) override {
    std::lock_guard lock(mutex_);
    timers_.Remove(id);
  }

  // Runs the earliest timer due by now; false when none is.
  bool RunOneDue() {
    std::optional<devhost::TimerTable::Entry> due;
    {
      std::lock_guard lock(mutex_);
      due = timers_.TakeDue(Now());
    }
    if (!due) return false;
    (*due->callback)();
    return true;
  }

  // The earliest timer, if any.
  std::optional<devhost::Ticks> EarliestDue() {
    std::lock_guard lock(mutex_);
    return timers_.EarliestDue();
  }

 protected:
  void Block(std::unique_lock<std::mutex>& lock, devhost::Ticks) override {
    waitCondition_.wait_for(lock, std::chrono::milliseconds(1));
  }

 private:
  std::atomic<devhost::Ticks> now_{0};
  std::mutex mutex_;
  devhost::TimerTable timers_;
};

// A model with an event every `period`, which notes each event's time.
class Metronome final : public sim::TimedModel {
 public:
  explicit Metronome(SimTime period) : period_(period), next_(period) {}
  SimTime NextDeadline() const override { return next_; }
  void AdvanceTo(SimTime now) override {
    for (; next_ <= now; next_ += period_) beats.push_back(next_);
  }
  std::vector<SimTime> beats;

 private:
  SimTime period_;
  SimTime next_;
};

// A pump that wakes a second late catches up a bounded stretch per pass and
// hands the rest to a next pass due at once, so the clock's other timers get
// their turn between passes; no event is skipped on the way.
TEST(LaggingPumpTest, EachPassCatchesUpABoundedStretchAndTheNextFollowsAtOnce) {
  constexpr SimTime kBeat = 100'000;  // 100 us
  HeldClock clock;
  sim::Simulation simulation;
  Metronome metronome(kBeat);
  simulation.Add(&metronome);
  SimulationPump pump(clock, simulation);
  pump.Start();
  while (clock.RunOneDue()) {
  }
  ASSERT_EQ(simulation.Now(), 0u);

  const devhost::Ticks late = devhost::MillisecondsToTicks(1000);
  clock.Set(late);
  constexpr int kMostPasses = 1000;
  int passes = 0;
  SimTime before = simulation.Now();
  for (; passes < kMostPasses && simulation.Now() + kBeat <= TicksToSimTime(late); ++passes) {
    ASSERT_TRUE(clock.RunOneDue()) << "the rest of the lag waits for no timer";
    const SimTime moved = simulation.Now() - before;
    EXPECT_LE(moved, SimulationPump::kLongestCatchUpPerPass) << "pass " << passes;
    if (simulation.Now() + SimulationPump::kLongestCatchUpPerPass <= TicksToSimTime(late)) {
      EXPECT_GE(moved + kBeat, SimulationPump::kLongestCatchUpPerPass) << "pass " << passes;
      const std::optional<devhost::Ticks> next = clock.EarliestDue();
      ASSERT_TRUE(next.has_value());
      EXPECT_LE(*next, late) << "the next pass is due at once";
    }
    before = simulation.Now();
  }
  EXPECT_GE(passes, 50) << "one second at most 20 ms a pass";
  EXPECT_LT(passes, kMostPasses);
  ASSERT_EQ(metronome.beats.size(), static_cast<std::size_t>(TicksToSimTime(late) / kBeat));
  for (std::size_t beat = 0; beat < metronome.beats.size(); ++beat) {
    ASSERT_EQ(metronome.beats[beat], (beat + 1) * kBeat) << "every event at its own time";
  }
  pump.Stop();
}

// While a pump the system let wait catches up, the drivers' counter reads
// where the models stand, not the clock: a driver that times the card's bus
// against it (a cycle that begins once a cycle length has passed, a frame
// not sent within three cycles) sees only the time the bus has had.
TEST(LaggingPumpTest, TheDriversCounterReadsTheModelsTimeWhileThePumpCatchesUp) {
  constexpr SimTime kBeat = 100'000;  // 100 us
  HeldClock clock;
  sim::Simulation simulation;
  Metronome metronome(kBeat);
  simulation.Add(&metronome);
  SimulationPump pump(clock, simulation);
  devhost::DriverHost host(clock);
  host.SetHardwareTime(&pump);
  pump.Start();
  while (clock.RunOneDue()) {
  }

  const devhost::Ticks late = devhost::MillisecondsToTicks(1000);
  clock.Set(late);
  EXPECT_EQ(host.QueryPerformanceCounter(), 0) << "the models have not moved yet";
  ASSERT_TRUE(clock.RunOneDue());
  EXPECT_EQ(host.QueryPerformanceCounter(), SimTimeToTicksFloor(simulation.Now()));
  EXPECT_LT(host.QueryPerformanceCounter(), late);
  constexpr int kMostPasses = 1000;
  for (int pass = 0; pass < kMostPasses && clock.RunOneDue(); ++pass) {
  }
  EXPECT_EQ(host.QueryPerformanceCounter(), late) << "caught up, the counter is the clock's";

  host.SetHardwareTime(nullptr);
  clock.Set(late + 5);
  EXPECT_EQ(host.QueryPerformanceCounter(), late + 5) << "without the models, the clock";
  pump.Stop();
}

TEST(SimulationTimeTest, TicksAndNanosecondsConvert) {
  EXPECT_EQ(TicksToSimTime(0), 0u);
  EXPECT_EQ(TicksToSimTime(-5), 0u);
  EXPECT_EQ(TicksToSimTime(12), 1200u);
  EXPECT_EQ(SimTimeToTicksCeil(0), 0);
  EXPECT_EQ(SimTimeToTicksCeil(1), 1);
  EXPECT_EQ(SimTimeToTicksCeil(100), 1);
  EXPECT_EQ(SimTimeToTicksCeil(101), 2);
  EXPECT_EQ(SimTimeToTicksCeil(sim::kNever), devhost::kWaitForever);
}

}  // namespace
}  // namespace vantor::host::testing
