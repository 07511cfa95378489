// The kernel's command handlers in this process over the real channel-1
// driver and simulated drives on the virtual clock: `Run(code)` serves a
// command on the test's thread (or any other) while a cycle thread runs the
// node steps and the global slot's step on the kernel's own slots and
// exchanges the record with the driver, under the kernel's cycle mutex and
// lock set.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "kernel/core/canopen/tests/real_bus_fixture.h"
#include "kernel/services/kernel_link.h"
#include "kernel/tests/stand_in_driver_link.h"
#include "platform/os/named_objects.h"

namespace vantor::kernel::testing {

// One configured node: its drive and, for a gantry, the slave drive.
struct ConfiguredNode {
  std::int32_t nodeId = 0;
  std::int32_t slaveNodeId = 0;
};

// What the initialisation record of a test says: the first nodes
// interpolated (all unless told otherwise), one coordinate each, the rest
// handling axes; the first coordinates on the path (all unless told
// otherwise); the first node gives the SYNC.
struct CncRecordShape {
  std::vector<ConfiguredNode> nodes;
  std::optional<std::int32_t> interpolatedCount = std::nullopt;
  std::optional<std::int32_t> pathCount = std::nullopt;
  // How long the kernel lets a drive boot after an NMT reset (real time:
  // the kernel sleeps while the cycle goes on).
  double resetNodeDelayMicroseconds = 0.0;
};

class KernelBusFixture : public canopen::testing::RealBusFixture {
 protected:
  explicit KernelBusFixture(
      const std::vector<canopen::testing::BusDrive>& drives =
          std::vector<canopen::testing::BusDrive>(canopen::testing::kDriveIds.size()));

  // Starts the bus and gives the kernel its block, events, driver link and
  // path buffer (a fatal failure ends the test).
  void StartKernel();
  // Command 12 on `shape`; on success the cycle thread starts on the
  // kernel's nodes and global slot.
  common::StatusCode InitialiseAndStartTheCycle(const CncRecordShape& shape);
  void TearDown() override;

  // Serves one command as the communication thread does; the result word.
  common::StatusCode Run(std::uint32_t code);
  void StopTheCycle();
  // Called on the cycle thread before every cycle, under the cycle's locks.
  std::function<void()> beforeEveryCycle_;
  // Ends the cycle as the kernel's own does when the driver stops
  // answering: every pending request completes and the cycle flag drops.
  // Only from `beforeEveryCycle_`.
  void EndTheCycle();

  // How often drive `id` was asked for `index` over SDO.
  std::size_t SdoReadsOf(std::uint8_t id, std::uint16_t index);

  // The bit rate the kernel is told the bus runs at (5: 500 kbit/s).
  std::uint8_t bitRateCode_ = 5;
  Kernel kernel_;
  StandInDriverLink link_;
  os::Mapping pathBuffer_;

 private:
  void WriteRecord(const CncRecordShape& shape);
  void RunTheCycle();

  std::atomic<bool> stop_{false};
  std::atomic<int> handlerRunning_{0};
  std::thread cycle_;
};

}  // namespace vantor::kernel::testing
