#include "kernel/core/canopen/tests/real_bus_fixture.h"

#include <algorithm>
#include <variant>

#include "drivers/tarnis1/tarnis1_entry.h"
#include "kernel/core/canopen/global_slot.h"
#include "sim/drives/ds402_state_machine.h"

namespace vantor::canopen::testing {

namespace {

constexpr devhost::Ticks kCycleTicks = devhost::MicrosecondsToTicks(kBusCycleMicroseconds);
// The drives boot within this after the run starts.
constexpr sim::SimTime kDriveBootTime = 5 * sim::kNanosecondsPerMillisecond;
constexpr std::uint16_t kControlwordIndex = 0x6040;

// The card and its two buses; the drives are added by the fixture so that
// it can reach their models.
constexpr std::string_view kBusMachine = R"({
  "buses": [ { "name": "can0" }, { "name": "can1" } ],
  "pci_cards": [ { "name": "pci0", "channels": [ { "bus": "can0" }, { "bus": "can1" } ] } ]
})";

}  // namespace

RealBusFixture::RealBusFixture(std::size_t driveCount)
    : RealBusFixture(std::vector<BusDrive>(std::min(driveCount, kMaxBusDrives))) {}

RealBusFixture::RealBusFixture(const std::vector<BusDrive>& drives)
    : DriverHostFixture(kBusMachine), driveCount_(std::min(drives.size(), kMaxBusDrives)) {
  Models([this, &drives](sim::Machine& machine) {
    for (std::size_t k = 0; k < driveCount_; ++k) {
      sim::canopen::NodeOptions options;
      options.nodeId = static_cast<std::uint8_t>(k + 1);
      options.bootTime = kDriveBootTime;
      options.guarding = drives[k].guarding;
      // As the machine description gives a drive: its firmware names itself.
      options.identity.softwareVersion = sim::drives::ModuleText(drives[k].config.variant);
      auto station = std::make_unique<sim::canopen::NodeStation>(options);
      auto drive = std::make_unique<sim::drives::DriveModel>(station->Node(), drives[k].config);
      drives_[k] = drive.get();
      stations_[k] = station.get();
      station->AdoptApplication(std::move(drive));
      machine.AddStation("can0", std::move(station));
    }
    return 0;
  });
}

void RealBusFixture::StartBus() {
  ASSERT_EQ(tarnis1::Tarnis1DriverEntry(*host_, machine_->Resources(), driver_),
            os::kStatusSuccess);
  owner_ = Open("tarnis1");
  ASSERT_EQ(Status(owner_, common::IOCTL_CAN_CLAIM), common::kDriverSuccess);
  frontends::testing::RunRecordFields run;  // d = 4, N = 5
  run.mode = 1;                             // the buffered cycle
  ASSERT_EQ(StartRun(owner_, run), common::kDriverSuccess);
  exchange_.Set(common::exchange_buffer::kStatus, common::kDriverSuccess);
  Advance(devhost::MillisecondsToTicks(10));
  for (std::size_t k = 0; k < driveCount_; ++k) {
    const auto id = static_cast<std::uint8_t>(k + 1);
    ASSERT_EQ(Models([&](sim::Machine&) { return DriveNode(id).State(); }),
              sim::canopen::NmtState::kPreOperational)
        << "drive " << int{id} << " did not boot";
  }
  cycleRunning_ = true;
}

