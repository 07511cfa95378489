#include "sim/hardware/pci_card.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/hardware/tests/card_fixture.h"

namespace vantor::sim {
namespace {

using testing::CardFixture;
using testing::CardOnBus;
using testing::ControllerAccess;

constexpr std::uint32_t kInterruptControl = 0x4C;

class PciCardTest : public CardFixture {
 protected:
  RegisterWindow& Bridge() { return *card->BarWindow(0); }

  // What the channel-1 driver does once its interrupt is connected.
  void EnableTickInterrupt() {
    const std::uint32_t control = Bridge().Read32(kInterruptControl);
    Bridge().Write32(kInterruptControl, control | 0x103);
    Bridge().Write32(kInterruptControl, Bridge().Read32(kInterruptControl) | 0x400 | 0x40);
  }
  void ClearEdge() {
    Bridge().Write32(kInterruptControl, Bridge().Read32(kInterruptControl) | 0x400);
  }
};

TEST_F(PciCardTest, TickComesEveryDividerTimes128Microseconds) {
  for (int divider : {1, 2, 4, 15}) {
    SCOPED_TRACE(divider);
    CardOnBus rig;
    RegisterWindow* bridge = rig.card->BarWindow(0);
    ControllerAccess access = rig.Channel(1);
    std::vector<SimTime> rises;
    rig.card->Interrupt().SetListener([&](bool asserted) {
      if (asserted) rises.push_back(rig.machine.Sim().Now());
    });
    ASSERT_TRUE(access.Detect());
    access.InitClock(divider);
    const SimTime clocked = rig.machine.Sim().Now();
    bridge->Write32(kInterruptControl, 0x103);
    bridge->Write32(kInterruptControl, 0x103 | 0x400 | 0x40);

    const SimTime period = static_cast<SimTime>(divider) * 128 * kNanosecondsPerMicrosecond;
    for (int tick = 1; tick <= 4; ++tick) {
      rig.machine.Sim().AdvanceTo(clocked + tick * period - 1);
      EXPECT_FALSE(rig.card->Interrupt().Asserted());
      rig.machine.Sim().AdvanceTo(clocked + tick * period);
      EXPECT_TRUE(rig.card->Interrupt().Asserted());
      EXPECT_EQ(bridge->Read32(kInterruptControl) & 0x4, 0x4u) << "edge latched";
      bridge->Write32(kInterruptControl, bridge->Read32(kInterruptControl) | 0x400);
      EXPECT_FALSE(rig.card->Interrupt().Asserted()) << "writing bit 10 clears the edge";
    }
    EXPECT_EQ(rises.size(), 4U);
  }
}

TEST_F(PciCardTest, LatchedEdgeHoldsTheLineUntilCleared) {
  ControllerAccess access = Channel(1);
  ASSERT_TRUE(access.Detect());
  access.InitClock(1);
  EnableTickInterrupt();
  Sim().AdvanceBy(10 * 128 * kNanosecondsPerMicrosecond);
  EXPECT_TRUE(card->Interrupt().Asserted());
  EXPECT_EQ(card->Interrupt().RisingEdges(), 1U) << "ten ticks, one latched edge";
  EXPECT_EQ(Bridge().Read32(kInterruptControl) & 0x400, 0U) << "the clear bit reads 0";
  EXPECT_EQ(card->ReadConfig(0x06, 2) & 0x08, 0x08)
      << "interrupt status in the PCI status register";
  ClearEdge();
  EXPECT_FALSE(card->Interrupt().Asserted());
}

TEST_F(PciCardTest, InterruptNeedsPciEnableEdgeModeAndTheChannel2Line) {
  struct Case {
    const char* name;
    std::uint32_t interrupt_control;
    bool line_on;
    bool asserted;
  };
  const Case cases[] = {
      {"all enabled", 0x143, true, true},
      {"PCI interrupt off", 0x103, true, false},
      {"local interrupt off", 0x142, true, false},
      {"level mode sees no lasting level", 0x043, true, false},
      {"channel-2 line switched off", 0x143, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CardOnBus rig;
    ControllerAccess access = rig.Channel(1);
    ASSERT_TRUE(access.Detect());
    access.InitClock(1);
    if (!c.line_on) access.Write(0xEF, 0xFC);
    rig.card->BarWindow(0)->Write32(kInterruptControl, c.interrupt_control);
    rig.machine.Sim().AdvanceBy(1000 * kNanosecondsPerMicrosecond);
    EXPECT_EQ(rig.card->Interrupt().Asserted(), c.asserted);
  }
}

TEST_F(PciCardTest, BridgeRegistersKeepTheDriversValuesInItsWriteOrder) {
  struct Write {
    std::uint32_t offset;
    std::uint32_t value;
  };
  const Write writes[] = {
      {0x00, 0x0FF00000}, {0x14, 0x00000001}, {0x28, 0xFC397C80}, {0x04, 0},
      {0x18, 0},          {0x2C, 0x00800000}, {0x08, 0},          {0x1C, 0},
      {0x30, 0x00800000}, {0x0C, 0},          {0x20, 0},          {0x34, 0x00800000},
      {0x10, 0xFFFF0000}, {0x24, 0x00100000}, {0x38, 0},          {0x3C, 0x00000081},
      {0x40, 0x00000181}, {0x44, 0},          {0x48, 0},          {0x4C, 0x00000003},
      {0x50, 0x18780000}, {0x54, 0x00249000}};
  for (const Write& write : writes) Bridge().Write32(write.offset, write.value);
  for (const Write& write : writes)
    EXPECT_EQ(Bridge().Read32(write.offset), write.value) << std::hex << write.offset;
  // Both controllers answer behind the chip selects as programmed.
  EXPECT_EQ(window->Read8(0x02) & 0x80, 0);
  EXPECT_EQ(window->Read8(0x102) & 0x80, 0);
  EXPECT_EQ(window->Read8(0x200), 0xFF) << "nothing behind the chip selects there";
  // Without chip select 1 the second controller is gone.
  Bridge().Write32(0x40, 0);
  EXPECT_EQ(window->Read8(0x102), 0xFF);
}

TEST_F(PciCardTest, ConfigurationHeaderAgreesWithTheWindows) {
  const PciCard::Config& config = card->Configuration();
  EXPECT_EQ(card->ReadConfig(0x00, 2), config.vendor_id);
  EXPECT_EQ(card->ReadConfig(0x02, 2), config.device_id);
  EXPECT_EQ(card->ReadConfig(0x3D, 1), 1U) << "INTA";
  EXPECT_EQ(card->ReadConfig(0x3C, 1), config.interrupt_line);
  const PciCard::Bar bar0 = card->BarInfo(0);
  const PciCard::Bar bar1 = card->BarInfo(1);
  const PciCard::Bar bar2 = card->BarInfo(2);
  EXPECT_EQ(bar0.address, config.bar0_address);
  EXPECT_FALSE(bar0.io);
  EXPECT_EQ(bar0.size, card->BarWindow(0)->Size());
  EXPECT_EQ(bar1.address, config.bar1_address);
  EXPECT_TRUE(bar1.io);
  EXPECT_EQ(bar2.size, card->BarWindow(2)->Size());
  EXPECT_EQ(card->BarInfo(3).size, 0U);
  EXPECT_EQ(card->BarWindow(3), nullptr);

  // Sizing a window the way configuration software does.
  card->WriteConfig(0x18, 4, 0xFFFFFFFF);
  EXPECT_EQ(card->ReadConfig(0x18, 4), ~(config.bar2_size - 1) & ~15U);
  card->WriteConfig(0x18, 4, config.bar2_address);
  EXPECT_EQ(card->BarInfo(2).address, config.bar2_address);

  // The power-management capability.
  const std::uint32_t capability = card->ReadConfig(0x34, 1);
  EXPECT_EQ(card->ReadConfig(static_cast<std::uint16_t>(capability), 1), 0x01U);
  EXPECT_EQ(card->ReadConfig(static_cast<std::uint16_t>(capability + 2), 2) & 0x0600, 0U)
      << "no D1, D2";
}

TEST_F(PciCardTest, BridgeRegistersAnswerInIoSpaceAndConfigMechanism1FindsTheCard) {
  const std::uint16_t io = static_cast<std::uint16_t>(card->BarInfo(1).address);
  machine.Ports().Out32(static_cast<std::uint16_t>(io + 0x54), 0x00249000);
  EXPECT_EQ(Bridge().Read32(0x54), 0x00249000U);
  EXPECT_EQ(machine.Ports().In8(static_cast<std::uint16_t>(io + 0x55)), 0x90);

  const PciCard::Config& config = card->Configuration();
  const std::uint32_t address =
      0x80000000U | (config.bus_number << 16) | (config.device_number << 11) | 0x10;
  machine.Ports().Out32(0xCF8, address);
  EXPECT_EQ(machine.Ports().In32(0xCFC), config.bar0_address);
  machine.Ports().Out32(0xCF8, address + (1 << 11));
  EXPECT_EQ(machine.Ports().In32(0xCFC), 0xFFFFFFFFU) << "empty slot";
}

TEST_F(PciCardTest, EveryAccessCostsTimeAndIsReported) {
  std::vector<RegisterAccess> log;
  Sim().SetAccessObserver([&](const RegisterAccess& access) { log.push_back(access); });
  Sim().SetRegisterAccessCost(250);
  window->Write8(0x100 + 0x0F, 0x12);
  window->Read8(0x100 + 0x0F);
  Bridge().Read32(0x4C);
  EXPECT_EQ(Sim().Now(), 750U);
  ASSERT_EQ(log.size(), 3U);
  EXPECT_EQ(log[0].device, "pci0.bar2");
  EXPECT_EQ(log[0].offset, 0x10FU);
  EXPECT_EQ(log[0].kind, RegisterAccess::Kind::kWrite);
  EXPECT_EQ(log[1].value, 0x12U);
  EXPECT_EQ(log[1].time, 500U);
  EXPECT_EQ(log[2].device, "pci0.bar0");
  EXPECT_EQ(log[2].width, 4);
}

TEST_F(PciCardTest, FrameEndsWhileTheDriverPollsRegisters) {
  StartChannel(1);
  StartChannel(2);
  Sim().SetRegisterAccessCost(1000);
  ControllerAccess sender = Channel(1);
  sender.LoadAndSend(1, 0x181, CanFrame{0x181, false, 0, {}});
  // Polling the transmit state alone lets the frame finish: reads take time.
  int reads = 0;
  while ((sender.Read(0x11) & 0x30) == 0x20 && reads < 1000) ++reads;
  EXPECT_LT(reads, 1000);
  EXPECT_GT(reads, 30);
}

}  // namespace
}  // namespace vantor::sim
