#include "drivers/canlayer/controller_82527.h"

#include <algorithm>

#include "common/driver_records.h"
#include "drivers/canlayer/controller_registers.h"

namespace vantor::canlayer {
namespace {

// Bus-off restarts before the controller is given up.
constexpr int kBusOffRestarts = 4;
// A frame that keeps changing while it is read is given up after this many
// attempts.
constexpr int kStableReadAttempts = 3;

std::uint8_t ClampLength(std::uint8_t length) noexcept {
  return std::min<std::uint8_t>(length, kFrameDataSize);
}

std::uint8_t Configuration(std::uint8_t length, std::uint8_t direction) noexcept {
  return static_cast<std::uint8_t>((ClampLength(length) << 4) | direction);
}

bool NewDataSet(std::uint8_t control1) noexcept {
  return reg::Pair(control1, reg::kPairNewData) == reg::kPairSet;
}

bool MessageLostSet(std::uint8_t control1) noexcept {
  return reg::Pair(control1, reg::kPairMessageLost) == reg::kPairSet;
}

}  // namespace

std::optional<BitTiming> SelectBitTiming(std::uint8_t bitRateCode) noexcept {
  // 800 kbit/s has no timing row of its own at our controller clock.
  constexpr std::uint8_t kUntimedCode = 6;
  if (bitRateCode == kUntimedCode) return std::nullopt;
  const auto row = common::BitRateTimingOf(bitRateCode);
  if (!row) return std::nullopt;
  return BitTiming{row->timing0, row->timing1};
}

std::uint8_t Controller82527::ReadControllerRegister(std::uint8_t address) {
  const auto raised = card_.Raise();
  return bus_.Read(address);
}

void Controller82527::WriteControllerRegister(std::uint8_t address, std::uint8_t value) {
  const auto raised = card_.Raise();
  bus_.Write(address, value);
}

bool Controller82527::DetectController() {
  const auto raised = card_.Raise();
  if ((ReadControllerRegister(reg::kCpuInterface) & reg::kCpuInterfaceResetStatus) != 0)
    return false;
  port2Shadow_ = reg::kPort2AfterDetect;
  ledsOn_ = false;
  WritePort2();
  WriteControllerRegister(reg::kControl, reg::kControlSetUp);
  WriteControllerRegister(reg::kPort2Configuration, reg::kPort2Directions);
  WriteControllerRegister(reg::kControl, reg::kControlRun);
  const std::uint8_t port2 = ReadControllerRegister(reg::kPort2Input);
  return (port2 & reg::kPort2DetectMask) == reg::kPort2DetectValue;
}

void Controller82527::InitControllerClock(std::uint8_t tickDivider) {
  const auto raised = card_.Raise();
  const std::uint8_t divider =
      std::clamp<std::uint8_t>(tickDivider, common::run_record::kMinTickClockDivider,
                               common::run_record::kMaxTickClockDivider);
  WriteControllerRegister(reg::kControl, reg::kControlSetUp);
  WriteControllerRegister(reg::kCpuInterface, reg::kCpuInterfaceValue);
  WriteControllerRegister(
      reg::kClockOut, divider == 1
                          ? reg::kClockOutUndivided
                          : static_cast<std::uint8_t>((divider - 1) | reg::kClockOutSlewDivided));
  WriteControllerRegister(reg::kControl, reg::kControlRun);
  ClearPort2Bits(reg::kPort2ChannelTwoLineOff);
}

bool Controller82527::InitControllerBus(std::uint8_t bitRateCode) {
  const auto timing = SelectBitTiming(bitRateCode);
  if (!timing) return false;
  const auto raised = card_.Raise();
  WriteControllerRegister(reg::kControl, reg::kControlSetUp);
  WriteControllerRegister(reg::kBusConfiguration, reg::kBusConfigurationValue);
  WriteControllerRegister(reg::kBitTiming0, timing->timing0);
  WriteControllerRegister(reg::kBitTiming1, timing->timing1);
  InvalidateAllMessageObjects();
  WriteControllerRegister(reg::kControl, reg::kControlRun);
  ClearPort2Bits(reg::kPort2BusSetUpMarker);
  return true;
}

void Controller82527::SetGlobalStandardMask(std::uint16_t mask) {
  const auto raised = card_.Raise();
  WriteControllerRegister(reg::kGlobalStandardMask0, static_cast<std::uint8_t>(mask >> 3));
  WriteControllerRegister(reg::kGlobalStandardMask1, static_cast<std::uint8_t>(mask * 32 + 31));
}

void Controller82527::SetMessage15Mask(std::uint16_t mask) {
  const auto raised = card_.Raise();
  WriteControllerRegister(reg::kMessage15Mask0, static_cast<std::uint8_t>(mask >> 3));
  WriteControllerRegister(reg::kMessage15Mask1, static_cast<std::uint8_t>(mask << 5));
  WriteControllerRegister(reg::kMessage15Mask2, 0);
  WriteControllerRegister(reg::kMessage15Mask3, 0);
}

void Controller82527::InvalidateMessageObject(int object) {
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl0),
                          reg::kControl0Invalidate);
}

