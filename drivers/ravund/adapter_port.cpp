#include "drivers/ravund/adapter_port.h"

namespace vantor::ravund {
namespace {

constexpr int kHandshakeReads = 6;
constexpr int kHandshakeReadsThatCount = 5;
constexpr std::uint16_t kEppAddressOffset = 3;
constexpr std::uint16_t kEppDataOffset = 4;
constexpr std::uint16_t kExtendedControlOffset = 0x402;

}  // namespace

TransferMode TransferModeFrom(std::uint32_t value) noexcept {
  switch (value) {
    case 1:
      return TransferMode::kEpp;
    case 3:
      return TransferMode::kEppExtendedControl;
    case 4:
      return TransferMode::kStrobed;
    default:
      return TransferMode::kStrobedExtendedControl;
  }
}

bool IsStrobed(TransferMode mode) noexcept {
  return mode == TransferMode::kStrobed || mode == TransferMode::kStrobedExtendedControl;
}

bool UsesExtendedControl(TransferMode mode) noexcept {
  return mode == TransferMode::kStrobedExtendedControl || mode == TransferMode::kEppExtendedControl;
}

PortRegisters PortRegistersAt(std::uint16_t base, TransferMode mode) noexcept {
  PortRegisters registers;
  registers.data = base;
  registers.status = static_cast<std::uint16_t>(base + 1);
  registers.control = static_cast<std::uint16_t>(base + 2);
  registers.eppAddress = static_cast<std::uint16_t>(base + kEppAddressOffset);
  registers.eppData = static_cast<std::uint16_t>(base + kEppDataOffset);
  if (UsesExtendedControl(mode))
    registers.extendedControl = static_cast<std::uint16_t>(base + kExtendedControlOffset);
  return registers;
}

std::uint8_t AdapterPort::In(std::uint16_t port) { return hardware_.PortIn8(port); }
void AdapterPort::Out(std::uint16_t port, std::uint8_t value) { hardware_.PortOut8(port, value); }

void AdapterPort::ClearAddressLatched() {
  const auto raised = portLock_.Raise();
  addressLatched_ = false;
}

// The adapter shows it is ready by pulling BUSY low. Only the first five
// reads count; the sixth merely ends the wait.
bool AdapterPort::Handshake() {
  for (int read = 0; read < kHandshakeReads; ++read) {
    if ((In(registers_.status) & kStatusReady) != 0) return read < kHandshakeReadsThatCount;
  }
  return false;
}

void AdapterPort::AddressWrite(std::uint8_t address) {
  if (!outputDirection_) {
    Out(registers_.control, kControlOutputIdle);
    outputDirection_ = true;
  }
  Out(registers_.data, address);
  Out(registers_.control, kControlAddressStrobe);
  Out(registers_.control, kControlOutputIdle);
}

void AdapterPort::DataWrite(std::uint8_t value) {
  if (!Handshake()) return;
  if (!outputDirection_) {
    Out(registers_.control, kControlOutputIdle);
    outputDirection_ = true;
  }
  Out(registers_.data, value);
  Out(registers_.control, kControlDataStrobe);
  Out(registers_.control, kControlOutputIdle);
}

std::uint8_t AdapterPort::DataRead() {
  if (!Handshake()) return kUnansweredRead;
  if (outputDirection_) {
    Out(registers_.control, kControlInputIdle);
    outputDirection_ = false;
  }
  Out(registers_.control, kControlReadStrobe);
  const std::uint8_t value = In(registers_.data);
  Out(registers_.control, kControlInputIdle);
  return value;
}

std::uint8_t AdapterPort::Read(std::uint8_t address) {
  const auto raised = portLock_.Raise();
  if (IsStrobed(mode_)) {
    // Each cycle waits for the adapter's handshake; a cycle whose handshake
    // times out is skipped and the transfer goes on.
    if (Handshake() && !addressLatched_) AddressWrite(address);
    return DataRead();
  }
  if (!addressLatched_) Out(registers_.eppAddress, address);
  return In(registers_.eppData);
}

void AdapterPort::Write(std::uint8_t address, std::uint8_t value) {
  const auto raised = portLock_.Raise();
  if (IsStrobed(mode_)) {
    // The data cycle is still tried after a failed address cycle.
    if (Handshake() && !addressLatched_) AddressWrite(address);
    DataWrite(value);
    return;
  }
  if (!addressLatched_) Out(registers_.eppAddress, address);
  Out(registers_.eppData, value);
}

}  // namespace vantor::ravund
