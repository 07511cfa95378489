// PDO parameter writes as a master sends them (expedited SDO downloads), in
// the two orders that matter: the order of the kernel's PDO set-up and the
// CiA 301 order.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/can_frame.h"
#include "sim/canopen/pdo_engine.h"

namespace vantor::sim::canopen::nodetest {

struct ParameterWrite {
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  std::uint32_t value = 0;
  std::uint8_t size = 4;  // bytes: 1, 2 or 4
};

// A PDO's layout as a master sets it up.
struct PdoSetup {
  PdoDirection direction = PdoDirection::kReceive;
  int pdo = 1;
  std::uint32_t cobId = 0;
  std::vector<std::uint32_t> entries;
  std::uint8_t type = 0;
  std::uint16_t inhibit = 0;     // transmit PDOs only
  std::uint16_t eventTimer = 0;  // transmit PDOs only
};

inline ParameterWrite CommunicationWrite(const PdoSetup& setup, std::uint8_t subindex,
                                         std::uint32_t value, std::uint8_t size) {
  return {PdoCommunicationIndex(setup.direction, setup.pdo), subindex, value, size};
}

inline void AppendMapping(const PdoSetup& setup, std::vector<ParameterWrite>& writes) {
  const std::uint16_t mapping = PdoMappingIndex(setup.direction, setup.pdo);
  writes.push_back({mapping, 0, 0, 1});
  for (std::size_t i = 0; i < setup.entries.size(); ++i) {
    writes.push_back({mapping, static_cast<std::uint8_t>(i + 1), setup.entries[i], 4});
  }
  writes.push_back({mapping, 0, static_cast<std::uint32_t>(setup.entries.size()), 1});
}

// The kernel's PDO set-up from its normal entry: the COB-ID first, as it
// stays (valid); a transmit PDO's inhibit time and event timer; the mapping
// (count 0, the entries, the count); the transmission type last. The PDO
// stays valid throughout.
inline std::vector<ParameterWrite> KernelSetupOrder(const PdoSetup& setup) {
  std::vector<ParameterWrite> writes;
  writes.push_back(CommunicationWrite(setup, 1, setup.cobId, 4));
  if (setup.direction == PdoDirection::kTransmit) {
    writes.push_back(CommunicationWrite(setup, 3, setup.inhibit, 2));
    writes.push_back(CommunicationWrite(setup, 5, setup.eventTimer, 2));
  }
  AppendMapping(setup, writes);
  writes.push_back(CommunicationWrite(setup, 2, setup.type, 1));
  return writes;
}

// CiA 301: the PDO made invalid (COB-ID bit 31) before anything changes,
// then the communication parameters, the mapping, and the COB-ID valid last.
inline std::vector<ParameterWrite> InvalidFirstOrder(const PdoSetup& setup) {
  constexpr std::uint32_t kInvalid = 0x80000000u;
  std::vector<ParameterWrite> writes;
  writes.push_back(CommunicationWrite(setup, 1, setup.cobId | kInvalid, 4));
  writes.push_back(CommunicationWrite(setup, 2, setup.type, 1));
  if (setup.direction == PdoDirection::kTransmit) {
    writes.push_back(CommunicationWrite(setup, 3, setup.inhibit, 2));
    writes.push_back(CommunicationWrite(setup, 5, setup.eventTimer, 2));
  }
  AppendMapping(setup, writes);
  writes.push_back(CommunicationWrite(setup, 1, setup.cobId, 4));
  return writes;
}

// What the kernel's reset writes to every drive first: each PDO without
// entries and switched off by type 241, a transmit PDO with an inhibit time
// of 6.5 s, each on its predefined identifier.
inline std::vector<PdoSetup> KernelResetLayouts(std::uint8_t node) {
  constexpr std::uint8_t kSwitchedOff = 241;
  constexpr std::uint16_t kLongInhibit = 65000;
  std::vector<PdoSetup> layouts;
  for (int pdo = 1; pdo <= kPdoCount; ++pdo) {
    const auto offset = static_cast<std::uint32_t>(0x100 * (pdo - 1) + node);
    layouts.push_back({PdoDirection::kReceive, pdo, 0x200 + offset, {}, kSwitchedOff});
    layouts.push_back(
        {PdoDirection::kTransmit, pdo, 0x180 + offset, {}, kSwitchedOff, kLongInhibit, 0});
  }
  return layouts;
}

// Then the process data the kernel gives every drive: the controlword on
// receive PDO 1 (at SYNC), the interpolation set-points on receive PDO 2
// (at once), position, statusword and digital inputs on transmit PDO 1
// (every SYNC).
inline std::vector<PdoSetup> KernelDriveLayouts(std::uint8_t node) {
  return {
      {PdoDirection::kReceive, 1, 0x200u + node, {0x60400010}, 0},
      {PdoDirection::kReceive, 2, 0x300u + node, {0x60C10120, 0x60C10210, 0x60C10310}, 255},
      {PdoDirection::kTransmit, 1, 0x180u + node, {0x60640020, 0x60410010, 0x60FD0008}, 1, 10, 0},
  };
}

// The expedited download of `write` to node `node`, all 8 bytes.
inline CanFrame DownloadFrame(std::uint8_t node, const ParameterWrite& write) {
  CanFrame frame;
  frame.identifier = static_cast<std::uint16_t>(0x600 + node);
  frame.length = 8;
  frame.data = {static_cast<std::uint8_t>(0x23 | ((4 - write.size) << 2)),
                static_cast<std::uint8_t>(write.index),
                static_cast<std::uint8_t>(write.index >> 8),
                write.subindex,
                static_cast<std::uint8_t>(write.value),
                static_cast<std::uint8_t>(write.value >> 8),
                static_cast<std::uint8_t>(write.value >> 16),
                static_cast<std::uint8_t>(write.value >> 24)};
  return frame;
}

// What a node answered a download: 0 for the confirmation, the abort code
// for an abort, nullopt for anything else.
inline std::optional<std::uint32_t> DownloadOutcome(const CanFrame& answer) {
  if (answer.length != 8) return std::nullopt;
  if (answer.data[0] == 0x60) return 0;
  if (answer.data[0] != 0x80) return std::nullopt;
  return answer.data[4] | (answer.data[5] << 8) | (answer.data[6] << 16) |
         (static_cast<std::uint32_t>(answer.data[7]) << 24);
}

}  // namespace vantor::sim::canopen::nodetest
