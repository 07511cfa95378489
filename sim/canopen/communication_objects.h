// The communication objects every simulated node has (apart from the PDO
// parameters, which the PDO engine adds).
#pragma once

#include <cstdint>
#include <string>

#include "sim/canopen/canopen_wire.h"
#include "sim/canopen/object_dictionary.h"

namespace vantor::sim::canopen {

// Entries of the error history 0x1003; the newest error is at subindex 1.
constexpr std::uint8_t kErrorHistoryDepth = 8;

struct NodeIdentity {
  std::uint32_t deviceType = 0;
  std::string deviceName = "Vantor simulated node";
  std::string hardwareVersion = "1.0";
  std::string softwareVersion = "1.0";
  std::uint32_t vendorId = 0;
  std::uint32_t productCode = 0;
  std::uint32_t revision = 0;
  std::uint32_t serialNumber = 0;
};

struct GuardingDefaults {
  std::uint16_t guardTimeMs = 0;
  std::uint8_t lifeTimeFactor = 0;
};

void AddCommunicationObjects(ObjectDictionary& dictionary, NodeId node,
                             const NodeIdentity& identity, const GuardingDefaults& guarding);

}  // namespace vantor::sim::canopen
