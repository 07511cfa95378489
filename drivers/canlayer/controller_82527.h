// Register-level operations on one Intel 82527: detection, clock and bus
// set-up, masks, the message-object operations, bus-off recovery and the
// port-2 output byte (LEDs, watchdog, channel-2 interrupt line).
//
// Every single access is made with the card raised (the card lock), so an
// access never interleaves with the other channel's. A sequence of accesses
// (setting up a message object) is atomic only where the caller holds the
// device's interrupt lock or runs inside the tick, as the scheduler does.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "drivers/canlayer/controller_bus.h"
#include "platform/devhost/interrupt_line.h"

namespace vantor::canlayer {

inline constexpr std::size_t kFrameDataSize = 8;
using FrameData = std::array<std::uint8_t, kFrameDataSize>;

// Outcome of reading message objects 1 to 14.
enum class ObjectReadResult : std::uint8_t {
  kNothingNew = 0,
  kFrame = 1,
  kFrameAfterLoss = 2,  // an earlier frame was lost, or the frame changed while read
  kNoStableFrame = 3,
  kControllerError = 4,
};

struct ObjectRead {
  ObjectReadResult result = ObjectReadResult::kNothingNew;
  std::uint8_t length = 0;
  FrameData data{};
};

struct ReceivedFrame {
  std::uint16_t cobId = 0;
  std::uint8_t length = 0;
  FrameData data{};
};

// Outcome of reading the double-buffered object 15.
enum class Object15ReadResult : std::uint8_t {
  kNothing = 0,
  kOneFrame = 1,
  kTwoFrames = 2,
  kTwoFramesWithLoss = 3,
  kControllerError = 4,
};

struct Object15Read {
  Object15ReadResult result = Object15ReadResult::kNothing;
  std::array<ReceivedFrame, 2> frames{};
};

enum class TransmitState : std::uint8_t {
  kSent = 0,
  kPending = 1,
  kControlInvalid = 2,
};

struct ControllerReplyStatus {
  bool errorWarning = false;
  std::uint8_t lastErrorCode = 0;
};

struct BitTiming {
  std::uint8_t timing0;
  std::uint8_t timing1;
};

// The two timing registers for a bit-rate code, or nothing for a code that
// has no timing (800 kbit/s and anything above 7).
std::optional<BitTiming> SelectBitTiming(std::uint8_t bitRateCode) noexcept;

class Controller82527 {
 public:
  Controller82527(ControllerBus& bus, devhost::CardLock& card) : bus_(bus), card_(card) {}
  Controller82527(const Controller82527&) = delete;
  Controller82527& operator=(const Controller82527&) = delete;

  devhost::CardLock& Card() noexcept { return card_; }

  std::uint8_t ReadControllerRegister(std::uint8_t address);
  void WriteControllerRegister(std::uint8_t address, std::uint8_t value);

  // ---- set-up -------------------------------------------------------------
  // True when a controller answers. Presets the port-2 shadow (0xFC) and
  // the LED state.
  bool DetectController();
  // Clock output divided by `tickDivider` (1..15): it drives the tick.
  void InitControllerClock(std::uint8_t tickDivider);
  // Bus configuration, bit timing, all objects invalid; false (and nothing
  // written) for a code without timing.
  bool InitControllerBus(std::uint8_t bitRateCode);
  void SetGlobalStandardMask(std::uint16_t mask);
  void SetMessage15Mask(std::uint16_t mask);

  // ---- message objects (n = 1..15) ----------------------------------------
  void InvalidateMessageObject(int object);
  void InvalidateAllMessageObjects();
  void ConfigureTransmitObject(int object, std::uint16_t cobId);
  // Lengths above 8 are cut to 8: nothing is ever written past data byte 7.
  void LoadAndSend(int object, std::uint16_t cobId, std::uint8_t length,
                   std::span<const std::uint8_t, kFrameDataSize> data);
  void UpdateAndSend(int object, std::uint8_t length,
                     std::span<const std::uint8_t, kFrameDataSize> data);
  void RequestTransmission(int object);
  void RemoteRequest(int object, std::uint16_t cobId);
  // Object 15 is set up with its own control value.
  void ConfigureReceiveObject(int object, std::uint16_t cobId);
  ObjectRead ReadObject(int object);
  Object15Read ReadObject15();
  TransmitState GetTransmitState(int object);

  // Restarts a bus-off controller up to four times; true when it is still
  // bus-off afterwards.
  bool RecoverBusOff();
  ControllerReplyStatus ReplyStatus();

  // ---- port 2 ---------------------------------------------------------------
  // The output register is always written from this shadow byte.
  std::uint8_t Port2Shadow() const noexcept { return port2Shadow_; }
  bool LedsOn() const noexcept { return ledsOn_; }
  void SetPort2Bits(std::uint8_t bits);
  void ClearPort2Bits(std::uint8_t bits);
  void ToggleLeds();

 private:
  void WriteArbitration(int object, std::uint16_t cobId);
  void WriteData(int object, std::uint8_t length,
                 std::span<const std::uint8_t, kFrameDataSize> data);
  void WritePort2();

  ControllerBus& bus_;
  devhost::CardLock& card_;
  std::uint8_t port2Shadow_ = 0;
  bool ledsOn_ = false;
};

}  // namespace vantor::canlayer
