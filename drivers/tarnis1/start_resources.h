// What the card's channel-1 driver is given when its device starts: the
// card's slot and the translated resource list (register ranges and the
// interrupt), as the bus driver assigned them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/devhost/hardware_access.h"

namespace vantor::tarnis1 {

struct TranslatedRange {
  std::uint64_t start = 0;
  std::uint32_t length = 0;
  bool io = false;  // port range rather than memory
};

struct TranslatedInterrupt {
  std::uint32_t vector = 0;
  std::uint8_t level = 0;
  std::uint64_t affinity = 1;
  bool latched = false;
};

struct PciStartResources {
  // The function the bus driver reads the configuration header from.
  devhost::PciSlot slot;
  // Whether the device's address property (its device number) is there;
  // without it the driver finds the card on its bus through the
  // configuration ports.
  bool addressPropertyPresent = true;
  std::vector<TranslatedRange> ranges;
  std::optional<TranslatedInterrupt> interrupt;
};

}  // namespace vantor::tarnis1
