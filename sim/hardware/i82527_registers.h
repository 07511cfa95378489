#pragma once

#include <cstdint>

// Register map and bits of the Intel 82527 CAN controller, as its 256-byte
// register space presents them to the CPU.
namespace vantor::sim::i82527 {

constexpr std::uint8_t kControl = 0x00;
constexpr std::uint8_t kStatus = 0x01;
constexpr std::uint8_t kCpuInterface = 0x02;
constexpr std::uint8_t kGlobalMaskStandard0 = 0x06;
constexpr std::uint8_t kGlobalMaskStandard1 = 0x07;
constexpr std::uint8_t kGlobalMaskExtended0 = 0x08;
constexpr std::uint8_t kMessage15Mask0 = 0x0C;
constexpr std::uint8_t kMessage15Mask1 = 0x0D;
constexpr std::uint8_t kClockOut = 0x1F;
constexpr std::uint8_t kBusConfiguration = 0x2F;
constexpr std::uint8_t kBitTiming0 = 0x3F;
constexpr std::uint8_t kBitTiming1 = 0x4F;
constexpr std::uint8_t kInterrupt = 0x5F;
constexpr std::uint8_t kPort1Configuration = 0x9F;
constexpr std::uint8_t kPort2Configuration = 0xAF;
constexpr std::uint8_t kPort1Input = 0xBF;
constexpr std::uint8_t kPort2Input = 0xCF;
constexpr std::uint8_t kPort1Output = 0xDF;
constexpr std::uint8_t kPort2Output = 0xEF;

// Control register.
constexpr std::uint8_t kControlInit = 0x01;
constexpr std::uint8_t kControlInterruptEnable = 0x02;
constexpr std::uint8_t kControlChangeConfiguration = 0x40;
constexpr std::uint8_t kControlWritableBits = 0x4F;

// Status register.
constexpr std::uint8_t kStatusBusOff = 0x80;
constexpr std::uint8_t kStatusWarning = 0x40;
constexpr std::uint8_t kStatusWake = 0x20;
constexpr std::uint8_t kStatusReceiveOk = 0x10;
constexpr std::uint8_t kStatusTransmitOk = 0x08;
constexpr std::uint8_t kStatusLastErrorMask = 0x07;
constexpr std::uint8_t kStatusCpuWritableBits = 0x1F;

// Last error codes.
constexpr std::uint8_t kLastErrorNone = 0;
constexpr std::uint8_t kLastErrorStuff = 1;
constexpr std::uint8_t kLastErrorAcknowledge = 3;
constexpr std::uint8_t kLastErrorBit1 = 4;

// CPU interface register.
constexpr std::uint8_t kCpuInterfaceResetStatus = 0x80;
constexpr std::uint8_t kCpuInterfaceDivideSystemClock = 0x40;
constexpr std::uint8_t kCpuInterfaceClockOutEnable = 0x01;
constexpr std::uint8_t kCpuInterfaceWritableBits = 0x7F;
// After a hardware reset: system and memory clock divided, clock out running.
constexpr std::uint8_t kCpuInterfaceResetValue = 0x61;

// Clock-out register: bits 0 to 3 divider - 1, bits 4 and 5 slew rate.
constexpr std::uint8_t kClockOutDividerMask = 0x0F;

// Bit timing.
constexpr std::uint8_t kBitTiming0PrescalerMask = 0x3F;
constexpr std::uint8_t kBitTiming1Segment1Mask = 0x0F;
constexpr std::uint8_t kBitTiming1Segment2Shift = 4;
constexpr std::uint8_t kBitTiming1Segment2Mask = 0x07;

// Message objects 1 to 15 at 16 n.
constexpr int kMessageObjectCount = 15;
constexpr int kDoubleBufferedObject = 15;
constexpr std::uint8_t kObjectControl0 = 0;
constexpr std::uint8_t kObjectControl1 = 1;
constexpr std::uint8_t kObjectArbitration0 = 2;
constexpr std::uint8_t kObjectArbitration3 = 5;
constexpr std::uint8_t kObjectConfiguration = 6;
constexpr std::uint8_t kObjectData0 = 7;
constexpr std::uint8_t kObjectData7 = 14;

// Message configuration register.
constexpr std::uint8_t kConfigurationTransmit = 0x08;
constexpr std::uint8_t kConfigurationExtended = 0x04;
constexpr int kConfigurationLengthShift = 4;

// Control bytes hold two bits per flag: 01 reset, 10 set, 11 (or 00) leaves
// the flag unchanged on a write. Pair positions, high pair first.
constexpr int kPairHigh = 6;   // control 0: MsgVal;  control 1: RmtPnd
constexpr int kPairUpper = 4;  // control 0: TXIE;    control 1: TxRqst
constexpr int kPairLower = 2;  // control 0: RXIE;    control 1: MsgLst / CPUUpd
constexpr int kPairLow = 0;    // control 0: IntPnd;  control 1: NewDat

constexpr std::uint8_t kPairReset = 0b01;
constexpr std::uint8_t kPairSet = 0b10;

}  // namespace vantor::sim::i82527