void RealBusFixture::RunCycle() {
  if (cycles_ >= maxTestCycles_) {
    ADD_FAILURE() << "the test outlived its deadline of " << maxTestCycles_ << " cycles";
    cycleRunning_ = false;
    CompletePendingRequests(*activeTable_, activeGlobal_);
    return;
  }
  if (beforeExchange_) beforeExchange_(exchange_);
  CycleContext context{exchange_, *activeTable_, elapsedMicroseconds_, activeGlobal_};
  context.homing = homing_;
  RunGlobalSlotStep(context);
  RunNodeSteps(context);
  const auto reply = Exchange(owner_, exchange_);
  const bool answered =
      AdvanceUntil([&] { return reply->Done(); }, exchangeAnswerCycles_ * kCycleTicks);
  ++cycles_;
  if (!answered || reply->Status() != os::kStatusSuccess ||
      reply->Information() != common::kExchangeBufferSize) {
    ADD_FAILURE() << "the driver did not give the exchange record back in cycle " << cycles_
                  << " (done " << reply->Done() << ", status " << reply->Status() << ")";
    cycleRunning_ = false;
    CompletePendingRequests(*activeTable_, activeGlobal_);
    return;
  }
  const std::vector<std::uint8_t> data = reply->Data();
  std::copy(data.begin(), data.end(), exchange_.WriteData());
  elapsedMicroseconds_ = exchange_.Get(common::exchange_buffer::kCycleMicroseconds);
  if (afterExchange_) afterExchange_(exchange_);
}

void RealBusFixture::WaitForAll(std::span<CompletionSignal* const> signals) noexcept {
  if (lockDepth_ != 0) waitedWhileLocked_ = true;
  ++waits_;
  const auto allSet = [&] {
    return std::all_of(signals.begin(), signals.end(),
                       [](CompletionSignal* s) { return static_cast<TestSignal*>(s)->IsSet(); });
  };
  for (int cycle = 0; cycle < maxWaitCycles_ && cycleRunning_ && !allSet(); ++cycle) {
    if (endCycleInWait_ && waits_ == *endCycleInWait_ && cycle >= 1) {
      endCycleInWait_.reset();
      if (onCycleEnd_) onCycleEnd_();
      cycleRunning_ = false;
      CompletePendingRequests(*activeTable_, activeGlobal_);
      return;
    }
    RunCycle();
  }
  if (!allSet() && cycleRunning_) {
    ADD_FAILURE() << "a wait outlived its deadline of " << maxWaitCycles_ << " cycles";
    cycleRunning_ = false;
    CompletePendingRequests(*activeTable_, activeGlobal_);
  }
}

// The kernel sleeps while its cycle goes on.
void RealBusFixture::Sleep(std::uint32_t milliseconds) noexcept {
  sleeps_.push_back(milliseconds);
  const std::uint32_t cycles =
      (milliseconds * 1000 + kBusCycleMicroseconds - 1) / kBusCycleMicroseconds;
  for (std::uint32_t k = 0; k < cycles && cycleRunning_; ++k) RunCycle();
}

std::uint64_t RealBusFixture::MonotonicMilliseconds() noexcept {
  return static_cast<std::uint64_t>(clock_.Now() / devhost::MillisecondsToTicks(1));
}

std::uint16_t RealBusFixture::DriveState(std::uint8_t id) {
  return Models([&](sim::Machine&) { return sim::drives::StateBits(Drive(id).State()); });
}

std::vector<std::uint16_t> RealBusFixture::LoggedControlwords(std::uint8_t id) {
  return Models([&](sim::Machine&) {
    std::vector<std::uint16_t> words;
    for (const sim::canopen::NodeEvent& event : DriveNode(id).Log().Events()) {
      const auto* access = std::get_if<sim::canopen::SdoAccess>(&event.detail);
      if (access != nullptr && access->direction == sim::canopen::SdoDirection::kDownload &&
          access->index == kControlwordIndex && access->subindex == 0 &&
          access->abort == sim::canopen::SdoAbortCode::kNone) {
        words.push_back(static_cast<std::uint16_t>(access->value));
      }
    }
    return words;
  });
}

std::vector<sim::canopen::SdoAccess> RealBusFixture::SdoAccessesOf(std::uint8_t id) {
  return Models([&](sim::Machine&) {
    std::vector<sim::canopen::SdoAccess> accesses;
    for (const sim::canopen::NodeEvent& event : DriveNode(id).Log().Events()) {
      if (const auto* access = std::get_if<sim::canopen::SdoAccess>(&event.detail)) {
        accesses.push_back(*access);
      }
    }
    return accesses;
  });
}

void RealBusFixture::ClearDriveLog(std::uint8_t id) {
  Models([&](sim::Machine&) {
    DriveNode(id).Log().Clear();
    return 0;
  });
}

}  // namespace vantor::canopen::testing
