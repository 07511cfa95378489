#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/hardware/interrupt_line.h"
#include "sim/hardware/register_window.h"
#include "sim/hardware/simulation.h"

namespace vantor::sim {

// What hangs on the parallel port's connector and answers its lines.
class ParallelPeripheral {
 public:
  virtual ~ParallelPeripheral() = default;

  // The host changed the control register (bits 0 to 5 as written) while
  // the data latch held `data`.
  virtual void ControlChanged(std::uint8_t before, std::uint8_t after, std::uint8_t data) = 0;
  // The byte the peripheral drives onto the data lines, if it drives them.
  virtual std::optional<std::uint8_t> DrivenData() const = 0;
  // Level of the BUSY line: high means not ready.
  virtual bool Busy() const = 0;

  // EPP cycles; false when the peripheral does not answer the handshake.
  virtual bool EppAddressWrite(std::uint8_t value) = 0;
  virtual bool EppAddressRead(std::uint8_t& value) = 0;
  virtual bool EppDataWrite(std::uint8_t value) = 0;
  virtual bool EppDataRead(std::uint8_t& value) = 0;
};

// A PC parallel port: data, status and control registers, the EPP address
// and data registers, and (when fitted) the extended control register at
// base + 0x402. The interrupt is the rising edge of the peripheral's
// acknowledge line while control bit 4 enables it.
class ParallelPort : public PortDevice {
 public:
  struct Config {
    std::string name = "lpt0";
    std::uint16_t base = 0x378;
    std::uint8_t irq = 7;
    bool epp = true;               // EPP registers at base + 3 and base + 4
    bool extended_control = true;  // extended control register at base + 0x402
    bool bidirectional = true;     // without the extended control register
  };

  // Register offsets from the base.
  static constexpr std::uint16_t kData = 0;
  static constexpr std::uint16_t kStatus = 1;
  static constexpr std::uint16_t kControl = 2;
  static constexpr std::uint16_t kEppAddress = 3;
  static constexpr std::uint16_t kEppData = 4;
  static constexpr std::uint16_t kEppDataLast = 7;
  static constexpr std::uint16_t kExtendedControl = 0x402;
  static constexpr std::uint16_t kSpan = 8;
  static constexpr std::uint16_t kExtendedBase = 0x400;
  static constexpr std::uint16_t kExtendedSpan = 3;

  // Status bits.
  static constexpr std::uint8_t kStatusNotBusy = 0x80;
  static constexpr std::uint8_t kStatusNotAcknowledge = 0x40;
  static constexpr std::uint8_t kStatusSelect = 0x10;
  static constexpr std::uint8_t kStatusNotError = 0x08;
  static constexpr std::uint8_t kStatusReservedOnes = 0x06;
  static constexpr std::uint8_t kStatusEppTimeout = 0x01;

  // Control bits.
  static constexpr std::uint8_t kControlStrobe = 0x01;
  static constexpr std::uint8_t kControlAutoFeed = 0x02;
  static constexpr std::uint8_t kControlInit = 0x04;
  static constexpr std::uint8_t kControlSelectIn = 0x08;
  static constexpr std::uint8_t kControlInterruptEnable = 0x10;
  static constexpr std::uint8_t kControlInput = 0x20;

  // Extended control modes (bits 7 to 5).
  static constexpr std::uint8_t kModeStandard = 0;
  static constexpr std::uint8_t kModeByte = 1;
  static constexpr std::uint8_t kModeEcp = 3;
  static constexpr std::uint8_t kModeEpp = 4;

  ParallelPort(Simulation& simulation, Config config);

  const Config& Configuration() const { return config_; }
  const std::string& Name() const { return config_.name; }

  // Whether `port` belongs to this parallel port.
  bool Claims(std::uint16_t port) const;

  void Connect(ParallelPeripheral* peripheral) { peripheral_ = peripheral; }

  std::uint8_t In8(std::uint16_t port) override;
  void Out8(std::uint16_t port, std::uint8_t value) override;

  InterruptLine& Interrupt() { return interrupt_; }

  // The peripheral pulses the acknowledge line.
  void AcknowledgePulse();

  std::uint8_t ControlRegister() const { return control_; }

 private:
  std::uint8_t Read(std::uint16_t offset);
  void Write(std::uint16_t offset, std::uint8_t value);
  std::uint8_t ExtendedMode() const { return static_cast<std::uint8_t>(extended_control_ >> 5); }
  bool DirectionHonoured() const;
  bool EppActive() const;
  std::uint8_t DataLines() const;
  std::uint8_t EppRead(bool address);
  void EppWrite(bool address, std::uint8_t value);

  Simulation& simulation_;
  Config config_;
  ParallelPeripheral* peripheral_ = nullptr;
  std::uint8_t data_latch_ = 0;
  std::uint8_t control_ = kControlInit;
  // Byte mode after power-up, so a port is bidirectional before anyone
  // touches the extended control register.
  std::uint8_t extended_control_ = 0x35;
  bool epp_timeout_ = false;
  InterruptLine interrupt_;
};

}  // namespace vantor::sim