void Controller82527::InvalidateAllMessageObjects() {
  for (int object = reg::kFirstObject; object <= reg::kLastObject; ++object)
    InvalidateMessageObject(object);
}

void Controller82527::WriteArbitration(int object, std::uint16_t cobId) {
  const std::uint16_t id = cobId & reg::kStandardIdentifierMask;
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectArbitration0),
                          static_cast<std::uint8_t>(id >> 3));
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectArbitration1),
                          static_cast<std::uint8_t>(id << 5));
}

void Controller82527::WriteData(int object, std::uint8_t length,
                                std::span<const std::uint8_t, kFrameDataSize> data) {
  const std::uint8_t count = ClampLength(length);
  for (std::uint8_t i = 0; i < count; ++i) {
    WriteControllerRegister(
        reg::ObjectRegister(object, static_cast<std::uint8_t>(reg::kObjectData0 + i)), data[i]);
  }
}

void Controller82527::ConfigureTransmitObject(int object, std::uint16_t cobId) {
  const auto raised = card_.Raise();
  InvalidateMessageObject(object);
  WriteArbitration(object, cobId);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectArbitration2), 0);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectArbitration3), 0);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectConfiguration),
                          reg::kConfigurationTransmit);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl1),
                          reg::kControl1TransmitterAtRest);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl0),
                          reg::kControl0Validate);
}

void Controller82527::LoadAndSend(int object, std::uint16_t cobId, std::uint8_t length,
                                  std::span<const std::uint8_t, kFrameDataSize> data) {
  const auto raised = card_.Raise();
  InvalidateMessageObject(object);
  WriteArbitration(object, cobId);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectConfiguration),
                          Configuration(length, reg::kConfigurationTransmit));
  WriteData(object, length, data);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl1), reg::kControl1Send);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl0),
                          reg::kControl0Validate);
}

void Controller82527::UpdateAndSend(int object, std::uint8_t length,
                                    std::span<const std::uint8_t, kFrameDataSize> data) {
  const auto raised = card_.Raise();
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl1),
                          reg::kControl1CpuUpdating);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectConfiguration),
                          Configuration(length, reg::kConfigurationTransmit));
  WriteData(object, length, data);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl1),
                          reg::kControl1SendAgain);
}

void Controller82527::RequestTransmission(int object) {
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl1),
                          reg::kControl1SendAgain);
}

void Controller82527::RemoteRequest(int object, std::uint16_t cobId) {
  const auto raised = card_.Raise();
  InvalidateMessageObject(object);
  WriteArbitration(object, cobId);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectConfiguration),
                          reg::kConfigurationReceive);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl1),
                          reg::kControl1RemoteFrame);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl0),
                          reg::kControl0Validate);
}

void Controller82527::ConfigureReceiveObject(int object, std::uint16_t cobId) {
  const auto raised = card_.Raise();
  // A frame left over from the object's previous use must not be taken for
  // an answer to the new one.
  if (object == reg::kReceiveObject) {
    (void)ReadObject15();
  } else {
    (void)ReadObject(object);
  }
  InvalidateMessageObject(object);
  WriteArbitration(object, cobId);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectArbitration2), 0);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectArbitration3), 0);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectConfiguration),
                          reg::kConfigurationReceive);
  WriteControllerRegister(reg::ObjectRegister(object, reg::kObjectControl1),
                          reg::kControl1ReceiverAtRest);
  WriteControllerRegister(
      reg::ObjectRegister(object, reg::kObjectControl0),
      object == reg::kReceiveObject ? reg::kControl0ValidateReceive15 : reg::kControl0Validate);
}

ObjectRead Controller82527::ReadObject(int object) {
  const auto raised = card_.Raise();
  const std::uint8_t control1Register = reg::ObjectRegister(object, reg::kObjectControl1);
  ObjectRead read;
  const std::uint8_t control = ReadControllerRegister(control1Register);
  if (!reg::ControlByteValid(control)) {
    read.result = ObjectReadResult::kControllerError;
    return read;
  }
  if (!NewDataSet(control)) return read;

  int attempts = MessageLostSet(control) ? 1 : 0;
  read.result = static_cast<ObjectReadResult>(attempts + 1);
  for (;;) {
    WriteControllerRegister(control1Register, reg::kControl1FrameTaken);
    if (attempts >= kStableReadAttempts) {
      read.result = ObjectReadResult::kNoStableFrame;
      return read;
    }
    const std::uint8_t configuration =
        ReadControllerRegister(reg::ObjectRegister(object, reg::kObjectConfiguration));
    if (configuration > reg::kConfigurationLimit) {
      read.result = ObjectReadResult::kControllerError;
      return read;
    }
    read.length = static_cast<std::uint8_t>(configuration >> 4);
    for (std::uint8_t i = 0; i < read.length; ++i) {
      read.data[i] = ReadControllerRegister(
          reg::ObjectRegister(object, static_cast<std::uint8_t>(reg::kObjectData0 + i)));
    }
    const std::uint8_t after = ReadControllerRegister(control1Register);
    if (!reg::ControlByteValid(after)) {
      read.result = ObjectReadResult::kControllerError;
      return read;
    }
    if (!NewDataSet(after)) return read;
    // The frame changed while it was read: read the newer one.
    read.result = ObjectReadResult::kFrameAfterLoss;
    attempts += MessageLostSet(after) ? 2 : 1;
  }
}

