#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "sim/can_frame.h"

// The register sequences the CAN layer uses on an 82527, written out from
// its own description so tests reach the model only through register
// accesses, the way the drivers do.
namespace vantor::sim::testing {

class ControllerAccess {
 public:
  using ReadFunction = std::function<std::uint8_t(std::uint8_t)>;
  using WriteFunction = std::function<void(std::uint8_t, std::uint8_t)>;

  ControllerAccess(ReadFunction read, WriteFunction write)
      : read_(std::move(read)), write_(std::move(write)) {}

  std::uint8_t Read(std::uint8_t address) const { return read_(address); }
  void Write(std::uint8_t address, std::uint8_t value) const { write_(address, value); }

  static std::uint8_t Object(int n, int offset) {
    return static_cast<std::uint8_t>(16 * n + offset);
  }

  bool Detect() const {
    if (Read(0x02) & 0x80) return false;
    Write(0xEF, 0xFC);
    Write(0x00, 0x41);
    Write(0xAF, 0x3F);
    Write(0x00, 0x00);
    const std::uint8_t port2 = Read(0xCF);
    return (port2 & 0xC0) == 0x80;
  }

  void InitClock(int divider) const {
    Write(0x00, 0x41);
    Write(0x02, 0x41);
    Write(0x1F, divider == 1 ? 0x20 : static_cast<std::uint8_t>((divider - 1) | 0x30));
    Write(0x00, 0x00);
    port2_shadow_ &= static_cast<std::uint8_t>(~0x04);
    Write(0xEF, port2_shadow_);
  }

  void InitBus(std::uint8_t timing0, std::uint8_t timing1) const {
    Write(0x00, 0x41);
    Write(0x2F, 0x08);
    Write(0x3F, timing0);
    Write(0x4F, timing1);
    for (int n = 1; n <= 15; ++n) Write(Object(n, 0), 0x7F);
    Write(0x00, 0x00);
    port2_shadow_ &= static_cast<std::uint8_t>(~0x10);
    Write(0xEF, port2_shadow_);
  }

  void SetGlobalStandardMask(std::uint16_t mask) const {
    Write(0x06, static_cast<std::uint8_t>(mask >> 3));
    Write(0x07, static_cast<std::uint8_t>(mask * 32 + 31));
  }

  void SetMessage15Mask(std::uint16_t mask) const {
    Write(0x0C, static_cast<std::uint8_t>(mask >> 3));
    Write(0x0D, static_cast<std::uint8_t>(mask << 5));
    Write(0x0E, 0);
    Write(0x0F, 0);
  }

  void LoadAndSend(int n, std::uint16_t id, const CanFrame& frame) const {
    Write(Object(n, 0), 0x7F);
    Write(Object(n, 2), static_cast<std::uint8_t>(id >> 3));
    Write(Object(n, 3), static_cast<std::uint8_t>(id << 5));
    Write(Object(n, 6), static_cast<std::uint8_t>(frame.length * 16 + 8));
    for (int i = 0; i < frame.length; ++i) Write(Object(n, 7 + i), frame.data[i]);
    Write(Object(n, 1), 0x66);
    Write(Object(n, 0), 0x95);
  }

  void RemoteRequest(int n, std::uint16_t id) const {
    Write(Object(n, 0), 0x7F);
    Write(Object(n, 2), static_cast<std::uint8_t>(id >> 3));
    Write(Object(n, 3), static_cast<std::uint8_t>(id << 5));
    Write(Object(n, 6), 0x00);
    Write(Object(n, 1), 0x65);
    Write(Object(n, 0), 0x95);
  }

  void ConfigureReceive(int n, std::uint16_t id) const {
    Write(Object(n, 0), 0x7F);
    Write(Object(n, 2), static_cast<std::uint8_t>(id >> 3));
    Write(Object(n, 3), static_cast<std::uint8_t>(id << 5));
    Write(Object(n, 4), 0);
    Write(Object(n, 5), 0);
    Write(Object(n, 6), 0x00);
    Write(Object(n, 1), 0x55);
    Write(Object(n, 0), n == 15 ? 0x99 : 0x95);
  }

  static bool ValidControl(std::uint8_t value) {
    for (int shift = 0; shift < 8; shift += 2) {
      const int pair = (value >> shift) & 3;
      if (pair == 0 || pair == 3) return false;
    }
    return true;
  }

  struct ObjectRead {
    int result = 0;  // 0 nothing, 1 frame, 2 frame after loss or re-read, 3 unstable, 4 error
    CanFrame frame;
  };

  ObjectRead ReadObject(int n) const {
    ObjectRead read;
    std::uint8_t control = Read(Object(n, 1));
    if (!ValidControl(control)) return {4, {}};
    if ((control & 0x03) == 0x01) return {0, {}};
    int tries = ((control >> 2) & 3) == 2 ? 1 : 0;
    read.result = tries + 1;
    while (true) {
      Write(Object(n, 1), 0xF5);
      if (tries >= 3) return {3, {}};
      const std::uint8_t configuration = Read(Object(n, 6));
      if (configuration > 0x8F) return {4, {}};
      read.frame.length = configuration >> 4;
      for (int i = 0; i < read.frame.length; ++i) read.frame.data[i] = Read(Object(n, 7 + i));
      control = Read(Object(n, 1));
      if (!ValidControl(control)) return {4, {}};
      if ((control & 0x03) == 0x01) return read;
      read.result = 2;
      tries += 1 + (((control >> 2) & 3) == 2 ? 1 : 0);
    }
  }

  struct Object15Read {
    int result = 0;  // 0 nothing, 1 one frame, 2 two, 3 two with loss, 4 error
    std::array<CanFrame, 2> frames{};
  };

  Object15Read ReadObject15() const {
    Object15Read read;
    std::uint8_t control = Read(Object(15, 1));
    if (!ValidControl(control)) return {4, {}};
    if ((control & 0x03) == 0x01) return {0, {}};
    for (int index = 0; index < 2; ++index) {
      const std::uint8_t configuration = Read(Object(15, 6));
      if (configuration >= 0x90) return {4, {}};
      CanFrame& frame = read.frames[index];
      frame.length = configuration >> 4;
      for (int i = 0; i < frame.length; ++i) frame.data[i] = Read(Object(15, 7 + i));
      frame.identifier = static_cast<std::uint16_t>(((Read(Object(15, 2)) << 3) & 0x7FF) |
                                                    (Read(Object(15, 3)) >> 5));
      if (index == 0) {
        Write(Object(15, 1), 0x7D);
        control = Read(Object(15, 1));
        if (!ValidControl(control)) return {4, {}};
        if ((control & 0x03) == 0x01) {
          read.result = 1;
          return read;
        }
      }
    }
    control = Read(Object(15, 1));
    if (!ValidControl(control)) return {4, {}};
    Write(Object(15, 1), 0x75);
    read.result = ((control >> 2) & 3) == 2 ? 3 : 2;
    return read;
  }

  // True while still bus-off after four restarts.
  bool RecoverBusOff() const {
    for (int attempt = 0; attempt < 4; ++attempt) {
      if ((Read(0x01) & 0x80) == 0) return false;
      const std::uint8_t control = Read(0x00);
      Write(0x00, control | 0x40);
      Write(0x00, control & 0xBE);
    }
    return true;
  }

 private:
  ReadFunction read_;
  WriteFunction write_;
  mutable std::uint8_t port2_shadow_ = 0xFC;
};

}  // namespace vantor::sim::testing
