// Register windows, ports and configuration space of the runtime reach the
// simulated models.
#include "drivers/host/hardware_adapters.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "drivers/host/tests/glue_fixture.h"

namespace vantor::host::testing {
namespace {

class HardwareAdaptersTest : public GlueFixture {};

TEST_F(HardwareAdaptersTest, RegisterWritesThroughMappedWindowsReachBridgeAndBothControllers) {
  devhost::RegisterWindow bridge = MapWindow(kBridgeWindow, 0x80);
  devhost::RegisterWindow controllers = MapWindow(kControllerWindow, 0x200);
  ASSERT_TRUE(bridge.Mapped() && controllers.Mapped());

  // Configuration-change enable, so the bit-timing registers take writes.
  controllers.Write8(0x000, 0x41);
  controllers.Write8(0x100, 0x41);
  bridge.Write32(0x00, 0x0FF00000);
  controllers.Write8(0x03F, 0x40);
  controllers.Write8(0x13F, 0x23);

  SimulationPump::ModelAccess access(machine_->Pump());
  EXPECT_EQ(Card().BarWindow(0)->Read32(0x00), 0x0FF00000u) << "bridge local range register";
  EXPECT_EQ(Card().BarWindow(2)->Read8(0x03F), 0x40) << "channel 1 bit timing 0";
  EXPECT_EQ(Card().BarWindow(2)->Read8(0x13F), 0x23) << "channel 2 at window + 0x100";
}

TEST_F(HardwareAdaptersTest, ReadsComeFromTheModelsAndTheConfigurationHeaderIsTheCards) {
  devhost::RegisterWindow controllers = MapWindow(kControllerWindow, 0x200);
  {
    SimulationPump::ModelAccess access(machine_->Pump());
    Card().BarWindow(2)->Write8(0x000, 0x41);
    Card().BarWindow(2)->Write8(0x04F, 0x14);
  }
  EXPECT_EQ(controllers.Read8(0x04F), 0x14);

  std::array<std::uint8_t, 4> identifiers{};
  ASSERT_EQ(host_->Hardware().ReadPciConfig({0, 4, 0}, 0x00, identifiers), 4u);
  EXPECT_EQ(identifiers, (std::array<std::uint8_t, 4>{0xB5, 0x10, 0x30, 0x90}));
  std::array<std::uint8_t, 1> line{};
  ASSERT_EQ(host_->Hardware().ReadPciConfig({0, 4, 0}, 0x3C, line), 1u);
  EXPECT_EQ(line[0], kCardInterrupt);
  EXPECT_EQ(host_->Hardware().ReadPciConfig({0, 5, 0}, 0x00, identifiers), 0u) << "empty slot";
}

TEST_F(HardwareAdaptersTest, PortAccessesReachTheParallelPortTestPortAndConfigurationMechanism) {
  devhost::HardwareMap& hardware = host_->Hardware();
  hardware.PortOut8(0x37A, 0x04);
  hardware.PortOut8(0x378, 0x5A);
  hardware.PortOut8(0x300, 0x12);
  {
    SimulationPump::ModelAccess access(machine_->Pump());
    sim::ParallelPort& port = *machine_->Models().FindParallelPort("lpt0");
    EXPECT_EQ(port.ControlRegister() & 0x3F, 0x04);
    ASSERT_EQ(machine_->Models().FindTestPort(0x300)->Writes().size(), 1u);
    EXPECT_EQ(machine_->Models().FindTestPort(0x300)->Writes().front().value, 0x12);
  }
  EXPECT_EQ(hardware.PortIn8(0x378), 0x5A) << "output direction reads the data latch back";

  // Configuration mechanism 1 finds the card by bus and device number.
  constexpr std::uint32_t kEnable = 0x80000000;
  hardware.PortOut32(0xCF8, kEnable | (4u << 11));
  EXPECT_EQ(hardware.PortIn32(0xCFC), 0x903010B5u);
  EXPECT_EQ(hardware.PortIn8(0x2F8), 0xFF) << "nobody answers an empty port";
}

TEST_F(HardwareAdaptersTest, PortRangeAtABaseTurnsOffsetsIntoPortNumbers) {
  devhost::HardwareMap portsOnly;
  SimulatedPorts lpt(machine_->Pump(), machine_->Models().Ports(), 0x378);
  ASSERT_TRUE(portsOnly.AddPortRange(0x378, 8, lpt));
  portsOnly.PortOut8(0x37A, 0x0C);
  {
    SimulationPump::ModelAccess access(machine_->Pump());
    EXPECT_EQ(machine_->Models().FindParallelPort("lpt0")->ControlRegister() & 0x3F, 0x0C);
  }

  // Offsets that would run past the last port float instead of wrapping.
  SimulatedPorts top(machine_->Pump(), machine_->Models().Ports(), 0xFFFE);
  EXPECT_EQ(top.In32(0), 0xFFFFFFFFu);
  EXPECT_EQ(top.In8(2), 0xFF);
  top.Out32(0, 0);  // goes nowhere, and must not reach port 0
}

}  // namespace
}  // namespace vantor::host::testing
