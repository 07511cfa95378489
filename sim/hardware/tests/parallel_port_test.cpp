#include "sim/hardware/parallel_port.h"

#include <gtest/gtest.h>

#include "sim/hardware/machine.h"
#include "sim/hardware/parallel_can_adapter.h"
#include "sim/hardware/tests/controller_sequences.h"

namespace vantor::sim {
namespace {

using testing::ControllerAccess;

// The parallel-port driver's two ways to a controller register, written out
// from its description.
class PortAccess {
 public:
  PortAccess(PortSpace& ports, std::uint16_t base) : ports_(ports), base_(base) {}

  bool Handshake() {
    for (int read = 0; read < 6; ++read) {
      if (ports_.In8(Port(1)) & 0x80) return read < 5;
    }
    return false;
  }

  void StrobedAddress(std::uint8_t address) {
    Output();
    ports_.Out8(Port(0), address);
    ports_.Out8(Port(2), 0x1D);
    ports_.Out8(Port(2), 0x15);
  }
  bool StrobedWrite(std::uint8_t address, std::uint8_t value) {
    StrobedAddress(address);
    if (!Handshake()) return false;
    Output();
    ports_.Out8(Port(0), value);
    ports_.Out8(Port(2), 0x17);
    ports_.Out8(Port(2), 0x15);
    return true;
  }
  std::optional<std::uint8_t> StrobedRead(std::uint8_t address) {
    StrobedAddress(address);
    if (!Handshake()) return std::nullopt;
    if (output_) {
      ports_.Out8(Port(2), 0x34);
      output_ = false;
    }
    ports_.Out8(Port(2), 0x36);
    const std::uint8_t value = ports_.In8(Port(0));
    ports_.Out8(Port(2), 0x34);
    return value;
  }

  void EppWrite(std::uint8_t address, std::uint8_t value) {
    ports_.Out8(Port(3), address);
    ports_.Out8(Port(4), value);
  }
  std::uint8_t EppRead(std::uint8_t address) {
    ports_.Out8(Port(3), address);
    return ports_.In8(Port(4));
  }

  // The run start's check that a bidirectional peripheral is there.
  bool BidirectionalTest() {
    ports_.Out8(Port(2), 0x34);
    output_ = false;
    ports_.Out8(Port(0), 0xAA);
    return ports_.In8(Port(0)) != 0xAA;
  }

  ControllerAccess Strobed() {
    return ControllerAccess([this](std::uint8_t a) { return StrobedRead(a).value_or(0xFF); },
                            [this](std::uint8_t a, std::uint8_t v) { StrobedWrite(a, v); });
  }
  ControllerAccess Epp() {
    return ControllerAccess([this](std::uint8_t a) { return EppRead(a); },
                            [this](std::uint8_t a, std::uint8_t v) { EppWrite(a, v); });
  }

  std::uint16_t Port(std::uint16_t offset) const {
    return static_cast<std::uint16_t>(base_ + offset);
  }

 private:
  void Output() {
    if (!output_) {
      ports_.Out8(Port(2), 0x15);
      output_ = true;
    }
  }

  PortSpace& ports_;
  std::uint16_t base_;
  bool output_ = false;
};

class ParallelPortTest : public ::testing::Test {
 protected:
  ParallelPortTest() {
    machine_.AddBus("can2");
    port_ = machine_.AddParallelPort(ParallelPort::Config{});
    adapter_ = machine_.AddParallelAdapter(*port_, I82527::Config{}, "can2");
  }

  void ByteMode() { machine_.Ports().Out8(0x378 + 0x402, 0x34); }
  void EppMode() { machine_.Ports().Out8(0x378 + 0x402, 0x94); }

