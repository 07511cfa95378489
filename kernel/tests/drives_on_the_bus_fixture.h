// Node 1 on drive 1, node 2 on the dual drive 2 with its gantry slave on
// drive 3, after the reset: commands run over the real channel-1 driver
// and the simulated drives, whose SDO logs show what reached them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/core/kernel_locks.h"
#include "kernel/tests/kernel_bus_fixture.h"

namespace vantor::kernel::testing {

using canopen::testing::BusDrive;
using common::StatusCode;
namespace cb = common::communication_block;

inline constexpr StatusCode kOk = common::kKernelSuccess;
inline constexpr std::uint16_t kStatusword = 0x6041;
inline constexpr std::uint8_t kDualDrive = 2;
inline constexpr std::uint8_t kSlaveDrive = 3;
inline constexpr sim::canopen::GuardingDefaults kGuarding{100, 3};
inline constexpr double kBootWaitMicroseconds = 200000.0;

inline std::vector<BusDrive> Drives() {
  std::vector<BusDrive> drives(3);
  for (BusDrive& drive : drives) drive.guarding = kGuarding;
  drives[kDualDrive - 1].config.variant = sim::drives::DriveVariant::kDual;
  return drives;
}

class DrivesOnTheBusFixture : public KernelBusFixture {
 protected:
  DrivesOnTheBusFixture() : KernelBusFixture(Drives()) {}
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(StartKernel());
    ASSERT_EQ(InitialiseAndStartTheCycle({.nodes = {{1, 0}, {kDualDrive, kSlaveDrive}},
                                          .resetNodeDelayMicroseconds = kBootWaitMicroseconds}),
              kOk);
    ASSERT_EQ(Run(15), kOk);
    ClearDriveLogs();
  }

  StatusCode Command(std::uint32_t code, std::uint32_t word) {
    static_cast<void>(kernel_.Block().Store<std::uint32_t>(cb::PayloadAt(0), word));
    return Run(code);
  }

  void ClearDriveLogs() {
    for (std::uint8_t id : {1, 2, 3}) ClearDriveLog(id);
  }

  std::vector<std::string> LogOf(std::uint8_t id) {
    return Models([&](sim::Machine&) { return DriveNode(id).Log().Lines(); });
  }

  bool Logged(std::uint8_t id, const std::string& line) {
    for (const std::string& logged : LogOf(id)) {
      if (logged.starts_with(line)) return true;
    }
    return false;
  }

  std::uint64_t Statusword(std::uint8_t id) {
    return Models([&](sim::Machine&) { return DriveNode(id).Objects().Unsigned(kStatusword, 0); });
  }

  template <typename Look>
  auto UnderLock(Look&& look) {
    KernelDataLock lock(kernel_.data);
    return look(kernel_.data);
  }

  std::uint32_t Flag(std::uint32_t KernelStateFlags::*flag) {
    return UnderLock([&](KernelData& data) { return data.state.*flag; });
  }

  // Every node homed, for commands that want homed axes whatever homed them.
  void MarkEveryNodeHomed() {
    UnderLock([](KernelData& data) {
      for (std::uint32_t k = 0; k < data.nodeConfiguration.BoundedNodeCount(); ++k) {
        data.nodeConfiguration.table.nodes[k]->SetFlagInBothRows(StatusFlag::D, true);
      }
      return 0;
    });
  }

  void ExpectRecordsArmed() {
    UnderLock([](KernelData& data) {
      for (std::uint32_t k = 0; k < data.nodeConfiguration.BoundedNodeCount(); ++k) {
        EXPECT_EQ(data.nodeConfiguration.table.nodes[k]->cyclicExchange, 1u) << "node " << k;
      }
      return 0;
    });
  }
};

}  // namespace vantor::kernel::testing
