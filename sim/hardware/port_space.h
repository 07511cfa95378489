#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/hardware/register_window.h"
#include "sim/hardware/simulation.h"

namespace vantor::sim {

class PciCard;

// The machine's I/O port space: ranges of ports claimed by device models.
// A port nobody claims reads all ones and ignores writes.
class PortSpace {
 public:
  explicit PortSpace(Simulation& simulation) : simulation_(simulation) {}

  // Claims `count` ports from `first`; false when the range overlaps one
  // already claimed or leaves the 16-bit space.
  bool Map(std::uint16_t first, std::uint32_t count, PortDevice* device);

  std::uint8_t In8(std::uint16_t port);
  void Out8(std::uint16_t port, std::uint8_t value);
  std::uint32_t In32(std::uint16_t port);
  void Out32(std::uint16_t port, std::uint32_t value);

 private:
  struct Range {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    PortDevice* device = nullptr;
  };

  PortDevice* Find(std::uint16_t port) const;
  void ChargeUnclaimed(std::uint16_t port, std::uint8_t width, RegisterAccess::Kind kind,
                       std::uint32_t value);

  Simulation& simulation_;
  std::vector<Range> ranges_;
};

// A byte-wide output port for timing marks: every write is kept with its
// time, a read gives the last value written.
class TestPort : public PortDevice {
 public:
  struct Write {
    SimTime time = 0;
    std::uint8_t value = 0;
  };

  TestPort(Simulation& simulation, std::string name, std::uint16_t address)
      : simulation_(simulation), name_(std::move(name)), address_(address) {}

  std::uint16_t Address() const { return address_; }
  const std::deque<Write>& Writes() const { return writes_; }

  std::uint8_t In8(std::uint16_t port) override;
  void Out8(std::uint16_t port, std::uint8_t value) override;

 private:
  static constexpr std::size_t kHistoryLength = 65536;

  Simulation& simulation_;
  std::string name_;
  std::uint16_t address_;
  std::uint8_t value_ = 0xFF;
  std::deque<Write> writes_;
};

// PCI configuration mechanism 1: an address register at 0xCF8 and a data
// window at 0xCFC to 0xCFF, reaching the configuration header of every card
// by bus and device number (function 0 only).
class PciConfigPorts : public PortDevice {
 public:
  static constexpr std::uint16_t kAddressPort = 0xCF8;
  static constexpr std::uint16_t kDataPort = 0xCFC;
  static constexpr std::uint32_t kPortCount = 8;

  explicit PciConfigPorts(Simulation& simulation) : simulation_(simulation) {}

  void AddCard(PciCard* card) { cards_.push_back(card); }

  std::uint8_t In8(std::uint16_t port) override;
  void Out8(std::uint16_t port, std::uint8_t value) override;
  std::uint32_t In32(std::uint16_t port) override;
  void Out32(std::uint16_t port, std::uint32_t value) override;

 private:
  PciCard* Selected() const;
  std::uint32_t ReadData(std::uint16_t port, int width);
  void WriteData(std::uint16_t port, int width, std::uint32_t value);

  Simulation& simulation_;
  std::vector<PciCard*> cards_;
  std::uint32_t address_ = 0;
};

}  // namespace vantor::sim