  Machine machine_;
  ParallelPort* port_ = nullptr;
  ParallelCanAdapter* adapter_ = nullptr;
  PortAccess access_{machine_.Ports(), 0x378};
};

TEST_F(ParallelPortTest, StrobedAndEppAccessReachTheSameRegisters) {
  ByteMode();
  ASSERT_TRUE(access_.Strobed().Detect());
  ASSERT_TRUE(access_.StrobedWrite(0x06, 0x5A));
  EppMode();
  EXPECT_EQ(access_.EppRead(0x06), 0x5A);
  access_.EppWrite(0x07, 0xA5);
  ByteMode();
  EXPECT_EQ(access_.StrobedRead(0x07), std::optional<std::uint8_t>(0xA5));
  EXPECT_EQ(adapter_->Controller().Read(0x07), 0xA5);
  EppMode();
  EXPECT_TRUE(access_.Epp().Detect());
}

TEST_F(ParallelPortTest, EppRegistersOnlyAnswerInEppMode) {
  ByteMode();
  access_.EppWrite(0x06, 0x11);
  EXPECT_NE(adapter_->Controller().Read(0x06), 0x11);
  EXPECT_EQ(machine_.Ports().In8(0x378 + 4), 0xFF);
}

TEST(ParallelPortBidirectional, TestPassesOnlyWithAnAdapterOnABidirectionalPort) {
  struct Case {
    const char* name;
    bool adapter;
    bool extended_control;
    bool bidirectional;
    bool passes;
  };
  const Case cases[] = {
      {"adapter", true, true, true, true},
      {"no adapter", false, true, true, false},
      {"adapter on an output-only port", true, false, false, false},
      {"adapter, no extended control", true, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine machine;
    machine.AddBus("can2");
    ParallelPort::Config config;
    config.extended_control = c.extended_control;
    config.bidirectional = c.bidirectional;
    ParallelPort* port = machine.AddParallelPort(config);
    if (c.adapter) machine.AddParallelAdapter(*port, I82527::Config{}, "can2");
    PortAccess access(machine.Ports(), 0x378);
    EXPECT_EQ(access.BidirectionalTest(), c.passes);
  }
}

TEST_F(ParallelPortTest, StuckAdapterFailsTheHandshakeAndTimesOutEpp) {
  ByteMode();
  adapter_->SetStuckNotReady(true);
  EXPECT_FALSE(access_.Handshake());
  EXPECT_FALSE(access_.StrobedRead(0x02).has_value());

  EppMode();
  EXPECT_EQ(access_.EppRead(0x02), 0xFF);
  EXPECT_EQ(machine_.Ports().In8(0x378 + 1) & 0x01, 0x01) << "EPP time-out";
  machine_.Ports().Out8(0x378 + 1, 0x01);
  EXPECT_EQ(machine_.Ports().In8(0x378 + 1) & 0x01, 0x00) << "cleared by writing 1";

  adapter_->SetStuckNotReady(false);
  EXPECT_TRUE(access_.Handshake());
  EXPECT_EQ(access_.EppRead(0x02) & 0x80, 0x00);
}

TEST(ParallelPortAlone, NoAdapterMeansNoHandshake) {
  Machine machine;
  machine.AddParallelPort(ParallelPort::Config{});
  PortAccess access(machine.Ports(), 0x378);
  EXPECT_FALSE(access.Handshake());
}

TEST_F(ParallelPortTest, AdapterClockOutRaisesThePortInterrupt) {
  ByteMode();
  ControllerAccess controller = access_.Strobed();
  ASSERT_TRUE(controller.Detect());
  controller.InitClock(2);
  machine_.Ports().Out8(0x378 + 2, 0x04);  // every strobe pattern enables it; this does not
  std::uint64_t pulses_before = port_->Interrupt().RisingEdges();
  machine_.Sim().AdvanceBy(10 * 256 * kNanosecondsPerMicrosecond);
  EXPECT_EQ(port_->Interrupt().RisingEdges(), pulses_before)
      << "interrupt not enabled in the control register";

  machine_.Ports().Out8(0x378 + 2, 0x14);
  pulses_before = port_->Interrupt().RisingEdges();
  machine_.Sim().AdvanceBy(10 * 256 * kNanosecondsPerMicrosecond);
  EXPECT_EQ(port_->Interrupt().RisingEdges() - pulses_before, 10U);
  EXPECT_FALSE(port_->Interrupt().Asserted()) << "an edge-triggered pulse";

  // Port-2 bit 2 set switches the tick off the line.
  ASSERT_TRUE(access_.StrobedWrite(0xEF, 0xFC));
  machine_.Ports().Out8(0x378 + 2, 0x14);
  pulses_before = port_->Interrupt().RisingEdges();
  machine_.Sim().AdvanceBy(10 * 256 * kNanosecondsPerMicrosecond);
  EXPECT_EQ(port_->Interrupt().RisingEdges(), pulses_before);
}

}  // namespace
}  // namespace vantor::sim
