// PDO engine of a simulated node: four receive and four transmit PDOs with
// dynamic mapping, synchronous (0, 1..240), remote-only (253) and
// event-driven (254, 255) transmission, inhibit time and event timer.
//
// The communication and mapping parameters live in the object dictionary
// and are validated when written, so the engine always reads a consistent
// layout from there; it keeps only the run-time state of each PDO.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "sim/can_frame.h"
#include "sim/can_station.h"
#include "sim/canopen/canopen_wire.h"
#include "sim/canopen/fault_injection.h"
#include "sim/canopen/node_log.h"
#include "sim/canopen/object_dictionary.h"
#include "sim/sim_time.h"

namespace vantor::sim::canopen {

constexpr int kPdoCount = 4;
constexpr std::uint8_t kMaxMappedObjects = 8;
constexpr unsigned kMaxPdoBits = 64;

// Transmission types.
namespace transmission {
constexpr std::uint8_t kSynchronousAcyclic = 0;  // TPDO: at SYNC when changed; RPDO: at SYNC
constexpr std::uint8_t kSynchronousLast = 240;   // 1..240: every n-th SYNC
constexpr std::uint8_t kReservedFirst = 241;     // 241..251: the PDO does nothing
constexpr std::uint8_t kReservedLast = 251;
constexpr std::uint8_t kSynchronousRemote = 252;  // not served
constexpr std::uint8_t kRemoteOnly = 253;
constexpr std::uint8_t kEventManufacturer = 254;
constexpr std::uint8_t kEventProfile = 255;
}  // namespace transmission

enum class PdoDirection : std::uint8_t { kReceive, kTransmit };

// How closely a client must keep to the CiA 301 order of PDO parameter
// writes: make the PDO invalid (COB-ID bit 31 set), change its parameters,
// clear the mapping count, write the entries, write the count, make the PDO
// valid again.
enum class PdoWriteOrder : std::uint8_t {
  // A valid PDO's COB-ID, transmission type, inhibit time and mapping may be
  // rewritten in place. The kernel's PDO set-up writes them this way.
  kChangesWhileValid,
  // A valid PDO's parameters keep their values: a write that would change
  // one is refused until the PDO is made invalid.
  kInvalidFirst,
};

std::uint16_t PdoCommunicationIndex(PdoDirection direction, int pdo);
std::uint16_t PdoMappingIndex(PdoDirection direction, int pdo);

// A mapping entry: index in the high 16 bits, subindex, bit length.
constexpr std::uint32_t MappingEntry(std::uint16_t index, std::uint8_t subindex,
                                     std::uint8_t bits) {
  return (std::uint32_t{index} << 16) | (std::uint32_t{subindex} << 8) | bits;
}

// What the engine needs from its node.
class PdoHost {
 public:
  virtual ~PdoHost() = default;
  virtual void SendPdo(const CanFrame& frame, NodeService service) = 0;
  // A receive PDO's data went into the dictionary.
  virtual void RpdoApplied(int pdo, SimTime now) = 0;
  // A receive PDO came with fewer bytes than its mapping needs.
  virtual void PdoLengthError(int pdo, SimTime now) = 0;
  // The time of the request being served (for the log of mapping changes).
  virtual SimTime Now() const = 0;
  // A transmit PDO is about to be sampled: values that follow time by
  // themselves are brought up to the present.
  virtual void RefreshReadings() = 0;
};

class PdoEngine {
 public:
  PdoEngine(ObjectDictionary& dictionary, NodeLog& log, PdoHost& host, NodeId node,
            PdoWriteOrder order);
  PdoEngine(const PdoEngine&) = delete;
  PdoEngine& operator=(const PdoEngine&) = delete;

