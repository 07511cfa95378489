// The CAN adapter's 82527 reached through the parallel port, one register
// at a time: strobed byte transfers (a handshake on BUSY, then address and
// data strobes) or the port's EPP address and data registers, and the
// port's set-up for a run and for the idle port.
//
// Every transfer runs with the port raised (the port's lock), so its
// address and data cycles are never split by another access to the port.
#pragma once

#include <cstdint>
#include <optional>

#include "drivers/canlayer/controller_bus.h"
#include "platform/devhost/clock.h"
#include "platform/devhost/hardware_access.h"
#include "platform/devhost/interrupt_line.h"

namespace vantor::ravund {

// ParallelPortMode: how the adapter's registers are reached.
enum class TransferMode : std::uint8_t {
  kEpp = 1,                     // EPP registers
  kStrobedExtendedControl = 2,  // strobed bytes, port put in byte mode first
  kEppExtendedControl = 3,      // EPP registers, port put in EPP mode first
  kStrobed = 4,                 // strobed bytes
};

// Anything else in the service key is taken as the default.
TransferMode TransferModeFrom(std::uint32_t value) noexcept;
bool IsStrobed(TransferMode mode) noexcept;
bool UsesExtendedControl(TransferMode mode) noexcept;

struct PortRegisters {
  std::uint16_t data = 0;
  std::uint16_t status = 0;
  std::uint16_t control = 0;
  std::uint16_t eppAddress = 0;
  std::uint16_t eppData = 0;
  std::optional<std::uint16_t> extendedControl;
};
PortRegisters PortRegistersAt(std::uint16_t base, TransferMode mode) noexcept;

// Control register patterns of the strobed transfers.
inline constexpr std::uint8_t kControlOutputIdle = 0x15;  // output, strobe, interrupt on
inline constexpr std::uint8_t kControlAddressStrobe = 0x1D;
inline constexpr std::uint8_t kControlDataStrobe = 0x17;
inline constexpr std::uint8_t kControlInputIdle = 0x34;  // input, interrupt on
inline constexpr std::uint8_t kControlReadStrobe = 0x36;
inline constexpr std::uint8_t kControlReset = 0x00;
inline constexpr std::uint8_t kControlIdle = 0x14;  // interrupt on, nothing strobed
inline constexpr std::uint8_t kStatusReady = 0x80;  // BUSY low
inline constexpr std::uint8_t kStatusEppTimeout = 0x01;
inline constexpr std::uint8_t kExtendedControlByteMode = 0x34;
inline constexpr std::uint8_t kExtendedControlEppMode = 0x94;
inline constexpr std::uint8_t kBidirectionalTestPattern = 0xAA;
// What a read yields when the adapter never got ready: a floating bus.
inline constexpr std::uint8_t kUnansweredRead = 0xFF;
inline constexpr devhost::Ticks kSetUpDelay = devhost::MillisecondsToTicks(250);

class AdapterPort final : public canlayer::ControllerBus {
 public:
  AdapterPort(devhost::HardwareMap& hardware, devhost::Clock& clock, devhost::CardLock& portLock,
              TransferMode mode)
      : hardware_(hardware), clock_(clock), portLock_(portLock), mode_(mode) {}

  void SetRegisters(const PortRegisters& registers) { registers_ = registers; }
  const PortRegisters& Registers() const noexcept { return registers_; }
  TransferMode Mode() const noexcept { return mode_; }

  std::uint8_t Read(std::uint8_t address) override;
  void Write(std::uint8_t address, std::uint8_t value) override;

  void ClearAddressLatched();

  // Run start: false when the port is not bidirectional (byte modes), that
  // is, no adapter drives its lines. Waits on the clock between steps.
  bool SetUpForRun();
  // Run end: the port as the system expects it back.
  void SetUpForIdle();

 private:
  bool Handshake();
  void AddressWrite(std::uint8_t address);
  void DataWrite(std::uint8_t value);
  std::uint8_t DataRead();
  std::uint8_t In(std::uint16_t port);
  void Out(std::uint16_t port, std::uint8_t value);
  bool SetUpByteMode();
  void SetUpEpp();
  void ResetAdapter();

  devhost::HardwareMap& hardware_;
  devhost::Clock& clock_;
  devhost::CardLock& portLock_;
  const TransferMode mode_;
  PortRegisters registers_{};
  // Strobe state, changed only with the port raised.
  bool addressLatched_ = false;
  bool outputDirection_ = false;
};

}  // namespace vantor::ravund
