// The per-node log: every SDO access, NMT event, PDO mapping change,
// emergency and ignored short frame, in the order they happened, so that tests can assert exact
// sequences of what a client did to a node.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <variant>
#include <vector>

#include "sim/canopen/canopen_wire.h"
#include "sim/sim_time.h"

namespace vantor::sim::canopen {

enum class SdoDirection : std::uint8_t { kUpload, kDownload };

// One SDO transfer, logged when it ends.
struct SdoAccess {
  SdoDirection direction = SdoDirection::kUpload;
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  std::uint32_t size = 0;   // bytes moved (or announced, for an aborted transfer)
  std::uint64_t value = 0;  // first (up to) 8 bytes, little-endian
  SdoAbortCode abort = SdoAbortCode::kNone;
  bool abortedByClient = false;
  friend bool operator==(const SdoAccess&, const SdoAccess&) = default;
};

// An NMT command addressed to the node, or the end of its boot (command
// absent: `fromBoot`).
struct NmtEvent {
  bool fromBoot = false;
  NmtCommand command = NmtCommand::kStart;
  NmtState from = NmtState::kInitialising;
  NmtState to = NmtState::kInitialising;
  friend bool operator==(const NmtEvent&, const NmtEvent&) = default;
};

// A PDO mapping that became active (count > 0) or was cleared (count 0).
struct MappingChange {
  std::uint16_t mappingIndex = 0;  // 0x1600.. or 0x1A00..
  std::uint8_t count = 0;
  std::array<std::uint32_t, 8> entries{};
  friend bool operator==(const MappingChange&, const MappingChange&) = default;
};

// An emergency the node raised (whether or not its state let it send it).
struct EmergencyEvent {
  std::uint16_t errorCode = 0;
  std::uint8_t errorRegister = 0;
  bool sent = false;
  friend bool operator==(const EmergencyEvent&, const EmergencyEvent&) = default;
};

// A frame addressed to the node that was too short for its command, and
// so ignored.
struct ShortFrame {
  std::uint16_t identifier = 0;
  std::uint8_t length = 0;  // data length code on the wire
  std::uint8_t needed = 0;  // bytes the command needs
  friend bool operator==(const ShortFrame&, const ShortFrame&) = default;
};

using NodeEventDetail =
    std::variant<SdoAccess, NmtEvent, MappingChange, EmergencyEvent, ShortFrame>;

struct NodeEvent {
  SimTime time = 0;
  NodeEventDetail detail;
};

// One line, without the time, e.g. "download 1400:01 4 0x00000201".
std::string Describe(const NodeEventDetail& detail);
std::string Describe(NmtState state);

class NodeLog {
 public:
  // The log keeps the newest entries; a long simulation must not grow
  // without bound, and tests look at short sequences.
  static constexpr std::size_t kCapacity = 4096;

  void Record(SimTime time, NodeEventDetail detail);
  void Clear();

  const std::deque<NodeEvent>& Events() const { return events_; }
  std::size_t Dropped() const { return dropped_; }
  // Describe() of every kept event, in order.
  std::vector<std::string> Lines() const;

 private:
  std::deque<NodeEvent> events_;
  std::size_t dropped_ = 0;
};

}  // namespace vantor::sim::canopen
