#pragma once

#include <cstdint>

namespace vantor::sim {

// A window of device registers as the driver runtime maps it: byte, word and
// double-word accesses at an offset from the window's start. Reads may have
// side effects. An access outside the window reads all ones and writes
// nothing, as an unclaimed bus cycle does.
class RegisterWindow {
 public:
  virtual ~RegisterWindow() = default;

  virtual std::uint32_t Size() const = 0;

  virtual std::uint8_t Read8(std::uint32_t offset) = 0;
  virtual void Write8(std::uint32_t offset, std::uint8_t value) = 0;

  // Wider accesses are little-endian; a window whose registers are bytes
  // splits them into byte accesses in rising address order.
  virtual std::uint16_t Read16(std::uint32_t offset);
  virtual void Write16(std::uint32_t offset, std::uint16_t value);
  virtual std::uint32_t Read32(std::uint32_t offset);
  virtual void Write32(std::uint32_t offset, std::uint32_t value);
};

// Port space as seen by a device that claims a range of I/O addresses.
class PortDevice {
 public:
  virtual ~PortDevice() = default;

  virtual std::uint8_t In8(std::uint16_t port) = 0;
  virtual void Out8(std::uint16_t port, std::uint8_t value) = 0;

  // Double-word port accesses; devices with byte registers split them.
  virtual std::uint32_t In32(std::uint16_t port);
  virtual void Out32(std::uint16_t port, std::uint32_t value);
};

}  // namespace vantor::sim
