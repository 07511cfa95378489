#include "drivers/host/hardware_adapters.h"

namespace vantor::host {

namespace {
constexpr std::uint8_t kFloatingByte = 0xFF;
constexpr std::uint32_t kFloatingDword = 0xFFFFFFFF;
constexpr std::uint32_t kPortSpaceSize = 0x10000;

// Makes one access (or a few that belong together) to a model under the
// pump's model lock.
template <typename Access>
auto UnderModelLock(SimulationPump& pump, Access&& access) {
  const SimulationPump::ModelAccess held(pump);
  return access();
}
}  // namespace

// ---- registers ----------------------------------------------------------------

std::uint8_t SimulatedRegisters::Read8(std::uint32_t offset) {
  return UnderModelLock(pump_, [&] { return window_.Read8(offset); });
}

void SimulatedRegisters::Write8(std::uint32_t offset, std::uint8_t value) {
  UnderModelLock(pump_, [&] { window_.Write8(offset, value); });
}

std::uint16_t SimulatedRegisters::Read16(std::uint32_t offset) {
  return UnderModelLock(pump_, [&] { return window_.Read16(offset); });
}

void SimulatedRegisters::Write16(std::uint32_t offset, std::uint16_t value) {
  UnderModelLock(pump_, [&] { window_.Write16(offset, value); });
}

std::uint32_t SimulatedRegisters::Read32(std::uint32_t offset) {
  return UnderModelLock(pump_, [&] { return window_.Read32(offset); });
}

void SimulatedRegisters::Write32(std::uint32_t offset, std::uint32_t value) {
  UnderModelLock(pump_, [&] { window_.Write32(offset, value); });
}

// ---- ports ----------------------------------------------------------------------

std::optional<std::uint16_t> SimulatedPorts::PortOf(std::uint16_t offset,
                                                    std::uint32_t width) const {
  const std::uint32_t first = std::uint32_t{firstPort_} + offset;
  if (first + width > kPortSpaceSize) return std::nullopt;
  return static_cast<std::uint16_t>(first);
}

std::uint8_t SimulatedPorts::In8(std::uint16_t offset) {
  const auto port = PortOf(offset, 1);
  return port ? UnderModelLock(pump_, [&] { return ports_.In8(*port); }) : kFloatingByte;
}

void SimulatedPorts::Out8(std::uint16_t offset, std::uint8_t value) {
  if (const auto port = PortOf(offset, 1))
    UnderModelLock(pump_, [&] { ports_.Out8(*port, value); });
}

std::uint32_t SimulatedPorts::In32(std::uint16_t offset) {
  const auto port = PortOf(offset, 4);
  return port ? UnderModelLock(pump_, [&] { return ports_.In32(*port); }) : kFloatingDword;
}

void SimulatedPorts::Out32(std::uint16_t offset, std::uint32_t value) {
  if (const auto port = PortOf(offset, 4))
    UnderModelLock(pump_, [&] { ports_.Out32(*port, value); });
}

// ---- PCI configuration ------------------------------------------------------------

std::uint8_t SimulatedPciConfig::ReadConfig8(std::uint8_t offset) {
  return UnderModelLock(pump_,
                        [&] { return static_cast<std::uint8_t>(card_.ReadConfig(offset, 1)); });
}

void SimulatedPciConfig::WriteConfig8(std::uint8_t offset, std::uint8_t value) {
  UnderModelLock(pump_, [&] { card_.WriteConfig(offset, 1, value); });
}

}  // namespace vantor::host
