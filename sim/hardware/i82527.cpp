#include "sim/hardware/i82527.h"

#include <algorithm>

#include "sim/hardware/frame_timing.h"

namespace vantor::sim {

namespace chip = i82527;

namespace {

constexpr SimTime kNanosecondsPerSecond = 1000 * kNanosecondsPerMillisecond;

void ApplyPair(bool& flag, std::uint8_t value, int shift) {
  const std::uint8_t pair = (value >> shift) & 0b11;
  if (pair == chip::kPairReset) flag = false;
  if (pair == chip::kPairSet) flag = true;
}

bool PairSets(std::uint8_t value, int shift) { return ((value >> shift) & 0b11) == chip::kPairSet; }

std::uint8_t EncodePair(bool flag, int shift) {
  return static_cast<std::uint8_t>((flag ? chip::kPairSet : chip::kPairReset) << shift);
}

}  // namespace

I82527::I82527(Simulation& simulation, Config config)
    : simulation_(simulation), config_(std::move(config)) {
  HardwareReset();
}

void I82527::HardwareReset() {
  control_ = chip::kControlInit;
  status_flags_ = 0;
  cpu_interface_ = chip::kCpuInterfaceResetValue;
  plain_registers_.fill(0);
  // The masks start as "every bit must match", so nothing is taken in by
  // accident before the drivers program them.
  for (std::uint8_t address = chip::kGlobalMaskStandard0; address <= 0x0F; ++address)
    plain_registers_[address] = 0xFF;
  clock_out_ = 0;
  bit_timing0_ = 0;
  bit_timing1_ = 0;
  port1_configuration_ = 0;
  port2_configuration_ = 0;
  port1_output_ = 0xFF;
  port2_output_ = 0xFF;
  objects_ = {};
  object15_shadow_.reset();
  transmit_errors_ = 0;
  receive_errors_ = 0;
  bus_off_ = false;
  recovery_ends_ = kNever;
  offered_object_ = 0;
  ++clock_out_generation_;
  clock_out_changed_at_ = simulation_.Now();
}

// --- Register surface -------------------------------------------------------

std::uint8_t I82527::Read(std::uint8_t address) {
  std::uint8_t value;
  if (read_override_ && read_override_->first == address) {
    value = read_override_->second;
    read_override_.reset();
  } else {
    value = ReadRegister(address);
  }
  if (!read_hooks_.empty()) RunReadHooks(address);
  return value;
}

void I82527::Write(std::uint8_t address, std::uint8_t value) { WriteRegister(address, value); }

void I82527::OverrideNextRead(std::uint8_t address, std::uint8_t value) {
  read_override_ = {address, value};
}

void I82527::AfterRead(std::uint8_t address, std::function<void()> action, unsigned times) {
  if (times > 0 && action) read_hooks_.push_back(ReadHook{address, std::move(action), times});
}

void I82527::InjectFrameAfterRead(std::uint8_t address, const CanFrame& frame, unsigned times) {
  AfterRead(
      address, [this, frame] { FrameReceived(frame, simulation_.Now()); }, times);
}

void I82527::RunReadHooks(std::uint8_t address) {
  // An action may add hooks of its own, so pick the due ones first.
  std::vector<std::function<void()>> due;
  for (ReadHook& hook : read_hooks_) {
    if (hook.address == address && hook.remaining > 0) {
      --hook.remaining;
      due.push_back(hook.action);
    }
  }
  read_hooks_.erase(std::remove_if(read_hooks_.begin(), read_hooks_.end(),
                                   [](const ReadHook& hook) { return hook.remaining == 0; }),
                    read_hooks_.end());
  for (auto& action : due) action();
}

std::uint8_t I82527::ReadRegister(std::uint8_t address) {
  const int number = address >> 4;
  const std::uint8_t offset = address & 0x0F;
  if (number >= 1 && offset != 0x0F) return ReadObject(number, offset);

  switch (address) {
    case chip::kControl:
      return control_;
    case chip::kStatus:
      return Status();
    case chip::kCpuInterface:
      return static_cast<std::uint8_t>(cpu_interface_ |
                                       (reset_status_ ? chip::kCpuInterfaceResetStatus : 0));
    case chip::kClockOut:
      return clock_out_;
    case chip::kBitTiming0:
      return bit_timing0_;
    case chip::kBitTiming1:
      return bit_timing1_;
    case chip::kInterrupt:
      return InterruptIdentifier();
    case chip::kPort1Configuration:
      return port1_configuration_;
    case chip::kPort2Configuration:
      return port2_configuration_;
    case chip::kPort1Input:
      return static_cast<std::uint8_t>((port1_output_ & port1_configuration_) |
                                       (config_.port1_pins & ~port1_configuration_));
    case chip::kPort2Input:
      return static_cast<std::uint8_t>((port2_output_ & port2_configuration_) |
                                       (config_.port2_pins & ~port2_configuration_));
    case chip::kPort1Output:
      return port1_output_;
    case chip::kPort2Output:
      return port2_output_;
    default:
      return plain_registers_[address];
  }
}

void I82527::WriteRegister(std::uint8_t address, std::uint8_t value) {
  const int number = address >> 4;
  const std::uint8_t offset = address & 0x0F;
  if (number >= 1 && offset != 0x0F) {
    WriteObject(number, offset, value);
    return;
  }

  switch (address) {
    case chip::kControl:
      WriteControl(value);
      return;
    case chip::kStatus:
      WriteStatus(value);
      return;
    case chip::kCpuInterface:
      WriteCpuInterface(value);
      return;
    case chip::kClockOut:
      WriteClockOut(value);
      return;
    case chip::kBusConfiguration:
      if (ConfigurationWritable()) plain_registers_[address] = value;
      return;
    case chip::kBitTiming0:
      if (ConfigurationWritable()) bit_timing0_ = value;
      return;
    case chip::kBitTiming1:
      if (ConfigurationWritable()) bit_timing1_ = value;
      return;
    case chip::kInterrupt:
    case chip::kPort1Input:
    case chip::kPort2Input:
      return;  // read-only
    case chip::kPort1Configuration:
      port1_configuration_ = value;
      return;
    case chip::kPort2Configuration:
      port2_configuration_ = value;
      return;
    case chip::kPort1Output:
      port1_output_ = value;
      return;
    case chip::kPort2Output:
      WritePort2Output(value);
      return;
    default:
      plain_registers_[address] = value;
      return;
  }
}

void I82527::WriteControl(std::uint8_t value) {
  const bool was_init = InInit();
  control_ = value & chip::kControlWritableBits;
  if (InInit()) {
    // Setting Init again stops a bus-off recovery; clearing it restarts one.
    recovery_ends_ = kNever;
  } else if (was_init && bus_off_) {
    recovery_ends_ = simulation_.Now() + SimTime{kBusOffRecoveryBits} * BitTime();
  }
}

void I82527::WriteStatus(std::uint8_t value) {
  // Bus-off and warning follow the error counters; the CPU may clear the
  // rest, or write 7 into the last error code to see it change.
  status_flags_ = value & chip::kStatusCpuWritableBits;
}

void I82527::WriteCpuInterface(std::uint8_t value) {
  if (!InInit()) return;  // the clock set-up only changes in initialisation
  const std::uint8_t before = cpu_interface_;
  cpu_interface_ = value & chip::kCpuInterfaceWritableBits;
  if ((before ^ cpu_interface_) & chip::kCpuInterfaceClockOutEnable) {
    ++clock_out_generation_;
    clock_out_changed_at_ = simulation_.Now();
  }
}

void I82527::WriteClockOut(std::uint8_t value) {
  const std::uint8_t before = clock_out_;
  clock_out_ = value & 0x3F;
  if ((before ^ clock_out_) & chip::kClockOutDividerMask) {
    ++clock_out_generation_;
    clock_out_changed_at_ = simulation_.Now();
  }
}

void I82527::WritePort2Output(std::uint8_t value) {
  port2_output_ = value;
  port2_history_.push_back(PortWrite{simulation_.Now(), value});
  if (port2_history_.size() > kPortHistoryLength) port2_history_.pop_front();
}

bool I82527::Port2PinHigh(int bit) const {
  const std::uint8_t mask = static_cast<std::uint8_t>(1U << bit);
  if (port2_configuration_ & mask) return (port2_output_ & mask) != 0;
  return true;
}

std::uint8_t I82527::ReadObject(int number, std::uint8_t offset) const {
  const MessageObject& object = objects_[number];
  if (offset == chip::kObjectControl0) {
    return EncodePair(object.valid, chip::kPairHigh) |
           EncodePair(object.transmit_interrupt, chip::kPairUpper) |
           EncodePair(object.receive_interrupt, chip::kPairLower) |
           EncodePair(object.interrupt_pending, chip::kPairLow);
  }
  if (offset == chip::kObjectControl1) {
    return EncodePair(object.remote_pending, chip::kPairHigh) |
           EncodePair(object.transmit_request, chip::kPairUpper) |
           EncodePair(object.lost_or_updating, chip::kPairLower) |
           EncodePair(object.new_data, chip::kPairLow);
  }
  if (offset <= chip::kObjectArbitration3)
    return object.frame.arbitration[offset - chip::kObjectArbitration0];
  if (offset == chip::kObjectConfiguration) return object.frame.configuration;
  return object.frame.data[offset - chip::kObjectData0];
}

void I82527::WriteObject(int number, std::uint8_t offset, std::uint8_t value) {
  MessageObject& object = objects_[number];
  if (offset == chip::kObjectControl0) {
    ApplyPair(object.valid, value, chip::kPairHigh);
    ApplyPair(object.transmit_interrupt, value, chip::kPairUpper);
    ApplyPair(object.receive_interrupt, value, chip::kPairLower);
    ApplyPair(object.interrupt_pending, value, chip::kPairLow);
    return;
  }
  if (offset == chip::kObjectControl1) {
    ApplyPair(object.remote_pending, value, chip::kPairHigh);
    ApplyPair(object.transmit_request, value, chip::kPairUpper);
    ApplyPair(object.lost_or_updating, value, chip::kPairLower);
    ApplyPair(object.new_data, value, chip::kPairLow);
    if (PairSets(value, chip::kPairUpper) || PairSets(value, chip::kPairLow)) ++object.generation;
    if (number == chip::kDoubleBufferedObject && !object.new_data && object15_shadow_) {
      // Releasing the foreground brings the frame waiting in the shadow
      // buffer forward.
      object.frame = *object15_shadow_;
      object15_shadow_.reset();
      object.new_data = true;
      if (object.receive_interrupt) object.interrupt_pending = true;
    }
    return;
  }
  if (offset <= chip::kObjectArbitration3) {
    object.frame.arbitration[offset - chip::kObjectArbitration0] = value;
  } else if (offset == chip::kObjectConfiguration) {
    object.frame.configuration = value;
  } else {
    object.frame.data[offset - chip::kObjectData0] = value;
  }
  ++object.generation;
}

// --- Derived state ------------------------------------------------------------

bool I82527::ConfigurationWritable() const {
  return (control_ & chip::kControlChangeConfiguration) != 0 &&
         (control_ & chip::kControlInit) != 0;
}

std::uint8_t I82527::Status() const {
  std::uint8_t status = status_flags_;
  if (bus_off_) status |= chip::kStatusBusOff;
  if (transmit_errors_ >= kWarningLimit || receive_errors_ >= kWarningLimit)
    status |= chip::kStatusWarning;
  return status;
}

std::uint8_t I82527::InterruptIdentifier() const {
  if (objects_[chip::kDoubleBufferedObject].interrupt_pending) return 2;
  for (int number = 1; number < chip::kDoubleBufferedObject; ++number) {
    if (objects_[number].interrupt_pending) return static_cast<std::uint8_t>(number + 2);
  }
  return 0;
}

std::uint16_t I82527::GlobalStandardMask() const {
  return static_cast<std::uint16_t>(((plain_registers_[chip::kGlobalMaskStandard0] << 3) |
                                     (plain_registers_[chip::kGlobalMaskStandard1] >> 5)) &
                                    CanFrame::kMaxIdentifier);
}

std::uint16_t I82527::Message15StandardMask() const {
  return static_cast<std::uint16_t>(((plain_registers_[chip::kMessage15Mask0] << 3) |
                                     (plain_registers_[chip::kMessage15Mask1] >> 5)) &
                                    CanFrame::kMaxIdentifier);
}

std::uint16_t I82527::StandardIdentifier(const StoredFrame& frame) {
  return static_cast<std::uint16_t>(((frame.arbitration[0] << 3) | (frame.arbitration[1] >> 5)) &
                                    CanFrame::kMaxIdentifier);
}

bool I82527::IsTransmitObject(const MessageObject& object) {
  return (object.frame.configuration & chip::kConfigurationTransmit) != 0;
}

bool I82527::IsExtendedObject(const MessageObject& object) {
  return (object.frame.configuration & chip::kConfigurationExtended) != 0;
}

SimTime I82527::ClockOutPeriodTimes(std::uint32_t divisor) const {
  if ((cpu_interface_ & chip::kCpuInterfaceClockOutEnable) == 0 || config_.crystal_hz == 0)
    return 0;
  const SimTime divider = (clock_out_ & chip::kClockOutDividerMask) + 1U;
  return SimTime{divisor} * divider * kNanosecondsPerSecond / config_.crystal_hz;
}

SimTime I82527::BitTime() const {
  const SimTime prescaler = (bit_timing0_ & chip::kBitTiming0PrescalerMask) + 1U;
  const SimTime quanta =
      3U + (bit_timing1_ & chip::kBitTiming1Segment1Mask) +
      ((bit_timing1_ >> chip::kBitTiming1Segment2Shift) & chip::kBitTiming1Segment2Mask);
  const SimTime system_clock_divider =
      (cpu_interface_ & chip::kCpuInterfaceDivideSystemClock) ? 2 : 1;
  if (config_.crystal_hz == 0) return 1;
  return prescaler * quanta * system_clock_divider * kNanosecondsPerSecond / config_.crystal_hz;
}

// --- Bus side -------------------------------------------------------------------

bool I82527::Acknowledges() const { return Online(); }

std::optional<CanFrame> I82527::FrameToSend() {
  offered_object_ = 0;
  if (!Online()) return std::nullopt;
  // Object 15 only receives; among the others the lowest number goes first.
  for (int number = 1; number < chip::kDoubleBufferedObject; ++number) {
    const MessageObject& object = objects_[number];
    if (!object.valid || !object.transmit_request || IsExtendedObject(object)) continue;
    const bool transmitter = IsTransmitObject(object);
    if (transmitter && object.lost_or_updating) continue;  // CPU still updating
    CanFrame frame;
    frame.identifier = StandardIdentifier(object.frame);
    frame.remote = !transmitter;
    frame.length = std::min<std::uint8_t>(
        object.frame.configuration >> chip::kConfigurationLengthShift, CanFrame::kMaxLength);
    if (transmitter) std::copy_n(object.frame.data.begin(), frame.length, frame.data.begin());
    offered_object_ = number;
    offered_generation_ = object.generation;
    return frame;
  }
  return std::nullopt;
}

void I82527::FrameSent(SimTime /*now*/) {
  status_flags_ = static_cast<std::uint8_t>((status_flags_ & ~chip::kStatusLastErrorMask) |
                                            chip::kStatusTransmitOk);
  if (transmit_errors_ > 0) --transmit_errors_;
  if (offered_object_ == 0) return;
  MessageObject& object = objects_[offered_object_];
  offered_object_ = 0;
  // A CPU that asked for another transmission while this frame was on the
  // wire keeps its request.
  if (object.generation != offered_generation_) return;
  object.transmit_request = false;
  object.remote_pending = false;
  if (IsTransmitObject(object)) object.new_data = false;
  if (object.transmit_interrupt) object.interrupt_pending = true;
}

void I82527::FrameFailed(CanTransmitError error, SimTime /*now*/) {
  offered_object_ = 0;
  switch (error) {
    case CanTransmitError::kNoAcknowledge:
      // An error-passive transmitter does not count a missing
      // acknowledgement, so a lone station never goes bus-off for it.
      CountTransmitError(chip::kLastErrorAcknowledge,
                         transmit_errors_ >= kErrorPassiveLimit ? 0 : 8);
      break;
    case CanTransmitError::kErrorFrame:
      CountTransmitError(chip::kLastErrorBit1, 8);
      break;
    case CanTransmitError::kBusOff:
      CountTransmitError(chip::kLastErrorBit1, kBusOffLimit);
      break;
  }
}

void I82527::CountTransmitError(std::uint8_t last_error, int increment) {
  status_flags_ =
      static_cast<std::uint8_t>((status_flags_ & ~chip::kStatusLastErrorMask) | last_error);
  transmit_errors_ = std::min(transmit_errors_ + increment, kBusOffLimit);
  if (transmit_errors_ >= kBusOffLimit) EnterBusOff();
}

void I82527::EnterBusOff() {
  bus_off_ = true;
  control_ |= chip::kControlInit;
  recovery_ends_ = kNever;
}

void I82527::FinishBusOffRecovery() {
  bus_off_ = false;
  transmit_errors_ = 0;
  receive_errors_ = 0;
  recovery_ends_ = kNever;
}

SimTime I82527::NextDeadline() const { return recovery_ends_; }

void I82527::AdvanceTo(SimTime now) {
  if (recovery_ends_ <= now) FinishBusOffRecovery();
}

void I82527::FrameReceived(const CanFrame& frame, SimTime /*now*/) {
  if (!Online()) return;
  status_flags_ = static_cast<std::uint8_t>((status_flags_ & ~chip::kStatusLastErrorMask) |
                                            chip::kStatusReceiveOk);
  if (receive_errors_ > 0) --receive_errors_;

  if (frame.remote) {
    const int number = FindRemoteAnswerer(frame);
    if (number != 0) {
      objects_[number].remote_pending = true;
      objects_[number].transmit_request = true;
    }
    return;
  }
  const int number = FindReceiver(frame);
  if (number == chip::kDoubleBufferedObject) {
    StoreInObject15(frame);
  } else if (number != 0) {
    StoreReceived(number, frame);
  }
}

void I82527::FrameUnreadable(SimTime /*now*/) {
  if (!Online()) return;
  // At the wrong bit time the receiver finds six equal bits where a stuff
  // bit belongs long before the frame could end.
  status_flags_ = static_cast<std::uint8_t>((status_flags_ & ~chip::kStatusLastErrorMask) |
                                            chip::kLastErrorStuff);
  receive_errors_ = std::min(receive_errors_ + 1, kReceiveErrorLimit);
}

int I82527::FindRemoteAnswerer(const CanFrame& frame) const {
  const std::uint16_t mask = GlobalStandardMask();
  for (int number = 1; number < chip::kDoubleBufferedObject; ++number) {
    const MessageObject& object = objects_[number];
    if (!object.valid || !IsTransmitObject(object) || IsExtendedObject(object)) continue;
    if (((StandardIdentifier(object.frame) ^ frame.identifier) & mask) == 0) return number;
  }
  return 0;
}

int I82527::FindReceiver(const CanFrame& frame) const {
  const std::uint16_t mask = GlobalStandardMask();
  for (int number = 1; number <= chip::kDoubleBufferedObject; ++number) {
    const MessageObject& object = objects_[number];
    if (!object.valid || IsTransmitObject(object) || IsExtendedObject(object)) continue;
    const std::uint16_t object_mask =
        number == chip::kDoubleBufferedObject
            ? static_cast<std::uint16_t>(mask & Message15StandardMask())
            : mask;
    if (((StandardIdentifier(object.frame) ^ frame.identifier) & object_mask) == 0) return number;
  }
  return 0;
}

namespace {

void CopyFrameInto(const CanFrame& frame, std::array<std::uint8_t, 4>& arbitration,
                   std::uint8_t& configuration, std::array<std::uint8_t, 8>& data) {
  // The identifier as received replaces the don't-care bits of the mask.
  arbitration[0] = static_cast<std::uint8_t>(frame.identifier >> 3);
  arbitration[1] =
      static_cast<std::uint8_t>(((frame.identifier << 5) & 0xE0) | (arbitration[1] & 0x1F));
  const std::uint8_t length = std::min<std::uint8_t>(frame.length, CanFrame::kMaxLength);
  configuration = static_cast<std::uint8_t>((length << chip::kConfigurationLengthShift) |
                                            (configuration & 0x0F));
  std::copy_n(frame.data.begin(), length, data.begin());
}

}  // namespace

void I82527::StoreReceived(int number, const CanFrame& frame) {
  MessageObject& object = objects_[number];
  if (object.new_data) object.lost_or_updating = true;  // MsgLst: the unread frame is overwritten
  CopyFrameInto(frame, object.frame.arbitration, object.frame.configuration, object.frame.data);
  object.new_data = true;
  // The answer to a remote request that is still waiting makes the request moot.
  object.transmit_request = false;
  if (object.receive_interrupt) object.interrupt_pending = true;
}

void I82527::StoreInObject15(const CanFrame& frame) {
  MessageObject& foreground = objects_[chip::kDoubleBufferedObject];
  if (!foreground.new_data) {
    CopyFrameInto(frame, foreground.frame.arbitration, foreground.frame.configuration,
                  foreground.frame.data);
    foreground.new_data = true;
    if (foreground.receive_interrupt) foreground.interrupt_pending = true;
    return;
  }
  // The foreground still holds an unread frame: the newest goes into the
  // shadow buffer, overwriting (and losing) one that waits there.
  if (object15_shadow_) foreground.lost_or_updating = true;
  StoredFrame shadow = foreground.frame;
  CopyFrameInto(frame, shadow.arbitration, shadow.configuration, shadow.data);
  object15_shadow_ = shadow;
}

}  // namespace vantor::sim