Object15Read Controller82527::ReadObject15() {
  const auto raised = card_.Raise();
  constexpr int kObject = reg::kReceiveObject;
  const std::uint8_t control1Register = reg::ObjectRegister(kObject, reg::kObjectControl1);
  Object15Read read;
  const auto readFrame = [&](ReceivedFrame& frame) {
    const std::uint8_t configuration =
        ReadControllerRegister(reg::ObjectRegister(kObject, reg::kObjectConfiguration));
    if (configuration > reg::kConfigurationLimit) return false;
    frame.length = static_cast<std::uint8_t>(configuration >> 4);
    for (std::uint8_t i = 0; i < frame.length; ++i) {
      frame.data[i] = ReadControllerRegister(
          reg::ObjectRegister(kObject, static_cast<std::uint8_t>(reg::kObjectData0 + i)));
    }
    const std::uint8_t arbitration0 =
        ReadControllerRegister(reg::ObjectRegister(kObject, reg::kObjectArbitration0));
    const std::uint8_t arbitration1 =
        ReadControllerRegister(reg::ObjectRegister(kObject, reg::kObjectArbitration1));
    frame.cobId = static_cast<std::uint16_t>(((arbitration0 << 3) & reg::kStandardIdentifierMask) |
                                             (arbitration1 >> 5));
    return true;
  };
  const auto fail = [&read] {
    read.result = Object15ReadResult::kControllerError;
    return read;
  };

  const std::uint8_t control = ReadControllerRegister(control1Register);
  if (!reg::ControlByteValid(control)) return fail();
  if (!NewDataSet(control)) return read;
  if (!readFrame(read.frames[0])) return fail();
  WriteControllerRegister(control1Register, reg::kControl1FirstBufferReleased);
  const std::uint8_t second = ReadControllerRegister(control1Register);
  if (!reg::ControlByteValid(second)) return fail();
  if (!NewDataSet(second)) {
    read.result = Object15ReadResult::kOneFrame;
    return read;
  }
  if (!readFrame(read.frames[1])) return fail();
  const std::uint8_t last = ReadControllerRegister(control1Register);
  if (!reg::ControlByteValid(last)) return fail();
  WriteControllerRegister(control1Register, reg::kControl1Receive15Taken);
  read.result = MessageLostSet(last) ? Object15ReadResult::kTwoFramesWithLoss
                                     : Object15ReadResult::kTwoFrames;
  return read;
}

TransmitState Controller82527::GetTransmitState(int object) {
  const std::uint8_t control =
      ReadControllerRegister(reg::ObjectRegister(object, reg::kObjectControl1));
  if (!reg::ControlByteValid(control)) return TransmitState::kControlInvalid;
  return reg::Pair(control, reg::kPairTransmitRequest) == reg::kPairSet ? TransmitState::kPending
                                                                        : TransmitState::kSent;
}

bool Controller82527::RecoverBusOff() {
  const auto raised = card_.Raise();
  for (int restart = 0; restart < kBusOffRestarts; ++restart) {
    if ((ReadControllerRegister(reg::kStatus) & reg::kStatusBusOff) == 0) return false;
    const std::uint8_t control = ReadControllerRegister(reg::kControl);
    WriteControllerRegister(reg::kControl,
                            static_cast<std::uint8_t>(control | reg::kControlChangeConfiguration));
    WriteControllerRegister(reg::kControl,
                            static_cast<std::uint8_t>(control & reg::kControlRestartClearMask));
  }
  return true;
}

ControllerReplyStatus Controller82527::ReplyStatus() {
  const std::uint8_t status = ReadControllerRegister(reg::kStatus);
  return {(status & reg::kStatusErrorWarning) != 0,
          static_cast<std::uint8_t>(status & reg::kStatusLastErrorMask)};
}

void Controller82527::WritePort2() { WriteControllerRegister(reg::kPort2Output, port2Shadow_); }

void Controller82527::SetPort2Bits(std::uint8_t bits) {
  const auto raised = card_.Raise();
  port2Shadow_ |= bits;
  WritePort2();
}

void Controller82527::ClearPort2Bits(std::uint8_t bits) {
  const auto raised = card_.Raise();
  port2Shadow_ &= static_cast<std::uint8_t>(~bits);
  WritePort2();
}

void Controller82527::ToggleLeds() {
  const auto raised = card_.Raise();
  if (ledsOn_) {
    port2Shadow_ &= static_cast<std::uint8_t>(~reg::kPort2Leds);
  } else {
    port2Shadow_ |= reg::kPort2Leds;
  }
  ledsOn_ = !ledsOn_;
  WritePort2();
}

}  // namespace vantor::canlayer
