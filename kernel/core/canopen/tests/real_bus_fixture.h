// The CANopen layer over the real channel-1 driver on the simulated card,
// with simulated DS402 drives 1, 2 and 3 on its bus, all in this process
// on the virtual clock. The fixture is the service host: a wait runs the
// kernel's cycle itself (the slot steps on the exchange record, the record
// handed to the driver, the clock stepped until the driver gives it back),
// so every test runs on one thread and the same order of events.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "drivers/host/driver_loading.h"
#include "drivers/tarnis1/tests/driver_host_fixture.h"
#include "kernel/core/canopen/node_object.h"
#include "kernel/core/canopen/service_host.h"
#include "kernel/core/canopen/tests/canopen_test_support.h"
#include "sim/canopen/communication_objects.h"
#include "sim/canopen/node_station.h"
#include "sim/drives/drive_config.h"
#include "sim/drives/drive_model.h"

namespace vantor::canopen::testing {

// 5 ticks of 4 x 128 microseconds.
inline constexpr std::uint32_t kBusCycleMicroseconds = 2560;
inline constexpr std::array<std::uint8_t, 3> kDriveIds = {1, 2, 3};
// A fixture may put up to this many drives on the bus, ids 1 and up.
inline constexpr std::size_t kMaxBusDrives = 6;

// One drive on the bus: its firmware and machine, and the guarding values
// it starts with.
struct BusDrive {
  sim::drives::DriveConfig config{};
  sim::canopen::GuardingDefaults guarding{};
};

class RealBusFixture : public frontends::testing::DriverHostFixture, public NodeServiceHost {
 protected:
  explicit RealBusFixture(std::size_t driveCount = kDriveIds.size());
  // Drives 1, 2, ... as given (at most kMaxBusDrives).
  explicit RealBusFixture(const std::vector<BusDrive>& drives);

  // Loads the driver, claims it, starts a buffered run and lets the drives
  // boot. Called by each test (a fatal failure ends the test).
  void StartBus();
  void UnloadDrivers() override { driver_.reset(); }

  // ---- NodeServiceHost
  void LockKernelData() noexcept override { ++lockDepth_; }
  void UnlockKernelData() noexcept override { --lockDepth_; }
  bool IsCycleRunning() noexcept override { return cycleRunning_; }
  void WaitForAll(std::span<CompletionSignal* const> signals) noexcept override;
  void Sleep(std::uint32_t milliseconds) noexcept override;
  std::uint64_t MonotonicMilliseconds() noexcept override;
  bool StopOnInputOrHandwheelInitialised() noexcept override { return false; }
  void ClearStopOnInputAndHandwheel() noexcept override {}
  void ClearNodeEnableWords(std::uint32_t count) noexcept override {
    clearedEnableWords_.push_back(count);
  }
  void TakeNodePositionsIntoAxisRecords() noexcept override { ++positionsTaken_; }
  bool IsResetPending() noexcept override { return resetPending_; }
  std::uint32_t InterpolatedNodeCount() noexcept override { return interpolatedNodes_; }
  void StoreConfiguredRpdoNumbers(std::uint32_t, std::uint16_t, std::uint16_t) noexcept override {}
  void TakeNodePositionIntoAxisRecord(std::uint32_t) noexcept override {}
  GlobalRequest& GlobalSlot() noexcept override { return global_; }
  bool LockGlobalRequest() noexcept override { return true; }
  void UnlockGlobalRequest() noexcept override {}
  common::StatusCode SetupAxesProfileMode(bool, NodeMask,
                                          std::span<const std::int32_t>) noexcept override {
    return common::kKernelSuccess;
  }

  DriveWorkingValues WorkingValues() noexcept override { return working_; }
  CompletionSignal* SpareCompletionSignal() noexcept override { return &spareSignal_; }
  void SetLimitSwitchBridge(bool bridged) noexcept override { limitSwitchBridge_ = bridged; }
  CanObjectList& CanObjects() noexcept override { return *canObjects_; }
  void LockCanObjects() noexcept override {}
  void UnlockCanObjects() noexcept override {}

