// The Intel 82527's register addresses and the control values the CAN layer
// writes, in one place.
//
// Control bytes of a message object hold two bits per flag: 01 resets the
// flag, 10 sets it, 11 leaves it unchanged. Read back, each pair must be 01
// or 10; 00 or 11 means the controller did not answer sensibly.
#pragma once

#include <cstdint>

namespace vantor::canlayer::reg {

inline constexpr std::uint8_t kControl = 0x00;
inline constexpr std::uint8_t kStatus = 0x01;
inline constexpr std::uint8_t kCpuInterface = 0x02;
inline constexpr std::uint8_t kGlobalStandardMask0 = 0x06;
inline constexpr std::uint8_t kGlobalStandardMask1 = 0x07;
inline constexpr std::uint8_t kMessage15Mask0 = 0x0C;
inline constexpr std::uint8_t kMessage15Mask1 = 0x0D;
inline constexpr std::uint8_t kMessage15Mask2 = 0x0E;
inline constexpr std::uint8_t kMessage15Mask3 = 0x0F;
inline constexpr std::uint8_t kClockOut = 0x1F;
inline constexpr std::uint8_t kBusConfiguration = 0x2F;
inline constexpr std::uint8_t kBitTiming0 = 0x3F;
inline constexpr std::uint8_t kBitTiming1 = 0x4F;
inline constexpr std::uint8_t kPort2Configuration = 0xAF;
inline constexpr std::uint8_t kPort2Input = 0xCF;
inline constexpr std::uint8_t kPort2Output = 0xEF;

// Control register values.
inline constexpr std::uint8_t kControlSetUp = 0x41;  // change-configuration enable + init
inline constexpr std::uint8_t kControlRun = 0x00;
inline constexpr std::uint8_t kControlChangeConfiguration = 0x40;
inline constexpr std::uint8_t kControlRestartClearMask = 0xBE;  // clears CCE and init

inline constexpr std::uint8_t kStatusBusOff = 0x80;
inline constexpr std::uint8_t kStatusErrorWarning = 0x40;
inline constexpr std::uint8_t kStatusLastErrorMask = 0x07;

// System clock = crystal / 2, clock output enabled; bit 7 reads as the
// hardware-reset status.
inline constexpr std::uint8_t kCpuInterfaceValue = 0x41;
inline constexpr std::uint8_t kCpuInterfaceResetStatus = 0x80;

inline constexpr std::uint8_t kClockOutSlewDivided = 0x30;  // ORed with d - 1
inline constexpr std::uint8_t kClockOutUndivided = 0x20;    // d = 1
inline constexpr std::uint8_t kBusConfigurationValue = 0x08;
inline constexpr std::uint8_t kPort2Directions = 0x3F;  // bits 0..5 outputs, 6 and 7 inputs
// Port-2 input bits 7 and 6 read 1 and 0 where a controller is fitted.
inline constexpr std::uint8_t kPort2DetectMask = 0xC0;
inline constexpr std::uint8_t kPort2DetectValue = 0x80;

// Port-2 output bits.
inline constexpr std::uint8_t kPort2Leds = 0x03;
inline constexpr std::uint8_t kPort2ChannelTwoLineOff = 0x04;
inline constexpr std::uint8_t kPort2BusSetUpMarker = 0x10;
inline constexpr std::uint8_t kPort2WatchdogOff = 0x20;
inline constexpr std::uint8_t kPort2AfterDetect = 0xFC;

// Message object n (1..15) occupies 16 n .. 16 n + 14.
inline constexpr int kFirstObject = 1;
inline constexpr int kLastObject = 15;
inline constexpr int kReceiveObject = 15;
inline constexpr std::uint8_t kObjectControl0 = 0;
inline constexpr std::uint8_t kObjectControl1 = 1;
inline constexpr std::uint8_t kObjectArbitration0 = 2;
inline constexpr std::uint8_t kObjectArbitration1 = 3;
inline constexpr std::uint8_t kObjectArbitration2 = 4;
inline constexpr std::uint8_t kObjectArbitration3 = 5;
inline constexpr std::uint8_t kObjectConfiguration = 6;
inline constexpr std::uint8_t kObjectData0 = 7;

constexpr std::uint8_t ObjectRegister(int object, std::uint8_t offset) noexcept {
  return static_cast<std::uint8_t>(16 * object + offset);
}

// Message configuration: length << 4, bit 3 transmit. Anything from 0x90 up
// would claim more than eight data bytes.
inline constexpr std::uint8_t kConfigurationTransmit = 0x08;
inline constexpr std::uint8_t kConfigurationReceive = 0x00;
inline constexpr std::uint8_t kConfigurationLimit = 0x8F;

// Control 0.
inline constexpr std::uint8_t kControl0Invalidate = 0x7F;
inline constexpr std::uint8_t kControl0Validate = 0x95;
inline constexpr std::uint8_t kControl0ValidateReceive15 = 0x99;
// Control 1.
inline constexpr std::uint8_t kControl1TransmitterAtRest = 0x59;
inline constexpr std::uint8_t kControl1ReceiverAtRest = 0x55;
inline constexpr std::uint8_t kControl1Send = 0x66;
inline constexpr std::uint8_t kControl1CpuUpdating = 0xFB;
inline constexpr std::uint8_t kControl1SendAgain = 0xE6;
inline constexpr std::uint8_t kControl1RemoteFrame = 0x65;
inline constexpr std::uint8_t kControl1FrameTaken = 0xF5;
inline constexpr std::uint8_t kControl1FirstBufferReleased = 0x7D;
inline constexpr std::uint8_t kControl1Receive15Taken = 0x75;

// Bit pairs of control 1 (high pair first) and their two valid values.
inline constexpr int kPairTransmitRequest = 4;
inline constexpr int kPairMessageLost = 2;
inline constexpr int kPairNewData = 0;
inline constexpr std::uint8_t kPairReset = 0b01;
inline constexpr std::uint8_t kPairSet = 0b10;

constexpr std::uint8_t Pair(std::uint8_t control, int shift) noexcept {
  return static_cast<std::uint8_t>((control >> shift) & 0b11);
}

// True when every bit pair of a control byte read back is 01 or 10.
constexpr bool ControlByteValid(std::uint8_t control) noexcept {
  for (int shift = 0; shift < 8; shift += 2) {
    const std::uint8_t pair = Pair(control, shift);
    if (pair != kPairReset && pair != kPairSet) return false;
  }
  return true;
}

// Standard identifiers are 11 bits; anything above is cut off before it
// reaches the arbitration registers.
inline constexpr std::uint16_t kStandardIdentifierMask = 0x7FF;

}  // namespace vantor::canlayer::reg
