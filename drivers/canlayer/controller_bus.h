// How the CAN layer reaches one 82527: read and write one register. The
// front-end decides what an access is (a byte in a mapped card window, a
// strobed parallel-port transfer); everything above is written against
// these two primitives.
#pragma once

#include <cstdint>

#include "platform/devhost/hardware_access.h"

namespace vantor::canlayer {

class ControllerBus {
 public:
  virtual ~ControllerBus() = default;
  virtual std::uint8_t Read(std::uint8_t address) = 0;
  virtual void Write(std::uint8_t address, std::uint8_t value) = 0;
};

// A controller that sits in a mapped register window at `base` (0x000 for
// the card's first controller, 0x100 for its second).
class WindowControllerBus final : public ControllerBus {
 public:
  WindowControllerBus(devhost::RegisterWindow window, std::uint32_t base)
      : window_(window), base_(base) {}

  std::uint8_t Read(std::uint8_t address) override { return window_.Read8(base_ + address); }
  void Write(std::uint8_t address, std::uint8_t value) override {
    window_.Write8(base_ + address, value);
  }

 private:
  devhost::RegisterWindow window_;
  std::uint32_t base_;
};

}  // namespace vantor::canlayer