  // One kernel cycle: slot steps, exchange, clock stepped to its answer.
  // A driver that does not answer ends the cycle as the kernel's would.
  void RunCycle();

  // ---- The drives, looked at with the simulation held still.
  sim::drives::DriveModel& Drive(std::uint8_t id) { return *drives_[id - 1]; }
  sim::canopen::CanopenNode& DriveNode(std::uint8_t id) { return stations_[id - 1]->Node(); }
  std::uint16_t DriveState(std::uint8_t id);
  // The controlwords the drive took over SDO since its log was cleared.
  std::vector<std::uint16_t> LoggedControlwords(std::uint8_t id);
  void ClearDriveLog(std::uint8_t id);
  // Every SDO transfer the drive logged since its log was cleared.
  std::vector<sim::canopen::SdoAccess> SdoAccessesOf(std::uint8_t id);

  // The cycle serves this table from now on (the default: drives 1, 2
  // and 3 as nodes 1, 2 and 3, no axes).
  void UseNodes(NodeTable& table) { activeTable_ = &table; }
  // ... and steps this global slot (the default: the fixture's own).
  void UseGlobalSlot(GlobalRequest& global) { activeGlobal_ = &global; }
  // The record the cycle exchanges with the driver; look at it only while
  // no cycle runs.
  const common::ExchangeBuffer& ExchangeRecord() const { return exchange_; }

  TestNodes nodes_{{kDriveIds[0], kDriveIds[1], kDriveIds[2]}};
  ServiceContext context_{*this, nodes_.table};
  // The cycle ends (as at an exchange time-out) after one cycle of the
  // wait with this 1-based number; its way out completes the pending
  // slots. `onCycleEnd` looks at the records just before.
  std::optional<int> endCycleInWait_;
  // Runs before every cycle's slot steps on the record about to be sent,
  // as the kernel's CAN object list is served and scheduled.
  std::function<void(common::ExchangeBuffer&)> beforeExchange_;
  // Runs after every good exchange on the record just answered, as the
  // kernel's motion processing does.
  std::function<void(common::ExchangeBuffer&)> afterExchange_;
  std::function<void()> onCycleEnd_;
  int waits_ = 0;
  std::vector<std::uint32_t> sleeps_;
  bool cycleRunning_ = false;
  bool resetPending_ = true;
  DriveWorkingValues working_{};
  bool limitSwitchBridge_ = false;
  std::unique_ptr<CanObjectList> canObjects_ = std::make_unique<CanObjectList>();
  bool waitedWhileLocked_ = false;
  int cycles_ = 0;
  // The deadline of every wait: far beyond any sequence the tests run.
  int maxWaitCycles_ = 2000;
  // The deadline of a whole test (51 s on the bus): a service that never
  // ends finds its cycle stopped.
  int maxTestCycles_ = 20000;
  // How long the driver may hold one exchange, in cycles.
  int exchangeAnswerCycles_ = 4;
  std::vector<std::uint32_t> clearedEnableWords_;
  int positionsTaken_ = 0;
  std::uint32_t interpolatedNodes_ = 0;
  // What the cycle hands the homing steps.
  HomingCycleState homing_{};
  TestSignal globalSignal_;
  TestSignal spareSignal_;
  // The global slot on the record behind the drives' records.
  GlobalRequest global_{.completionEvent = &globalSignal_, .record = 2 * kMaxBusDrives + 1};

 private:
  NodeTable* activeTable_ = &nodes_.table;
  GlobalRequest* activeGlobal_ = &global_;
  std::unique_ptr<host::LoadedDriver> driver_;
  std::shared_ptr<devhost::FileObject> owner_;
  common::ExchangeBuffer exchange_{};
  std::uint32_t elapsedMicroseconds_ = kBusCycleMicroseconds;
  int lockDepth_ = 0;
  std::size_t driveCount_;
  std::array<sim::drives::DriveModel*, kMaxBusDrives> drives_{};
  std::array<sim::canopen::NodeStation*, kMaxBusDrives> stations_{};
};

}  // namespace vantor::canopen::testing
