#include "sim/hardware/register_window.h"

namespace vantor::sim {

std::uint16_t RegisterWindow::Read16(std::uint32_t offset) {
  const std::uint16_t low = Read8(offset);
  const std::uint16_t high = Read8(offset + 1);
  return static_cast<std::uint16_t>(low | (high << 8));
}

void RegisterWindow::Write16(std::uint32_t offset, std::uint16_t value) {
  Write8(offset, static_cast<std::uint8_t>(value));
  Write8(offset + 1, static_cast<std::uint8_t>(value >> 8));
}

std::uint32_t RegisterWindow::Read32(std::uint32_t offset) {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < 4; ++i) value |= std::uint32_t{Read8(offset + i)} << (8 * i);
  return value;
}

void RegisterWindow::Write32(std::uint32_t offset, std::uint32_t value) {
  for (std::uint32_t i = 0; i < 4; ++i)
    Write8(offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t PortDevice::In32(std::uint16_t port) {
  std::uint32_t value = 0;
  for (std::uint16_t i = 0; i < 4; ++i) {
    value |= std::uint32_t{In8(static_cast<std::uint16_t>(port + i))} << (8 * i);
  }
  return value;
}

void PortDevice::Out32(std::uint16_t port, std::uint32_t value) {
  for (std::uint16_t i = 0; i < 4; ++i) {
    Out8(static_cast<std::uint16_t>(port + i), static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

}  // namespace vantor::sim
