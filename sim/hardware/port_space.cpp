#include "sim/hardware/port_space.h"

#include "sim/hardware/pci_card.h"

namespace vantor::sim {

namespace {
constexpr std::uint32_t kPortSpaceSize = 0x10000;
}  // namespace

bool PortSpace::Map(std::uint16_t first, std::uint32_t count, PortDevice* device) {
  if (device == nullptr || count == 0 || first + count > kPortSpaceSize) return false;
  for (const Range& range : ranges_) {
    if (first < range.first + range.count && range.first < first + count) return false;
  }
  ranges_.push_back(Range{first, count, device});
  return true;
}

PortDevice* PortSpace::Find(std::uint16_t port) const {
  for (const Range& range : ranges_) {
    if (port >= range.first && port - range.first < range.count) return range.device;
  }
  return nullptr;
}

void PortSpace::ChargeUnclaimed(std::uint16_t port, std::uint8_t width, RegisterAccess::Kind kind,
                                std::uint32_t value) {
  simulation_.ChargeRegisterAccess();
  simulation_.NotifyAccess(RegisterAccess{simulation_.Now(), "ports", port, width, kind, value});
}

std::uint8_t PortSpace::In8(std::uint16_t port) {
  if (PortDevice* device = Find(port)) return device->In8(port);
  ChargeUnclaimed(port, 1, RegisterAccess::Kind::kRead, 0xFF);
  return 0xFF;
}

void PortSpace::Out8(std::uint16_t port, std::uint8_t value) {
  if (PortDevice* device = Find(port)) {
    device->Out8(port, value);
    return;
  }
  ChargeUnclaimed(port, 1, RegisterAccess::Kind::kWrite, value);
}

std::uint32_t PortSpace::In32(std::uint16_t port) {
  if (PortDevice* device = Find(port)) return device->In32(port);
  ChargeUnclaimed(port, 4, RegisterAccess::Kind::kRead, 0xFFFFFFFF);
  return 0xFFFFFFFF;
}

void PortSpace::Out32(std::uint16_t port, std::uint32_t value) {
  if (PortDevice* device = Find(port)) {
    device->Out32(port, value);
    return;
  }
  ChargeUnclaimed(port, 4, RegisterAccess::Kind::kWrite, value);
}

std::uint8_t TestPort::In8(std::uint16_t port) {
  simulation_.ChargeRegisterAccess();
  simulation_.NotifyAccess(
      RegisterAccess{simulation_.Now(), name_, port, 1, RegisterAccess::Kind::kRead, value_});
  return value_;
}

void TestPort::Out8(std::uint16_t port, std::uint8_t value) {
  simulation_.ChargeRegisterAccess();
  value_ = value;
  writes_.push_back(Write{simulation_.Now(), value});
  if (writes_.size() > kHistoryLength) writes_.pop_front();
  simulation_.NotifyAccess(
      RegisterAccess{simulation_.Now(), name_, port, 1, RegisterAccess::Kind::kWrite, value});
}

namespace {

constexpr std::uint32_t kConfigEnable = 0x80000000;

}  // namespace

PciCard* PciConfigPorts::Selected() const {
  if ((address_ & kConfigEnable) == 0) return nullptr;
  const std::uint32_t bus = (address_ >> 16) & 0xFF;
  const std::uint32_t device = (address_ >> 11) & 0x1F;
  const std::uint32_t function = (address_ >> 8) & 0x07;
  if (function != 0) return nullptr;
  for (PciCard* card : cards_) {
    if (card->Configuration().bus_number == bus && card->Configuration().device_number == device)
      return card;
  }
  return nullptr;
}

std::uint32_t PciConfigPorts::ReadData(std::uint16_t port, int width) {
  PciCard* card = Selected();
  const std::uint16_t offset = static_cast<std::uint16_t>((address_ & 0xFC) + (port - kDataPort));
  if (card == nullptr) return width == 4 ? 0xFFFFFFFF : (1U << (8 * width)) - 1;
  return card->ReadConfig(offset, width);
}

void PciConfigPorts::WriteData(std::uint16_t port, int width, std::uint32_t value) {
  PciCard* card = Selected();
  const std::uint16_t offset = static_cast<std::uint16_t>((address_ & 0xFC) + (port - kDataPort));
  if (card != nullptr) card->WriteConfig(offset, width, value);
}

std::uint8_t PciConfigPorts::In8(std::uint16_t port) {
  simulation_.ChargeRegisterAccess();
  const std::uint8_t value =
      port >= kDataPort ? static_cast<std::uint8_t>(ReadData(port, 1))
                        : static_cast<std::uint8_t>(address_ >> (8 * (port - kAddressPort)));
  simulation_.NotifyAccess(
      RegisterAccess{simulation_.Now(), "pci-config", port, 1, RegisterAccess::Kind::kRead, value});
  return value;
}

void PciConfigPorts::Out8(std::uint16_t port, std::uint8_t value) {
  simulation_.ChargeRegisterAccess();
  if (port >= kDataPort) {
    WriteData(port, 1, value);
  } else {
    const int shift = 8 * (port - kAddressPort);
    address_ = (address_ & ~(0xFFU << shift)) | (std::uint32_t{value} << shift);
  }
  simulation_.NotifyAccess(RegisterAccess{simulation_.Now(), "pci-config", port, 1,
                                          RegisterAccess::Kind::kWrite, value});
}

std::uint32_t PciConfigPorts::In32(std::uint16_t port) {
  simulation_.ChargeRegisterAccess();
  const std::uint32_t value = port == kAddressPort ? address_
                              : port == kDataPort  ? ReadData(port, 4)
                                                   : 0xFFFFFFFF;
  simulation_.NotifyAccess(
      RegisterAccess{simulation_.Now(), "pci-config", port, 4, RegisterAccess::Kind::kRead, value});
  return value;
}

void PciConfigPorts::Out32(std::uint16_t port, std::uint32_t value) {
  simulation_.ChargeRegisterAccess();
  if (port == kAddressPort) address_ = value;
  if (port == kDataPort) WriteData(port, 4, value);
  simulation_.NotifyAccess(RegisterAccess{simulation_.Now(), "pci-config", port, 4,
                                          RegisterAccess::Kind::kWrite, value});
}

}  // namespace vantor::sim
