#include "sim/hardware/parallel_port.h"

namespace vantor::sim {
namespace {

constexpr std::uint8_t kExtendedControlFifoEmpty = 0x01;
constexpr std::uint8_t kExtendedControlReadOnly = 0x03;
constexpr std::uint8_t kUnclaimed = 0xFF;

}  // namespace

ParallelPort::ParallelPort(Simulation& simulation, Config config)
    : simulation_(simulation), config_(std::move(config)) {}

bool ParallelPort::Claims(std::uint16_t port) const {
  const std::uint32_t offset = static_cast<std::uint32_t>(port) - config_.base;
  if (port < config_.base) return false;
  if (offset < kSpan) return true;
  return config_.extended_control && offset >= kExtendedBase &&
         offset < kExtendedBase + kExtendedSpan;
}

std::uint8_t ParallelPort::In8(std::uint16_t port) {
  simulation_.ChargeRegisterAccess();
  const std::uint8_t value =
      Claims(port) ? Read(static_cast<std::uint16_t>(port - config_.base)) : kUnclaimed;
  simulation_.NotifyAccess(
      RegisterAccess{simulation_.Now(), config_.name, port, 1, RegisterAccess::Kind::kRead, value});
  return value;
}

void ParallelPort::Out8(std::uint16_t port, std::uint8_t value) {
  simulation_.ChargeRegisterAccess();
  if (Claims(port)) Write(static_cast<std::uint16_t>(port - config_.base), value);
  simulation_.NotifyAccess(RegisterAccess{simulation_.Now(), config_.name, port, 1,
                                          RegisterAccess::Kind::kWrite, value});
}

bool ParallelPort::DirectionHonoured() const {
  if (!config_.extended_control) return config_.bidirectional;
  const std::uint8_t mode = ExtendedMode();
  return mode == kModeByte || mode == kModeEcp || mode == kModeEpp;
}

bool ParallelPort::EppActive() const {
  return config_.epp && (!config_.extended_control || ExtendedMode() == kModeEpp);
}

std::uint8_t ParallelPort::DataLines() const {
  if (!((control_ & kControlInput) && DirectionHonoured())) return data_latch_;
  if (peripheral_ == nullptr) {
    // Nothing drives the open lines: they still hold the byte the port put
    // there last, which is how the bidirectional test sees no peripheral.
    return data_latch_;
  }
  const std::optional<std::uint8_t> driven = peripheral_->DrivenData();
  return driven ? *driven : 0xFF;  // the peripheral's pull-ups
}

std::uint8_t ParallelPort::Read(std::uint16_t offset) {
  switch (offset) {
    case kData:
      return DataLines();
    case kStatus: {
      std::uint8_t status =
          kStatusNotAcknowledge | kStatusSelect | kStatusNotError | kStatusReservedOnes;
      if (peripheral_ != nullptr && !peripheral_->Busy()) status |= kStatusNotBusy;
      if (epp_timeout_) status |= kStatusEppTimeout;
      return status;
    }
    case kControl:
      return static_cast<std::uint8_t>(control_ | 0xC0);
    case kExtendedControl:
      return static_cast<std::uint8_t>((extended_control_ & ~kExtendedControlReadOnly) |
                                       kExtendedControlFifoEmpty);
    default:
      break;
  }
  if (offset == kEppAddress) return EppActive() ? EppRead(true) : kUnclaimed;
  if (offset >= kEppData && offset <= kEppDataLast)
    return EppActive() ? EppRead(false) : kUnclaimed;
  return kUnclaimed;
}

void ParallelPort::Write(std::uint16_t offset, std::uint8_t value) {
  switch (offset) {
    case kData:
      data_latch_ = value;
      return;
    case kStatus:
      // Writing 1 to bit 0 clears an EPP time-out.
      if (value & kStatusEppTimeout) epp_timeout_ = false;
      return;
    case kControl: {
      const std::uint8_t before = control_;
      control_ = value & 0x3F;
      if (peripheral_ != nullptr && before != control_)
        peripheral_->ControlChanged(before, control_, data_latch_);
      return;
    }
    case kExtendedControl:
      extended_control_ = value;
      return;
    default:
      break;
  }
  if (offset == kEppAddress && EppActive()) EppWrite(true, value);
  if (offset >= kEppData && offset <= kEppDataLast && EppActive()) EppWrite(false, value);
}

std::uint8_t ParallelPort::EppRead(bool address) {
  std::uint8_t value = kUnclaimed;
  const bool answered = peripheral_ != nullptr && (address ? peripheral_->EppAddressRead(value)
                                                           : peripheral_->EppDataRead(value));
  if (!answered) {
    epp_timeout_ = true;
    return kUnclaimed;
  }
  return value;
}

void ParallelPort::EppWrite(bool address, std::uint8_t value) {
  const bool answered = peripheral_ != nullptr && (address ? peripheral_->EppAddressWrite(value)
                                                           : peripheral_->EppDataWrite(value));
  if (!answered) epp_timeout_ = true;
}

void ParallelPort::AcknowledgePulse() {
  if (control_ & kControlInterruptEnable) interrupt_.Pulse();
}

}  // namespace vantor::sim