  // Adds the communication and mapping objects of all eight PDOs, with the
  // predefined identifiers and empty mappings, and hooks their writes.
  void AddObjects();
  // A device model's default layout of one PDO (restored by resets).
  // False (and nothing changed) when the layout could not be mapped.
  bool SetDefaultLayout(PdoDirection direction, int pdo, std::span<const std::uint32_t> entries,
                        std::uint8_t transmissionType);

  // Forgets all run-time state (communication reset, leaving operational).
  void ResetRuntime();
  // Starts event timers and lets event-driven PDOs send their first value.
  void EnterOperational(SimTime now);

  // A frame received while operational: RPDO data, or a remote request for
  // a TPDO. False when the frame belongs to no PDO.
  bool HandleFrame(const CanFrame& frame, SimTime now);

  // At SYNC, first the buffered synchronous RPDOs take effect, then (after
  // the device had its turn) the synchronous TPDOs are sampled and sent.
  void ApplySynchronousRpdos(SimTime now);
  void TransmitSynchronousTpdos(SimTime now);

  // Event-driven TPDOs: on change (after the inhibit time) and on expiry of
  // their event timer.
  void Service(SimTime now);
  SimTime NextDeadline(SimTime now) const;

 private:
  struct TpdoRuntime {
    std::uint8_t syncCount = 0;
    bool hasSent = false;
    std::array<std::uint8_t, CanFrame::kMaxLength> lastSent{};
    SimTime inhibitUntil = 0;
    bool changePending = false;
    SimTime eventTimerDue = kNever;
  };
  struct RpdoRuntime {
    bool pending = false;
    std::array<std::uint8_t, CanFrame::kMaxLength> data{};
  };
  struct Layout {
    bool valid = false;  // in use, with a non-empty mapping and a served type
    std::uint16_t cobId = 0;
    bool remoteAllowed = true;
    std::uint8_t transmissionType = transmission::kEventProfile;
    std::uint8_t count = 0;
    std::array<std::uint32_t, kMaxMappedObjects> entries{};
    unsigned bytes = 0;
  };

  void AddPdoObjects(PdoDirection direction, int pdo);
  void HookPdoObjects(PdoDirection direction, int pdo);
  Layout ReadLayout(PdoDirection direction, int pdo) const;
  SdoAbortCode CheckMappingEntry(PdoDirection direction, std::uint32_t entry) const;
  SdoAbortCode CheckMappingCount(PdoDirection direction, int pdo, std::uint8_t count) const;
  SdoAbortCode CheckTransmissionType(PdoDirection direction, std::uint8_t type) const;
  // Under kInvalidFirst: `refusal` when the PDO is valid and the write would
  // change the bits of `frozen` in the stored value, else kNone.
  SdoAbortCode CheckChangeWhileValid(PdoDirection direction, int pdo, std::uint16_t index,
                                     std::uint8_t subindex, std::uint32_t value,
                                     std::uint32_t frozen, SdoAbortCode refusal) const;
  void LogMapping(PdoDirection direction, int pdo);

  // The TPDO's current data; false when a mapped object vanished.
  bool Sample(const Layout& layout, std::array<std::uint8_t, CanFrame::kMaxLength>& data) const;
  void Apply(int pdo, const Layout& layout, std::span<const std::uint8_t> data, SimTime now);
  void Transmit(int pdo, const Layout& layout, NodeService service, SimTime now);
  // Asks the host for fresh readings before a sample that may go out. A
  // value that only followed time is no change of its own for the
  // change-driven PDOs.
  void RefreshBeforeSampling();
  void ArmEventTimer(int pdo, const Layout& layout, SimTime now);

  ObjectDictionary& dictionary_;
  NodeLog& log_;
  PdoHost& host_;
  NodeId node_;
  PdoWriteOrder order_;
  bool operational_ = false;
  std::uint64_t checkedGeneration_ = 0;
  std::array<TpdoRuntime, kPdoCount> tpdos_{};
  std::array<RpdoRuntime, kPdoCount> rpdos_{};
};

}  // namespace vantor::sim::canopen
